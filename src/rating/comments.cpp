#include "rating/comments.h"

#include "settings/app_session.h"
#include "settings/config.h"
#include "settings/profile.h"
#include "settings/profile_document.h"
#include "util/file_io.h"
#include "util/file_text.h"
#include "util/held_file.h"
#include "util/text_codec.h"

namespace qm {
namespace {

std::string ManualCommentPath(const std::string& dir) { return PathIn(dir, kManualCommentFile); }

// The standing comment is the file's text up to its first byte 0 or 0x1A.
std::string_view CommentBytes(std::string_view bytes) {
  const std::size_t end = bytes.find_first_of(std::string_view("\0\x1a", 2));
  return end == std::string_view::npos ? bytes : bytes.substr(0, end);
}

// The seller's comment file; none for a name that would lead out of the
// program directory, which never reaches the file system.
std::optional<std::string> AutoCommentPath(const std::string& dir, const std::string& nick) {
  if (nick.empty() || nick.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return std::nullopt;
  return PathIn(dir, AutoCommentFileName(nick));
}

// The file's text as the program uses it.
std::string CommentFileText(std::string_view bytes) {
  const FileEncoding encoding = DetectFileEncoding(bytes);
  if (encoding == FileEncoding::Utf16Le || encoding == FileEncoding::Utf16Be) {
    // Every ASCII character of UTF-16 has a zero byte: there the text ends at
    // its first zero character instead.
    const std::string text = DecodeFileText(bytes, encoding);
    return TrimmedComment(std::string(CommentBytes(text)));
  }
  return TrimmedComment(LocalFileText(CommentBytes(bytes)));
}

}  // namespace

std::size_t CommentLength(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string TrimmedComment(std::string text) {
  static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  for (;;) {
    if (!text.empty() && std::string_view(" \t\r\n\v\f").find(text.back()) != std::string_view::npos) {
      text.pop_back();
    } else if (std::string_view(text).substr(text.size() >= 3 ? text.size() - 3 : 0) == kIdeographicSpace) {
      text.resize(text.size() - 3);
    } else {
      return text;
    }
  }
}

std::string AutoCommentFileName(const std::string& nick) { return nick + "的自动评价内容.txt"; }

bool LoadAutoComment(const std::string& dir, const std::string& nick, std::string* text) {
  const std::optional<std::string> file = AutoCommentPath(dir, nick);
  if (!file) return false;
  const std::string& path = *file;
  std::string bytes;
  FileReadStatus status = ReadWholeFile(path, &bytes);
  if (status == FileReadStatus::Missing) {
    if (!CreateFileWithContent(path, Utf8ToGbk(kDefaultAutoComment))) return false;
    status = ReadWholeFile(path, &bytes);
  }
  if (status != FileReadStatus::Ok) return false;
  *text = CommentFileText(bytes);
  return true;
}

std::optional<std::string> ReadAutoComment(const std::string& dir, const std::string& nick) {
  const std::optional<std::string> path = AutoCommentPath(dir, nick);
  std::string bytes;
  if (!path || ReadWholeFile(*path, &bytes) != FileReadStatus::Ok) return std::nullopt;
  return CommentFileText(bytes);
}

bool SaveAutoComment(const std::string& dir, const std::string& nick, const std::string& text) {
  const std::optional<std::string> path = AutoCommentPath(dir, nick);
  if (!path || !IsValidUtf8(text)) return false;
  // The file stays in the encoding it was saved in (UTF-16 from Notepad,
  // UTF-8 from another editor); a GBK or new file is GBK while GBK holds the
  // text. Whatever would not read back as written is UTF-8 with a mark.
  std::string old;
  FileEncoding encoding = FileEncoding::Gbk;
  if (ReadWholeFile(*path, &old) == FileReadStatus::Ok) encoding = DetectFileEncoding(old);
  std::string bytes = EncodeFileText(text, encoding);
  if (!FileEncodingCanHold(text, encoding) || LocalFileText(bytes) != text) {
    bytes = EncodeFileText(text, FileEncoding::Utf8Bom);
  }
  return ReplaceFileAtomically(*path, bytes);
}

std::vector<std::string> ReadMoreComments(const std::string& dir, const std::string& nick) {
  std::vector<std::string> comments;
  for (int i = 2; i <= kMostStandingComments; ++i) {
    std::string text = TrimmedComment(ReadSetting(dir, nick, kKeyMoreComment + std::to_string(i)));
    if (!text.empty()) comments.push_back(std::move(text));
  }
  return comments;
}

bool SaveMoreComments(const std::string& dir, const std::string& nick, const std::vector<std::string>& comments) {
  if (comments.size() + 1 > static_cast<std::size_t>(kMostStandingComments)) return false;
  for (const std::string& text : comments) {
    if (text.find_first_of("\r\n") != std::string::npos || !GbkCanHold(text) || !IsStorableProfileValue(text)) return false;
  }
  for (int i = 2; i <= kMostStandingComments; ++i) {
    const std::string key = kKeyMoreComment + std::to_string(i);
    const std::size_t at = static_cast<std::size_t>(i - 2);
    if (!(at < comments.size() ? WriteSetting(dir, nick, key, comments[at]) : RemoveSetting(dir, nick, key))) return false;
  }
  return true;
}

bool AddOrderComment(const std::string& dir, const std::string& tid, const std::string& text) {
  if (tid.empty() || text.empty()) return false;
  return WriteProfileString(ManualCommentPath(dir), tid, kManualCommentKey, text);
}

std::string ReadManualComment(const std::string& dir, const std::string& tid) {
  // An entry that exists with an empty value is the empty comment, not the default.
  return StoredManualComment(dir, tid).value_or(std::string(kDefaultManualComment));
}

std::optional<std::string> StoredManualComment(const std::string& dir, const std::string& tid) {
  if (tid.empty()) return std::nullopt;
  std::string bytes;
  if (ReadWholeFile(ManualCommentPath(dir), &bytes) != FileReadStatus::Ok) return std::nullopt;
  return ProfileDocument::Parse(bytes).Get(tid, kManualCommentKey, kProfileValueLimit);
}

}  // namespace qm
