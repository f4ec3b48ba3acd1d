#pragma once
// The rating comments: the standing comment of the seller (one GBK text file
// per seller beside the program, held open and locked for the whole run) and
// the per-order comments of "手动评价内容.ini" (section = order number, key
// "评价内容"). Texts are UTF-8 here, GBK on disk.
#include <string>

namespace qm {

inline constexpr const char* kManualCommentFile = "手动评价内容.ini";
inline constexpr const char* kManualCommentKey = "评价内容";
inline constexpr const char* kDefaultAutoComment = "欢迎再次光临！";
// The comment of an order that has no entry in kManualCommentFile.
inline constexpr const char* kDefaultManualComment = "来而不往非礼也！";

// The standing comment file of a seller: nick + "的自动评价内容.txt".
std::string AutoCommentFileName(const std::string& nick);

// Opens the seller's standing comment file (creating it with
// kDefaultAutoComment when missing), keeps it open and exclusively locked
// until the process ends, and stores its text (up to a first byte 0 or 0x1A)
// in Session().autoContent. False when the file cannot be opened or is locked
// by another process, and for an empty name or one holding a path separator.
// Loading the same seller again in this process re-reads the file it holds.
bool LoadAutoComment(const std::string& nick);

// Stores the comment for an order, replacing an earlier one. False, and
// nothing stored, when the order number or the text is empty or cannot be
// stored (a line break, a character GBK cannot hold: see WriteProfileString).
bool AddOrderComment(const std::string& tid, const std::string& text);

// The stored comment for an order; kDefaultManualComment when the order has
// no entry (an entry with an empty value gives the empty text).
std::string ReadManualComment(const std::string& tid);

}  // namespace qm
