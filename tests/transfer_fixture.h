// A game folder, a registry file that points at it, a dialog running its loop, and a local FTP
// server: what every transfer test needs. The process's current directory is the game folder
// while a test runs, as it is during a patch run.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/DialogHarness.h"
#include "support/FtpServer.h"

namespace transfer_test {

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// One change of a status control: the control and its text or bar position right after it.
struct ControlChange {
  int id;
  std::string value;
};

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedDirectory = platform::GetCurrentDirectory();
    m_game = m_folder.Path() + "/game";
    std::filesystem::create_directories(m_game + "/Music");
    std::filesystem::create_directories(m_game + "/Image");
    m_registry = m_folder.Path() + "/registry.reg";
    WriteWholeFile(m_registry, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]\n\"defaultdir\"=\"" + m_game +
                                   "\"\n");
    setenv("TARVO_REGISTRY", m_registry.c_str(), 1);
    for (const char* name : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    ASSERT_TRUE(platform::SetCurrentDirectory(m_game));
    m_harness = std::make_unique<DialogHarness>();
    Dlg().m_ftpHosts = {"127.0.0.1"};
    Dlg().m_gameHosts = {"127.0.0.1"};
    // The window's set-up gives both bars the range 0 to 1000; the harness does not run it.
    Dlg().View().SetBarRange(IDC_FILE_PROGRESS, 0, 1000);
    Dlg().View().SetBarRange(IDC_TOTAL_PROGRESS, 0, 1000);
    Dlg().View().SetListener([this](int id) { Record(id); });
  }

  void TearDown() override {
    Dlg().View().SetListener(nullptr);
    m_harness.reset();
    m_server.reset();
    platform::SetCurrentDirectory(m_savedDirectory);
    unsetenv("TARVO_FTP_PORT");
  }

  FtpServer& StartServer(FtpServer::Options options = {}) {
    m_server = std::make_unique<FtpServer>(std::move(options));
    setenv("TARVO_FTP_PORT", std::to_string(m_server->Port()).c_str(), 1);
    return *m_server;
  }

  CPatchClientDlg& Dlg() { return m_harness->Dlg(); }
  std::vector<unsigned> StopCodes() { return m_harness->StopCodes(); }
  std::string GamePath(const std::string& relative) const { return m_game + "/" + relative; }

  std::vector<ControlChange> Changes() {
    std::lock_guard<std::mutex> lock(m_changesMutex);
    return m_changes;
  }
  void ClearChanges() {
    std::lock_guard<std::mutex> lock(m_changesMutex);
    m_changes.clear();
  }

  static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  TempDir m_folder{"tarvo-transfer"};
  std::string m_game;
  std::string m_registry;
  std::string m_savedDirectory;
  std::unique_ptr<FtpServer> m_server;
  std::unique_ptr<DialogHarness> m_harness;

 private:
  void Record(int id) {
    if (id != IDC_STATUS && id != IDC_FILE_BYTES && id != IDC_TOTAL_BYTES && id != IDC_FILE_PROGRESS &&
        id != IDC_TOTAL_PROGRESS) {
      return;
    }
    bool isBar = id == IDC_FILE_PROGRESS || id == IDC_TOTAL_PROGRESS;
    std::string value = isBar ? std::to_string(m_harness->Dlg().View().GetBarPos(id))
                              : m_harness->Dlg().View().GetLabel(id);
    std::lock_guard<std::mutex> lock(m_changesMutex);
    m_changes.push_back({id, value});
  }

  std::mutex m_changesMutex;
  std::vector<ControlChange> m_changes;
};

}  // namespace transfer_test
