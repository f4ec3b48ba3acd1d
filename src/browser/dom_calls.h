#pragma once
// Small late-bound calls the driver's files share.
#include <chrono>

#include "util/com_object.h"

namespace qm {

// A walk over a collection stops here, whatever length the page reports.
inline constexpr int kCollectionLimit = 100000;

// A collection's "length", 0 when it has none, at most kCollectionLimit.
inline int LengthOf(const ComObject& collection) {
  const double n = collection.ReadProperty("length").ToNumber();
  if (!(n > 0)) return 0;
  return n > kCollectionLimit ? kCollectionLimit : static_cast<int>(n);
}

inline ComObject ItemOf(const ComObject& collection, int i) { return collection.ReadObject("item", {double(i)}); }

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace qm
