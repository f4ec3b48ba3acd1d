#pragma once
// The frame shared by the sandbox's web pages (login, consent, token page,
// rating page): UTF-8 HTML with a small style sheet.
#include <httplib.h>

#include <string>
#include <string_view>

#include "context.h"

namespace qm::sandbox {

// A whole page; body is HTML, title is plain text.
std::string HtmlPage(std::string_view title, std::string_view body);
inline constexpr const char* kHtmlContentType = "text/html; charset=utf-8";

// "http://HOST:PORT" as the browser addressed this server, so that
// redirects keep the host name it uses.
std::string RequestBase(const Context& ctx, const httplib::Request& req);

// An error page with a heading and a message.
void ErrorPage(httplib::Response& res, int status, std::string_view heading, std::string_view message);

}  // namespace qm::sandbox
