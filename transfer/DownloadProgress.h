// The arithmetic of the two progress bars: received bytes in thousandths of a size, truncated.
#pragma once
#include <cstdint>

namespace transfer {

constexpr int kBarFull = 1000;

// Computed in integers: the same truncated thousandths as bytes ÷ (size × 0.001), without the
// rounding error of 0.001 that leaves one file size in four at 999 when it is complete. A zero
// size or a count beyond the size shows a full bar.
inline int BarPosition(uint64_t bytes, uint64_t size) {
  if (size == 0) return bytes > 0 ? kBarFull : 0;
  if (bytes >= size) return kBarFull;
  return static_cast<int>(bytes * kBarFull / size);
}

}  // namespace transfer
