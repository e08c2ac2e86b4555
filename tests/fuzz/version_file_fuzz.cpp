// Arbitrary bytes as "VersionInfo2.dat" and as a version text from the server: the scan and the
// version arithmetic must neither crash nor hit undefined behaviour (float to integer, overflow).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"
#include "pipeline/VersionRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pipeline;
  // The file as the thread reads it: a stream scanned with the C library.
  std::vector<char> bytes(data, data + size);
  bytes.push_back('\0');  // fmemopen needs one byte at least; the scan ends before it
  LocalVersions local;
  if (FILE* file = fmemopen(bytes.data(), size ? size : 1, "r")) {
    local = ScanLocalVersions(file);
    std::fclose(file);
  }
  // A server text ends at its first zero, as it comes out of a frame.
  const std::string text(bytes.data(), std::strlen(bytes.data()));
  const float server = ServerVersion(text);
  const float dotted = DottedVersion(text);
  for (float file : {local.launcher, local.client, local.patchLevel, local.music, 0.0f}) {
    for (float reg : {0.0f, server, dotted, local.patchLevel}) {
      // The start level goes out as 16 bits of its hundredths; the number must exist first.
      volatile int64_t level = Hundredths(file) + Hundredths(reg);
      (void)level;
      (void)UpdateNeeded(file, reg, server);
      (void)UpdateNeeded(file, reg, dotted);
    }
  }
  std::string field;
  for (int pos = 0; pos <= static_cast<int>(text.size());)
    pos = CPatchClientDlg::NextDottedField(field, text, pos);
  return 0;
}
