#include "pipeline/VersionRules.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/PatchClientDlg.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace pipeline {

int64_t Hundredths(float value) {
  double h = std::ceil(100.0 * static_cast<double>(value) - 0.5);
  if (std::isnan(h)) return 0;
  constexpr double kBound = 1e15;
  if (h > kBound) return static_cast<int64_t>(kBound);
  if (h < -kBound) return static_cast<int64_t>(-kBound);
  return static_cast<int64_t>(h);
}

bool UpdateNeeded(float fileValue, float regValue, float serverValue) {
  const int64_t server = Hundredths(serverValue);
  if (fileValue != 0.0f) return Hundredths(fileValue) < server && Hundredths(regValue) < server;
  return regValue == 0.0f || Hundredths(regValue) < server;
}

float ServerVersion(const std::string& text) { return static_cast<float>(std::atof(text.c_str())); }

float DottedVersion(const std::string& text) {
  std::string major, minor, patch;
  int p = CPatchClientDlg::NextDottedField(major, text, 0);
  int q = CPatchClientDlg::NextDottedField(minor, text, p);
  if (q != 4) return ServerVersion(text);
  CPatchClientDlg::NextDottedField(patch, text, 4);
  // The sum is kept as a float after each step, so 0.9.10 lands on exactly 1.0.
  float value = static_cast<float>(std::atof(major.c_str()));
  value = static_cast<float>(value + 0.1 * std::atof(minor.c_str()));
  value = static_cast<float>(value + 0.01 * std::atof(patch.c_str()));
  return value;
}

LocalVersions ScanLocalVersions(FILE* file) {
  LocalVersions versions;
  std::fseek(file, 0, SEEK_SET);
  char ignored[260] = "";
  char musicText[260] = "";
  std::fscanf(file, "%259s %f %f %f %259s", ignored, &versions.launcher, &versions.client, &versions.patchLevel,
              musicText);
  versions.music = DottedVersion(musicText);
  return versions;
}

LocalVersions ReadLocalVersions(const std::string& path) {
  FILE* file = platform::OpenStdio(path, "r");
  platform::SleepMs(10);
  if (!file) return LocalVersions{};
  LocalVersions versions = ScanLocalVersions(file);
  std::fclose(file);
  return versions;
}

}  // namespace pipeline
