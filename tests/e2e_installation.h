// What an installation may hold while a data patch is under way, for the tests that break runs:
// every file under a final name holds a version it may have (its old content, the content of an
// archive entry of that name, or what an uninterrupted run leaves), never a piece of one; and the
// registry file stays readable with sane versions.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <regex>
#include <string>
#include <thread>

#include "common/Ascii.h"
#include "e2e_support.h"
#include "install/ZipReader.h"
#include "session/StopCodes.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"

namespace e2e {

// The end of a patch the game folder's disk has no room for, found before it changes anything.
inline bool IsNoRoomMessage(const std::string& err) {
  return std::regex_match(err, std::regex("游戏文件夹所在的磁盘空间不足,还需要[1-9][0-9]* MB,因此中断执行.\n"));
}

namespace fs = std::filesystem;

inline std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Scratch names the client may leave behind when it is stopped: downloads under way (archives, the
// list, names ending in "_") and the registry's temporary file. None of them is ever installed.
inline bool IsScratchName(const std::string& relative) {
  std::string lower = AsciiLower(relative);
  return lower.ends_with("_") || lower.ends_with(".zip") || lower == "templist.dat" || lower.ends_with(".tmp");
}

// Every file below `root` by its relative path with '/'.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).generic_string()] = FileBytes(entry.path());
  }
  return files;
}

class PatchStates {
 public:
  // `oldGame`: the installation before any run; `reference`: the same installation after an
  // uninterrupted run; `ftpTree`: the FTP folder whose archives the patch brings.
  PatchStates(const fs::path& oldGame, const fs::path& reference, const fs::path& ftpTree)
      : m_old(Tree(oldGame)), m_reference(Tree(reference)) {
    for (const auto& [path, bytes] : m_old) m_allowed[path].insert(bytes);
    for (const auto& [path, bytes] : m_reference) m_allowed[path].insert(bytes);
    for (const auto& entry : fs::recursive_directory_iterator(ftpTree)) {
      if (entry.is_regular_file() && AsciiLower(entry.path().extension().string()) == ".zip") AddArchive(entry.path());
    }
  }

  // One line for each file of `game` under a final name that holds none of the versions it may hold,
  // and for each file that no version of the installation has.
  std::string Problems(const fs::path& game) const {
    std::string problems;
    for (const auto& [path, bytes] : Tree(game)) {
      if (IsScratchName(path)) continue;
      auto allowed = m_allowed.find(path);
      if (allowed == m_allowed.end()) {
        problems += "unexpected file " + path + "\n";
      } else if (!allowed->second.count(bytes)) {
        problems += "damaged " + path + " (" + std::to_string(bytes.size()) + " bytes)\n";
      }
    }
    return problems;
  }

  // One line for each way `game` differs from the installation an uninterrupted run leaves.
  std::string DifferencesFromReference(const fs::path& game) const {
    std::string differences;
    std::map<std::string, std::string> now = Tree(game);
    for (const auto& [path, bytes] : now) {
      auto expected = m_reference.find(path);
      if (expected == m_reference.end()) differences += "extra " + path + "\n";
      else if (expected->second != bytes) differences += "differs " + path + "\n";
    }
    for (const auto& [path, bytes] : m_reference) {
      if (!now.count(path)) differences += "missing " + path + "\n";
    }
    return differences;
  }

  // Whether `game` still holds every old file as it was (a run that stopped before it installed anything).
  std::string ChangedOldFiles(const fs::path& game) const {
    std::string changed;
    for (const auto& [path, bytes] : m_old) {
      if (!fs::exists(game / path) || FileBytes(game / path) != bytes) changed += path + "\n";
    }
    return changed;
  }

 private:
  void AddArchive(const fs::path& archive) {
    FILE* stream = std::fopen(archive.c_str(), "rb");
    ASSERT_NE(stream, nullptr) << archive;
    CZipReader reader;
    ASSERT_EQ(reader.Open(stream), 0) << archive;
    for (int i = 0; i < reader.GetEntryCount(); ++i) {
      std::string name(reader.GetEntryNameBytes(i));
      for (char& c : name) {
        if (c == '\\') c = '/';
      }
      std::string bytes;
      reader.ExtractEntryTo(i, [&bytes](const uint8_t* data, size_t size) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
      });
      m_allowed[name].insert(bytes);
      // Music arrives in Music/Temp and is moved into Music.
      size_t temp = name.find("/Temp/");
      if (temp != std::string::npos) m_allowed[name.substr(0, temp) + name.substr(temp + 5)].insert(bytes);
    }
    reader.Close();
    std::fclose(stream);
  }

  std::map<std::string, std::string> m_old, m_reference;
  std::map<std::string, std::set<std::string>> m_allowed;
};

// Problems of the registry file: it must hold the product key, the game folder and four versions,
// each either `before` or `after`, and nothing may have been set aside as damaged.
inline std::string RegistryProblems(const std::string& registryFile, const float before[4], const float after[4]) {
  std::string text = FileBytes(registryFile), problems;
  if (!text.starts_with("REGEDIT4")) problems += "no REGEDIT4 header\n";
  if (text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]") == std::string::npos) problems += "no product key\n";
  if (text.find("\"defaultdir\"=\"") == std::string::npos) problems += "no game folder\n";
  if (fs::exists(registryFile + ".damaged")) problems += "set aside as damaged\n";
  for (int n = 1; n <= 4; ++n) {
    float v = RegistryVersion(registryFile, n);
    if (std::isnan(v) || (v != before[n - 1] && v != after[n - 1])) {
      problems += "Version" + std::to_string(n) + " is " + std::to_string(v) + "\n";
    }
  }
  return problems;
}

}  // namespace e2e

