#include "config_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "text.h"

namespace qm::sandbox {

namespace {

bool ToGbk(const std::string& utf8, std::string* out) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* o = result.data();
  std::size_t outLeft = result.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - outLeft);
  *out = std::move(result);
  return true;
}

std::string Trim(const std::string& s) {
  const char* ws = " \t";
  std::size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool IsSectionLine(const std::string& line) { return !Trim(line).empty() && Trim(line)[0] == '['; }

std::string SectionName(const std::string& line) {
  std::string t = Trim(line);
  std::size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

std::string KeyOf(const std::string& line) {
  std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
}

}  // namespace

bool WriteSellerConfig(const std::string& path, const Seller& seller, std::string* error) {
  if (path.empty()) {
    *error = "no file name";
    return false;
  }
  std::string section;
  if (!ToGbk(seller.nick, &section)) {
    *error = "the seller's nick has no GBK form";
    return false;
  }
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::ostringstream ss;
      ss << in.rdbuf();
      text = ss.str();
    }
  }
  const bool crlf = text.empty() || text.find("\r\n") != std::string::npos;
  const std::string nl = crlf ? "\r\n" : "\n";
  std::vector<std::string> lines;
  {
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      if (end == std::string::npos) break;
      pos = end + 1;
    }
  }
  const std::pair<const char*, const std::string*> keys[] = {
      {"appkey", &seller.appKey}, {"AppSecret", &seller.appSecret}, {"SessionKey", &seller.session}};

  std::size_t start = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsSectionLine(lines[i]) && AsciiLower(SectionName(lines[i])) == AsciiLower(section)) {
      start = i;
      break;
    }
  }
  if (start == lines.size()) {
    while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
    lines.push_back("[" + section + "]");
    for (const auto& [key, value] : keys) lines.push_back(std::string(key) + "=" + *value);
  } else {
    std::size_t end = start + 1;
    while (end < lines.size() && !IsSectionLine(lines[end])) ++end;
    for (const auto& [key, value] : keys) {
      bool replaced = false;
      for (std::size_t i = start + 1; i < end; ++i) {
        if (AsciiLower(KeyOf(lines[i])) == AsciiLower(key)) {
          lines[i] = std::string(key) + "=" + *value;
          replaced = true;
          break;
        }
      }
      if (!replaced) {
        std::size_t at = end;
        while (at > start + 1 && Trim(lines[at - 1]).empty()) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::string(key) + "=" + *value);
        ++end;
      }
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line + nl;

  // The section holds the demo seller's secret and session key: the
  // temporary file is the owner's alone from its first byte.
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  {
    std::remove(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    std::size_t done = 0;
    while (fd >= 0 && done < out.size()) {
      const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    const bool written = fd >= 0 && done == out.size() && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!written) {
      *error = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = std::string("cannot replace the file: ") + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace qm::sandbox
