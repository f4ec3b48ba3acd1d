#pragma once
// The web page's password. It is kept in the seller's section of Config.ini
// only as a salted PBKDF2-HMAC-SHA256 hash ("pbkdf2-sha256$ROUNDS$SALT$HASH",
// salt and hash in hex), never as the password itself.
#include <string>

namespace qm {

inline constexpr const char* kKeyWebPassword = "网页密码";
// Host names the page also answers to, for a reverse proxy in front of it:
// comma-separated, each with or without ":port".
inline constexpr const char* kKeyWebHosts = "网页域名";
// Addresses of the reverse proxies whose X-Forwarded-Proto is believed:
// comma-separated; the machine itself when missing.
inline constexpr const char* kKeyWebProxies = "网页代理";
inline constexpr int kWebPasswordRounds = 600000;
inline constexpr std::size_t kShortestWebPassword = 8;

// The stored form of `password` with a fresh random salt; empty when the
// random source failed.
std::string HashWebPassword(const std::string& password, int rounds = kWebPasswordRounds);
// True when `password` is the one `stored` was made from. A stored text that
// is not one of ours matches nothing.
bool WebPasswordMatches(const std::string& password, const std::string& stored);

// --set-web-password: reads the password twice from the terminal without
// echo (or once from standard input when it is not a terminal) and stores
// its hash in the seller's section of the Config.ini in `dir`. Says what happened on standard
// error (or output, once stored).
enum class PasswordSet { Stored, Refused, NotWritten };
PasswordSet SetWebPassword(const std::string& dir, const std::string& nick);

}  // namespace qm
