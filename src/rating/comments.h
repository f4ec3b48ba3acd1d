#pragma once
// The rating comments: the standing comment of the seller (one GBK text file
// per seller beside the program) and
// the per-order comments of "手动评价内容.ini" (section = order number, key
// "评价内容"). Texts are UTF-8 here, GBK on disk.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qm {

inline constexpr const char* kManualCommentFile = "手动评价内容.ini";
inline constexpr const char* kManualCommentKey = "评价内容";
inline constexpr const char* kDefaultAutoComment = "欢迎再次光临！";
// The comment of an order that has no entry in kManualCommentFile.
inline constexpr const char* kDefaultManualComment = "来而不往非礼也！";

// The platform takes a rating comment of at most this many characters.
inline constexpr std::size_t kCommentLimit = 500;
// Characters of UTF-8 text, as the platform counts them.
std::size_t CommentLength(const std::string& text);
// The comment as it is sent: without the line breaks and blanks (ASCII or the
// ideographic space) at its end that an editor leaves there.
std::string TrimmedComment(std::string text);

// The standing comment file of a seller: nick + "的自动评价内容.txt".
std::string AutoCommentFileName(const std::string& nick);

// Reads the seller's standing comment file (creating it with
// kDefaultAutoComment when missing) and stores its text (in the encoding
// DetectFileEncoding tells: GBK, UTF-8 or UTF-16; up to a first character 0
// or 0x1A; trimmed) in *text.
// False when the file cannot be read, and for an empty name or one holding a
// path separator. The run's lock is another file (RunLockFileName).
bool LoadAutoComment(const std::string& dir, const std::string& nick, std::string* text);
// The seller's comment file as LoadAutoComment reads it; none when it is
// missing or cannot be read (nothing is made).
std::optional<std::string> ReadAutoComment(const std::string& dir, const std::string& nick);
// Replaces the seller's comment file with `text`, whole or not at all, in
// the encoding the file has (a new or GBK file: GBK when it can hold the
// text, UTF-8 with a mark otherwise).
bool SaveAutoComment(const std::string& dir, const std::string& nick, const std::string& text);
// The seller's standing comments after the file's (Config.ini "评语2", ...),
// trimmed, empty ones left out.
std::vector<std::string> ReadMoreComments(const std::string& dir, const std::string& nick);
// Replaces them; false when one cannot be stored (a line break, a character
// GBK cannot hold) or the file cannot be written.
bool SaveMoreComments(const std::string& dir, const std::string& nick, const std::vector<std::string>& comments);

// Stores the comment for an order, replacing an earlier one. False, and
// nothing stored, when the order number or the text is empty or cannot be
// stored (a line break, a character GBK cannot hold: see WriteProfileString).
bool AddOrderComment(const std::string& dir, const std::string& tid, const std::string& text);

// The stored comment for an order; kDefaultManualComment when the order has
// no entry (an entry with an empty value gives the empty text).
std::string ReadManualComment(const std::string& dir, const std::string& tid);
// The stored comment for an order; none when it has no entry.
std::optional<std::string> StoredManualComment(const std::string& dir, const std::string& tid);

}  // namespace qm
