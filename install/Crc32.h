// CRC-32 of ZIP entries (the IEEE polynomial, reflected), computed incrementally.
#pragma once
#include <cstddef>
#include <cstdint>

// Continues `crc` (0 for a fresh start) over `size` bytes.
uint32_t UpdateCrc32(uint32_t crc, const uint8_t* data, size_t size);