namespace e2e {

inline const float kVersionsBefore[4] = {1.0f, 1.0f, 1.0f, 1.0f};
inline const float kVersionsAfter[4] = {1.0f, 1.0f, 1.23f, 1.0f};

// A demo world with a data patch due, its old installation kept aside, and the same world patched
// by one uninterrupted run to compare with.
class BrokenPatchTest : public ::testing::Test {
 protected:
  enum class End { kCompleted, kStopped, kOther };

  void SetUp() override {
    ASSERT_TRUE(MakeWorld(m_reference, kDataPatchDue, "1.0,1.0,1.0,1.0"));
    ASSERT_TRUE(MakeWorld(m_world, kDataPatchDue, "1.0,1.0,1.0,1.0"));
    fs::copy(m_world + "/game", m_old, fs::copy_options::recursive);
    {
      FtpServer ftp(FtpOptionsFor(m_reference));
      ClientProcess client;
      ASSERT_TRUE(StartClient(client, m_reference + "/registry.reg", Server().Port(), ftp.Port()));
      ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
      client.CloseStdin();
      ASSERT_EQ(client.Wait(kWaitMs), 0);
    }
    m_states = std::make_unique<PatchStates>(m_old, m_reference + "/game", m_world + "/ftp");
    m_registryBefore = FileBytes(m_registry);
  }

  // The old installation and its registry again, for the next case of a test.
  void ResetInstallation() {
    fs::remove_all(Game());
    fs::copy(m_old, Game(), fs::copy_options::recursive);
    WriteTextFile(m_registry, m_registryBefore);
  }

  static FtpServer::Options FtpOptionsFor(const std::string& world) {
    FtpServer::Options options;
    options.root = world + "/ftp";
    return options;
  }
  FtpServer::Options FtpOptions() const { return FtpOptionsFor(m_world); }
  std::string Game(const std::string& relative = "") const { return m_world + "/game/" + relative; }
  std::string Remote(const std::string& relative) const { return m_world + "/ftp/tarvo/" + relative; }
  PatchServer& Server() {
    if (!m_server) m_server = std::make_unique<PatchServer>(PatchConfig(kDataPatchDue));
    return *m_server;
  }
  void Start(ClientProcess& client, int ftpPort) {
    ASSERT_TRUE(StartClient(client, m_registry, Server().Port(), ftpPort));
  }

  // Waits for the end of a run: the patch completed (Start unlocked; the client is then ended with
  // Cancel) or a stop code's message and a clean exit. The bound leaves room for the half minute
  // the client waits on a silent transfer.
  static End AwaitEnd(ClientProcess& client) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * kWaitMs);
    while (std::chrono::steady_clock::now() < until) {
      if (client.Stdout().find("Ready.") != std::string::npos) {
        client.CloseStdin();
        return client.Wait(kWaitMs) == 0 ? End::kCompleted : End::kOther;
      }
      if (!client.Running()) return IsStopCodeEnd(client) ? End::kStopped : End::kOther;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return End::kOther;
  }

  // Exit code 0 and, on standard error, the messages of a stop code: the installation messages of
  // the patch worker, then one stop code's text.
  static bool IsStopCodeEnd(ClientProcess& client) {
    if (client.Wait(0) != 0) return false;
    std::string err = client.Stderr();
    for (const char* notice : {"Unzip failed..\n", "Create Folder failed..\n", "Music patch failed..\n"}) {
      if (err.starts_with(notice)) err.erase(0, std::strlen(notice));
    }
    if (e2e::IsNoRoomMessage(err)) return true;
    for (unsigned code = 0; code <= 17; ++code) {
      const char* text = StopCodeMessage(code);
      if (text && err == std::string(text) + "\n") return true;
    }
    return false;
  }

  // Nothing installed is damaged and the registry is sound, whatever happened to the run.
  void ExpectSound(const std::string& when) {
    EXPECT_EQ(m_states->Problems(Game()), "") << when;
    EXPECT_EQ(RegistryProblems(m_registry, kVersionsBefore, kVersionsAfter), "") << when;
  }
  // The installation is the one an uninterrupted run leaves, and its level is recorded.
  void ExpectPatched(const std::string& when) {
    EXPECT_EQ(m_states->DifferencesFromReference(Game()), "") << when;
    EXPECT_FLOAT_EQ(RegistryVersion(m_registry, 3), 1.23f) << when;
  }

  // Runs the client against `ftpPort` until a run completes the patch, at most `runs` times,
  // checking after each run that nothing is damaged; returns how many runs it took (0: never).
  int RunUntilPatched(int ftpPort, int runs, const std::string& what) {
    for (int run = 1; run <= runs; ++run) {
      ClientProcess client;
      Start(client, ftpPort);
      End end = AwaitEnd(client);
      const std::string when = what + ", run " + std::to_string(run);
      EXPECT_NE(end, End::kOther) << when << "\n" << client.Stdout() << client.Stderr();
      ExpectSound(when);
      if (end == End::kCompleted) {
        ExpectPatched(when);
        return run;
      }
      if (end == End::kOther || ::testing::Test::HasFailure()) return 0;
    }
    return 0;
  }

  TempDir m_dir;
  std::string m_world = m_dir / "world";
  std::string m_reference = m_dir / "reference";
  std::string m_old = m_dir / "old";
  std::string m_registry = m_world + "/registry.reg";
  std::string m_registryBefore;
  std::unique_ptr<PatchServer> m_server;
  std::unique_ptr<PatchStates> m_states;
};

}  // namespace e2e
