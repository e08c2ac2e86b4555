// The parts of the ZIP format that patch archives use, shared by the client's reader and the
// publishing tool's writer: record signatures, fixed record sizes, flags and methods.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zip_format {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kDirectorySignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;  // optional in front of a data descriptor
constexpr size_t kEndRecordSize = 22;
constexpr size_t kDirectoryRecordSize = 46;
constexpr size_t kLocalRecordSize = 30;
constexpr size_t kDescriptorSize = 12;  // CRC-32, compressed and uncompressed size; 16 with the signature
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDeflateOptions = 0x0006;  // the level the writer chose; nothing to read differently
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data (and are in the directory)
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodDeflate64 = 9;  // what 7-Zip and Windows write for large files; not read here
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;  // a 32-bit field whose real value is in the ZIP64 extra

}  // namespace zip_format
