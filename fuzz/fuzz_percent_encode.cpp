// Form-body encoding of arbitrary text: the output holds only unreserved
// characters and well-formed escapes, and decoding it gives back the UTF-8
// bytes of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/reply.h"

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits are not written
}
bool Unreserved(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
         c == '_';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string encoded = qm::percent_encode(in);
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '%') {
      if (i + 2 >= encoded.size()) std::abort();
      const int hi = HexValue(encoded[i + 1]);
      const int lo = HexValue(encoded[i + 2]);
      if (hi < 0 || lo < 0) std::abort();
      decoded += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (Unreserved(c)) {
      decoded += c;
    } else {
      std::abort();
    }
  }
  if (decoded != qm::to_utf8(in)) std::abort();
  return 0;
}
