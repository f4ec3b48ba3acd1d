#include "rating/comments.h"

#include "settings/app_session.h"
#include "settings/profile.h"
#include "settings/profile_document.h"
#include "util/file_io.h"
#include "util/held_file.h"
#include "util/text_codec.h"

namespace qm {
namespace {

std::string ManualCommentPath() { return Session().PathOf(kManualCommentFile); }

// The standing comment is the file's text up to its first byte 0 or 0x1A.
std::string_view CommentBytes(std::string_view bytes) {
  const std::size_t end = bytes.find_first_of(std::string_view("\0\x1a", 2));
  return end == std::string_view::npos ? bytes : bytes.substr(0, end);
}

}  // namespace

std::string AutoCommentFileName(const std::string& nick) { return nick + "的自动评价内容.txt"; }

bool LoadAutoComment(const std::string& nick) {
  // The name becomes part of a file name beside the program: a name that
  // would lead out of the program directory never reaches the file system.
  if (nick.empty() || nick.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return false;
  const std::string path = Session().PathOf(AutoCommentFileName(nick));
  std::string bytes;
  FileReadStatus status = ReadWholeFile(path, &bytes);
  if (status == FileReadStatus::Missing) {
    if (!CreateFileWithContent(path, Utf8ToGbk(kDefaultAutoComment))) return false;
    status = ReadWholeFile(path, &bytes);
  }
  if (status != FileReadStatus::Ok) return false;
  Session().autoContent = LocalFileText(CommentBytes(bytes));
  return true;
}

bool AddOrderComment(const std::string& tid, const std::string& text) {
  if (tid.empty() || text.empty()) return false;
  return WriteProfileString(ManualCommentPath(), tid, kManualCommentKey, text);
}

std::string ReadManualComment(const std::string& tid) {
  if (tid.empty()) return kDefaultManualComment;
  std::string bytes;
  if (ReadWholeFile(ManualCommentPath(), &bytes) != FileReadStatus::Ok) return kDefaultManualComment;
  // An entry that exists with an empty value is the empty comment, not the default.
  return ProfileDocument::Parse(bytes)
      .Get(tid, kManualCommentKey, kProfileValueLimit)
      .value_or(std::string(kDefaultManualComment));
}

}  // namespace qm
