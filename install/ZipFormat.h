// The parts of the ZIP format that patch archives use, shared by the client's reader and the
// publishing tool's writer: record signatures, fixed record sizes, flags and methods.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zip_format {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kDirectorySignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kDirectoryRecordSize = 46;
constexpr size_t kLocalRecordSize = 30;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

}  // namespace zip_format
