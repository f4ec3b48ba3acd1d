#include "util/local_time.h"

namespace qm {

std::string LocalTimeOfDay(std::time_t when) {
  std::tm local{};
  // The thread-safe conversion has one name per system (and its arguments swapped).
#ifdef _WIN32
  if (localtime_s(&local, &when) != 0) return "--:--:--";
#else
  if (localtime_r(&when, &local) == nullptr) return "--:--:--";
#endif
  char stamp[16];
  return std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local) == 0 ? "--:--:--" : stamp;
}

}  // namespace qm
