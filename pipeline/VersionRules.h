// The version arithmetic of the update plan: hundredths, the need rule, dotted version texts and
// the optional local version file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace pipeline {

// H(v) = ceil(100·v − 0.5), in double precision. Versions are compared only through this value.
// Texts from the server are untrusted, so infinities and NaN are bounded instead of overflowing.
int64_t Hundredths(float value);

// Whether an item must be updated, given its value in the local version file (0 when absent),
// in the registry, and on the server.
bool UpdateNeeded(float fileValue, float regValue, float serverValue);

// "1.2.3" is 1.23 and "0.9.10" is 1.0 when the first two parts end exactly at position 3;
// any other text is read as one decimal number ("1.25", "10.2.3" → 10.2).
float DottedVersion(const std::string& text);

// The four values of "VersionInfo2.dat" (launcher, patch client, data patch level, music list);
// every value the file does not give stays 0.
struct LocalVersions {
  float launcher = 0, client = 0, patchLevel = 0, music = 0;
};
LocalVersions ReadLocalVersions(const std::string& path);
// The same from an open stream, read from its start.
LocalVersions ScanLocalVersions(std::FILE* file);

// The C library's atof, as the server's version texts are read.
float ServerVersion(const std::string& text);

}  // namespace pipeline
