// The arithmetic of the two progress bars: received bytes in thousandths of a size.
#pragma once
#include <cstdint>

namespace transfer {

constexpr int kBarFull = 1000;

// `scale` is the size × 0.001. The quotient is truncated toward zero and kept within the bar's
// range, so a zero size or a count beyond the size shows a full bar rather than an overflow.
inline int BarPosition(uint64_t bytes, double scale) {
  if (!(scale > 0.0)) return bytes > 0 ? kBarFull : 0;
  double quotient = static_cast<double>(bytes) / scale;
  if (quotient >= kBarFull) return kBarFull;
  return static_cast<int>(quotient);
}

}  // namespace transfer
