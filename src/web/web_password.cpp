#include "web/web_password.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "settings/config.h"
#include "util/input_line.h"

namespace qm {
namespace {

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kFewestRounds = 100000;
constexpr int kMostRounds = 10000000;
constexpr std::size_t kLongestPassword = 1024;

std::string Hex(const unsigned char* bytes, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

bool FromHex(const std::string& text, std::vector<unsigned char>* out) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  out->clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<unsigned char>(hi << 4 | lo));
  }
  return true;
}

bool Derive(const std::string& password, const std::vector<unsigned char>& salt, int rounds, unsigned char* hash) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                           rounds, EVP_sha256(), kHashBytes, hash) == 1;
}

// One line from standard input; without echo when it is a terminal.
bool ReadSecretLine(const char* prompt, std::string* line) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  termios saved{};
  if (terminal) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const LineRead read = ReadInputLine(line, kLongestPassword);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return read == LineRead::Ok;
}

}  // namespace

std::string HashWebPassword(const std::string& password, int rounds) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), kSaltBytes) != 1) return {};
  unsigned char hash[kHashBytes];
  if (!Derive(password, salt, rounds, hash)) return {};
  return "pbkdf2-sha256$" + std::to_string(rounds) + "$" + Hex(salt.data(), salt.size()) + "$" + Hex(hash, kHashBytes);
}

bool WebPasswordMatches(const std::string& password, const std::string& stored) {
  // pbkdf2-sha256$ROUNDS$SALT$HASH
  const std::string head = "pbkdf2-sha256$";
  if (stored.rfind(head, 0) != 0) return false;
  const std::size_t a = head.size();
  const std::size_t b = stored.find('$', a);
  if (b == std::string::npos) return false;
  const std::size_t c = stored.find('$', b + 1);
  if (c == std::string::npos) return false;
  const std::string roundsText = stored.substr(a, b - a);
  if (roundsText.empty() || roundsText.size() > 8 || roundsText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int rounds = std::stoi(roundsText);
  std::vector<unsigned char> salt, expected;
  // A stored text with too few rounds is not ours: a hand-made weak hash does not open the page.
  if (rounds < kFewestRounds || rounds > kMostRounds || !FromHex(stored.substr(b + 1, c - b - 1), &salt) ||
      salt.size() < 8 || !FromHex(stored.substr(c + 1), &expected) || expected.size() != kHashBytes) {
    return false;
  }
  unsigned char hash[kHashBytes];
  if (!Derive(password, salt, rounds, hash)) return false;
  return CRYPTO_memcmp(hash, expected.data(), kHashBytes) == 0;
}

PasswordSet SetWebPassword(const std::string& dir, const std::string& nick) {
  std::string password, again;
  if (!ReadSecretLine("web page password: ", &password)) {
    std::fprintf(stderr, "quillmere-headless: no password was read\n");
    return PasswordSet::Refused;
  }
  if (password.size() < kShortestWebPassword) {
    std::fprintf(stderr, "quillmere-headless: the password needs at least %zu characters\n", kShortestWebPassword);
    return PasswordSet::Refused;
  }
  if (isatty(STDIN_FILENO) != 0) {
    if (!ReadSecretLine("again: ", &again) || again != password) {
      std::fprintf(stderr, "quillmere-headless: the two passwords differ; nothing was stored\n");
      return PasswordSet::Refused;
    }
  }
  const std::string stored = HashWebPassword(password);
  OPENSSL_cleanse(password.data(), password.size());
  if (stored.empty() || !WriteSetting(dir, nick, kKeyWebPassword, stored)) {
    std::fprintf(stderr, "quillmere-headless: the password could not be stored in %s\n", ConfigPath(dir).c_str());
    return PasswordSet::NotWritten;
  }
  std::printf("web page password stored for %s (only its salted hash, in %s)\n", nick.c_str(), ConfigPath(dir).c_str());
  return PasswordSet::Stored;
}

}  // namespace qm
