// Feeds arbitrary bytes to the profile parser: serialising must give the bytes
// back unchanged, and an edit must read back as written without disturbing
// what a later read of another key sees.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/profile.h"
#include "settings/profile_document.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qm::ProfileDocument doc = qm::ProfileDocument::Parse(bytes);
  Check(doc.Serialize() == bytes);

  const auto names = doc.SectionNames();
  for (const auto& name : names) {
    (void)doc.Get(name, "appkey", qm::kProfileValueLimit);
  }
  const std::string section = names.empty() ? std::string("s") : names.front();
  if (!qm::IsStorableProfileName(section) || !doc.CanStore(section)) return 0;
  const auto other = doc.Get(section, "AppSecret", 1u << 30);
  const std::string value = "  v=\"1\" ";
  if (!doc.CanStore(value)) return 0;
  doc.Set(section, "appkey", value);
  qm::ProfileDocument again = qm::ProfileDocument::Parse(doc.Serialize());
  Check(again.Get(section, "APPKEY", 1u << 30).value_or("") == value);
  Check(again.Get(section, "AppSecret", 1u << 30) == other);
  return 0;
}
