#include "xml_reply.h"

#include "text.h"

namespace qm::sandbox {

XmlWriter::XmlWriter(bool pretty) : pretty_(pretty) {
  out_.reserve(4096);
  out_ = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
}

void XmlWriter::Indent() {
  if (!pretty_) return;
  out_ += '\n';
  out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
}

void XmlWriter::Open(std::string_view name, std::string_view attributes) {
  Indent();
  out_ += '<';
  out_ += name;
  if (!attributes.empty()) {
    out_ += ' ';
    out_ += attributes;
  }
  out_ += '>';
  ++depth_;
}

void XmlWriter::Close(std::string_view name) {
  --depth_;
  Indent();
  out_ += "</";
  out_ += name;
  out_ += '>';
}

void XmlWriter::Element(std::string_view name, std::string_view value) {
  Open(name);
  Indent();
  AppendXmlEscaped(out_, value);
  Close(name);
}

std::string ErrorXml(int code, std::string_view msg, std::string_view subCode, std::string_view subMsg,
                     bool pretty) {
  XmlWriter w(pretty);
  w.Open("error_response");
  w.Element("code", std::to_string(code));
  w.Element("msg", msg);
  if (!subCode.empty()) w.Element("sub_code", subCode);
  if (!subMsg.empty()) w.Element("sub_msg", subMsg);
  w.Close("error_response");
  return w.Text();
}

}  // namespace qm::sandbox
