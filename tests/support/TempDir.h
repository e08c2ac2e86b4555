// Temporary folders for tests: one fresh folder per object, removed with everything in it (read-only
// entries included) when the object goes away.
#pragma once
#include <filesystem>
#include <string>

class TempDir {
 public:
  // Fails the test (std::runtime_error) when no fresh folder can be made: a test must never fall
  // back to a folder it did not make, since everything in it is removed at the end.
  explicit TempDir(const std::string& prefix = "tarvo-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Makes `folder` the process's current folder for the object's life, as the game folder is during
// a run, and gives the previous one back.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path m_previous;
};
