#include "install/Crc32.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

// Eight tables so that the loop takes eight bytes per step; a byte-wise table runs at a fraction
// of the inflater's speed and would dominate the time of stored entries.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t t = 1; t < 8; ++t) tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
  }
  return tables;
}

constexpr CrcTables kTables = MakeTables();

}  // namespace

uint32_t UpdateCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  uint32_t c = ~crc;
  while (size >= 8) {
    uint32_t low, high;
    std::memcpy(&low, data, 4);
    std::memcpy(&high, data + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = __builtin_bswap32(low);
      high = __builtin_bswap32(high);
    }
    low ^= c;
    c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
        kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    data += 8;
    size -= 8;
  }
  while (size--) c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  return ~c;
}
