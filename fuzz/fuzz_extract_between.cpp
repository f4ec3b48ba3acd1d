// Reading fields out of arbitrary replies with arbitrary markers: the result
// is always the text right after the first opening marker up to the first
// closing marker after it, and walking repeated elements always ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t openLength = static_cast<unsigned char>(in[0]) % 12;
  const std::size_t closeLength = static_cast<unsigned char>(in[1]) % 4;
  in.remove_prefix(2);
  if (in.size() < openLength + closeLength) return 0;
  const std::string_view open = in.substr(0, openLength);
  const std::string_view close = in.substr(openLength, closeLength);
  const std::string_view text = in.substr(openLength + closeLength);

  const std::string value = qm::extract_between(text, open, close);
  const std::size_t at = text.find(open);
  if (at == std::string_view::npos) {
    if (!value.empty()) std::abort();
  } else {
    const std::size_t start = at + open.size();
    const std::size_t end = text.find(close, start);
    if (end == std::string_view::npos) {
      if (!value.empty()) std::abort();
    } else if (value != text.substr(start, end - start)) {
      std::abort();
    }
  }

  // Walking: each step moves forward (empty markers match in place), and the walk ends.
  std::size_t pos = 0;
  std::size_t steps = 0;
  while (pos != std::string::npos) {
    const std::size_t before = pos;
    qm::extract_between_from(text, open, close, &pos);
    if (pos == std::string::npos) break;
    if (pos > text.size()) std::abort();
    if (pos <= before) {
      if (open.empty() && close.empty()) break;
      std::abort();
    }
    if (++steps > text.size() + 1) std::abort();
  }
  return 0;
}
