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

// The standing comment file of a seller: nick + "的自动评价内容.txt".
std::string AutoCommentFileName(const std::string& nick);

// Opens the seller's standing comment file (creating it with
// kDefaultAutoComment when missing), keeps it open and exclusively locked
// until the process ends, and stores its text in Session().autoContent.
// False when the file cannot be opened or is locked by another process.
bool LoadAutoComment(const std::string& nick);

// Stores the comment for an order, replacing an earlier one. False when the
// order number or the text is empty or cannot be stored.
bool AddOrderComment(const std::string& tid, const std::string& text);

// The stored comment for an order; empty when there is none.
std::string ReadManualComment(const std::string& tid);

}  // namespace qm
