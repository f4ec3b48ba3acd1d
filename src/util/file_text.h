#pragma once
// The encodings of the files the program shares with its Windows original
// (Config.ini, 手动评价内容.ini, the standing comment, the keep list): GBK, the
// local code page, unless the file says otherwise. A file starting with a
// byte order mark is what the mark says (Notepad's "Unicode" is UTF-16 LE,
// its "Unicode big endian" UTF-16 BE). A file without a mark is UTF-8 only
// when its bytes are valid UTF-8, hold a character of three or four bytes,
// and read more like text as UTF-8 than as GBK: a short GBK name can be valid
// UTF-8 by chance (皓辰 is F0 A9 B3 BD in GBK, in UTF-8 the one rare
// character U+29CFD), but as GBK it is two plain characters, so it stays GBK.
#include <string>
#include <string_view>

namespace qm {

enum class FileEncoding {
  Gbk,
  Utf8,     // no byte order mark
  Utf8Bom,  // EF BB BF
  Utf16Le,  // FF FE
  Utf16Be,  // FE FF
  Unknown,  // a UTF-32 mark: nothing here reads or writes it
};

FileEncoding DetectFileEncoding(std::string_view bytes);
// The bytes as UTF-8 text, read in `encoding`, without its byte order mark.
// Broken sequences become U+FFFD; an unknown encoding reads as empty.
std::string DecodeFileText(std::string_view bytes, FileEncoding encoding);
// `utf8` in `encoding`, with the mark the encoding has. Characters GBK lacks
// become '?' (see Utf8ToGbk); an unknown encoding gives nothing.
std::string EncodeFileText(std::string_view utf8, FileEncoding encoding);
// True when `encoding` can hold `utf8` exactly.
bool FileEncodingCanHold(std::string_view utf8, FileEncoding encoding);

// DetectFileEncoding(bytes) is UTF-8, with or without a mark.
bool LooksLikeUtf8File(std::string_view bytes);
// The file's text as UTF-8 in the encoding DetectFileEncoding tells.
std::string LocalFileText(std::string_view bytes);

}  // namespace qm
