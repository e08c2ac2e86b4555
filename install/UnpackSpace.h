// What unpacking an archive adds to the disk, from its central directory, before a byte is written.
#pragma once
#include <cstdint>
#include <optional>

// The bytes the unpack of `packedFile` needs free in the game folder (the current folder): what
// its files add beyond the files they replace, plus room for the largest one beside the file it
// replaces until the rename. In whole 4 KiB blocks, as file systems allocate them. Nothing when
// the archive cannot be opened (the unpack then fails on its own).
std::optional<uint64_t> UnpackSpaceNeeded(const char* packedFile);

// Whole 4 KiB blocks for `bytes`.
uint64_t DiskBlocksOf(uint64_t bytes);
