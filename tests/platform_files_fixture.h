// The files test fixture: a temporary folder made current, and whole-file reads and writes.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempDir.h"

class FilesTest : public ::testing::Test {
 protected:
  static void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path().empty() ? "." : path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  TempDir m_dir{"tarvo-files"};
  std::filesystem::path m_root{m_dir.Path()};
  CurrentFolder m_current{m_root};
};
