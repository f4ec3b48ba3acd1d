// Decoding arbitrary reply bytes: the text is always well-formed UTF-8
// without NUL, and a well-formed reply comes through unchanged up to its
// first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/reply.h"
#include "util/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string text = qm::decode_reply(in);
  if (!qm::IsValidUtf8(text)) std::abort();
  if (text.find('\0') != std::string::npos) std::abort();
  const std::string_view head = in.substr(0, in.find('\0'));
  if (qm::IsValidUtf8(head) && text != head) std::abort();
  // Reading a field of the decoded text never fails either.
  (void)qm::extract_between(text, "<nick>", "<");
  return 0;
}
