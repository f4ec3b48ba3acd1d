#include "html_page.h"

#include <cctype>

#include "text.h"

namespace qm::sandbox {

namespace {

const char* const kStyle =
    "body{font-family:'Noto Sans CJK SC','Microsoft YaHei',sans-serif;background:#f5f5f5;margin:0;color:#333}"
    ".top{background:#ff5000;color:#fff;padding:10px 24px;font-size:18px}"
    ".box{background:#fff;max-width:820px;margin:24px auto;padding:20px 28px;border-radius:6px;"
    "box-shadow:0 1px 4px rgba(0,0,0,.15)}"
    "input[type=text],input[type=password]{width:260px;padding:6px;margin:4px 0;border:1px solid #ccc}"
    "button{background:#ff5000;color:#fff;border:0;padding:7px 18px;border-radius:3px;cursor:pointer}"
    "button.cancel{background:#999}.error{color:#c00;margin:8px 0}.note{color:#666;font-size:13px}"
    "table{border-collapse:collapse;width:100%;font-size:13px}td,th{border-bottom:1px solid #eee;padding:5px;"
    "text-align:left;vertical-align:top}.good{color:#c40000}.neutral{color:#b8860b}.bad{color:#333}";

}  // namespace

std::string HtmlPage(std::string_view title, std::string_view body) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  page += XmlEscape(title);
  page += "</title><style>";
  page += kStyle;
  page += "</style></head><body><div class=\"top\">淘宝网 · 沙盒</div>\n";
  page += body;
  page += "\n</body></html>\n";
  return page;
}

std::string RequestBase(const Context& ctx, const httplib::Request& req) {
  std::string host = req.get_header_value("Host");
  // Only a plain host[:port] is echoed back into a redirect.
  bool plain = !host.empty();
  for (char c : host) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
      plain = false;
  }
  return plain ? "http://" + host : ctx.BaseUrl();
}

void ErrorPage(httplib::Response& res, int status, std::string_view heading, std::string_view message) {
  std::string body = "<div class=\"box\" id=\"J_Error\"><h2>";
  body += XmlEscape(heading);
  body += "</h2><p class=\"error\">";
  body += XmlEscape(message);
  body += "</p></div>";
  res.status = status;
  res.set_content(HtmlPage(heading, body), kHtmlContentType);
}

}  // namespace qm::sandbox
