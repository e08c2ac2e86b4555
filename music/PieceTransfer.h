// The retry of a failed whole-size read or write in pieces of 65535 bytes.
#pragma once
#include <cstdint>

constexpr uint32_t kTransferPiece = 0xFFFF;

// `call(pointer, count)` moves up to count bytes and answers the number moved, or a negative
// value on failure. One call for the whole count is tried first; when it fails and the count is
// above one piece, the transfer is repeated from the current position in pieces. The pointer
// advances by a full piece even when a piece moves fewer bytes, as the callers expect.
// Returns the bytes moved, 0 on any failure.
template <class Byte, class Call>
uint32_t TransferWithPieceFallback(Byte* buffer, uint32_t count, Call call) {
  int64_t whole = call(buffer, count);
  if (whole >= 0) return uint32_t(whole);
  if (count <= kTransferPiece) return 0;
  uint32_t total = 0;
  uint32_t remaining = count;
  while (remaining > kTransferPiece) {
    int64_t moved = call(buffer, kTransferPiece);
    if (moved < 0) return 0;
    total += uint32_t(moved);
    buffer += kTransferPiece;
    remaining -= kTransferPiece;
  }
  int64_t last = call(buffer, remaining);
  if (last < 0) return 0;
  return total + uint32_t(last);
}
