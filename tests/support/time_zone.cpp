#include "support/time_zone.h"

#include <cstdlib>
#include <ctime>

namespace qm::test {

ScopedTimeZone::ScopedTimeZone(const std::string& zone) {
  if (const char* old = std::getenv("TZ")) saved_ = old;
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (saved_)
    ::setenv("TZ", saved_->c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

int ScopedTimeZone::LocalOffsetHours(long long epochSeconds) {
  const auto t = static_cast<std::time_t>(epochSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<int>(local.tm_gmtoff / 3600);
}

}  // namespace qm::test
