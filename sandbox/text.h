#pragma once
// Small text helpers of the sandbox marketplace: escaping for XML and HTML,
// form and URL decoding as a browser does it, the MD5 of the signature check,
// and the platform's 19-character Beijing time texts. The sandbox keeps its
// own copies on purpose: it shares no code with the client it answers.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::sandbox {

// Escapes &, <, >, " and ' so that the text is safe inside an element or an
// attribute value (XML and HTML alike).
std::string XmlEscape(std::string_view text);
void AppendXmlEscaped(std::string& out, std::string_view text);

// Percent-decoding; with plusIsSpace, '+' means a space (form bodies and
// queries). A '%' not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text, bool plusIsSpace);
// Percent-encoding of everything but letters, digits and "-._~".
std::string PercentEncode(std::string_view text);

// An application/x-www-form-urlencoded body as a browser's server reads it:
// pairs split at '&', name and value at the first '=', both decoded.
using FormFields = std::vector<std::pair<std::string, std::string>>;
FormFields ParseForm(std::string_view body);
// The first value of a name, or nothing.
std::optional<std::string> FormValue(const FormFields& fields, std::string_view name);

// Upper-case hexadecimal MD5 digest of the bytes.
std::string Md5UpperHex(std::string_view bytes);

bool IsValidUtf8(std::string_view text);
// Number of code points of valid UTF-8 text.
std::size_t Utf8Length(std::string_view text);

// "YYYY-MM-DD hh:mm:ss" in Beijing time, as the platform writes its times.
std::string FormatBeijingTime(std::time_t t);
// The HTTP date of `t` ("Sun, 06 Nov 1994 08:49:37 GMT"), as every reply's Date header carries it.
std::string FormatHttpDate(std::time_t t);
// The reverse; nothing unless the text has exactly that form and is a real
// date and time (years from 1900, seconds up to 59).
std::optional<std::time_t> ParseBeijingTime(std::string_view text);

// Decimal digits only, at least one.
bool IsDigits(std::string_view text);

// Lower-case copy (ASCII letters only).
std::string AsciiLower(std::string_view text);

}  // namespace qm::sandbox
