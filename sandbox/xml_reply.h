#pragma once
// Building the platform's XML replies: UTF-8, every value escaped, optionally
// "pretty" (each tag on a line of its own and every value on its own indented
// line, as some platform front ends answer).
#include <string>
#include <string_view>

namespace qm::sandbox {

class XmlWriter {
 public:
  explicit XmlWriter(bool pretty);
  void Open(std::string_view name, std::string_view attributes = {});
  void Close(std::string_view name);
  // <name>escaped value</name>
  void Element(std::string_view name, std::string_view value);
  // Bytes as they are, unescaped (for replies that must be malformed).
  void Raw(std::string_view bytes) { out_ += bytes; }
  const std::string& Text() const { return out_; }

 private:
  void Indent();
  bool pretty_;
  int depth_ = 0;
  std::string out_;
};

// An error_response with code and msg (and sub_code, sub_msg when given).
std::string ErrorXml(int code, std::string_view msg, std::string_view subCode, std::string_view subMsg,
                     bool pretty);

inline constexpr const char* kXmlContentType = "text/xml;charset=UTF-8";

}  // namespace qm::sandbox
