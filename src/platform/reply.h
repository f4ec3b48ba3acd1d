#pragma once
// The text operations of every platform exchange. Inside the program text is
// UTF-8 in std::string; bytes travel in std::string as well.
#include <string>
#include <string_view>

namespace qm {

// A UTF-8 reply body as program text: every invalid sequence becomes U+FFFD,
// and the text ends at the first NUL. Never fails.
std::string decode_reply(std::string_view bytes);
// The same without the cut: every NUL becomes U+FFFD as well, so that a stray
// zero byte costs one character instead of the rest of the reply (the pages of
// a listing, which are read to their end).
std::string DecodeWholeReply(std::string_view bytes);

// The text between the first `open` and the first `close` after it, unchanged
// (no entity decoding, no trimming); empty when either marker is missing.
std::string extract_between(std::string_view text, std::string_view open, std::string_view close);
// The same, searching from `*pos` and leaving `*pos` just past the closing
// marker (npos when not found), for walking repeated elements in linear time.
std::string extract_between_from(std::string_view text, std::string_view open, std::string_view close,
                                 std::size_t* pos);

// Program text to UTF-8 bytes, ending before the first NUL.
std::string to_utf8(std::string_view text);

// Form-body encoding of a free text (the rating comment): digits, letters and
// ". - _" unchanged; a byte above 126 is written with the byte after it as
// two escapes; every other byte as "%XX" (upper-case hex).
std::string percent_encode(std::string_view text);

// True when the text holds the element's opening tag and, after it, its
// closing tag: a whole answer, not one cut off on the way.
bool CompleteElement(const std::string& text, const std::string& name);

}  // namespace qm
