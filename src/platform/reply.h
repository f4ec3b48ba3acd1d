#pragma once
// The text operations of every platform exchange. Inside the program text is
// UTF-8 in std::string; bytes travel in std::string as well.
#include <optional>
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

// What a whole error reply of the platform ("<error_response>") says; a text
// that holds none is no error reply. The key is refused only where the
// platform says so of the credentials; a call limit and the platform's own
// trouble say nothing about the key or the call, and pass.
enum class ErrorReply {
  None,             // no whole error reply
  KeyRefused,       // the session key, the application key or the signature (codes 25-29, a session-key sub-code)
  ClockRefused,     // the request's timestamp (codes 30, 31): the clocks disagree
  CallLimited,      // "App Call Limited" (code 7, "accesscontrol.*")
  PlatformTrouble,  // the service unavailable (10), a remote service's failure (15, "isp.*")
  Refused,          // any other ("isv.*" among them): the call itself was refused
};
ErrorReply ClassifyErrorReply(const std::string& text);

// A call limit of the platform, read from its error reply.
struct CallLimit {
  // The application's calls of the day are used up
  // ("accesscontrol.limited-by-app-access-count"); otherwise a ban of one method.
  bool daily = false;
  // What "This ban will last for N more seconds" says; -1 when it says nothing.
  long long seconds = -1;
};
// The call limit a whole error reply announces; nullopt for any other text.
std::optional<CallLimit> ReadCallLimit(const std::string& text);

// The fields of the platform's error reply (each trimmed of blanks; empty
// when missing).
struct PlatformError {
  std::string code, msg, subCode, subMsg;
  // "msg (sub_code)", or as much of it as there is: for the seller's lines.
  std::string Text() const;
};
PlatformError ReadPlatformError(const std::string& text);

// What a gateway reply says, for whoever must tell a key the platform refuses
// from trouble that passes by itself: ClassifyErrorReply seen from the start
// of a run, where only an answer about the credentials refuses the key and
// everything else is waited out.
enum class ReplyKind {
  Answer,        // the whole answer element asked for
  KeyRefused,    // ErrorReply::KeyRefused
  ClockRefused,  // ErrorReply::ClockRefused
  Trouble,       // any other error reply of the platform: a call limit or ban, its own failure, a gateway's
                 // error element (a 502 in the platform's reply shape), a method not granted, a refused call
  NoAnswer,      // nothing whole: no reply, a cut-off one, a page that is not the platform's (a
                 // portal's login page, a proxy's error page)
};
ReplyKind ClassifyReply(const std::string& text, const std::string& answerElement);

}  // namespace qm
