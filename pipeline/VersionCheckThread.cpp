// Worker thread 1: compares the installation's versions with the server's and brings them up to
// date in a fixed order: launcher, patch client, music, game data.
#include <string>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "pipeline/MusicTool.h"
#include "pipeline/VersionRules.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "session/StopCodes.h"

namespace {

const char* const kPreparing = "正在准备补丁中,请耐心等待.";
constexpr int kRunEnding = 0;  // a step failed (and reported) or the run is over
constexpr int kVersionCheckDone = 1;  // handed over to the patch list step, or nothing was due

// The player closed the window, or a failure ended the run: nothing more is fetched.
bool RunEnded(CPatchClientDlg& dlg) { return dlg.Loop().HasEnded(); }

float ServerValue(const std::string& text) {
  float value = pipeline::ServerVersion(text);
  platform::SleepMs(10);
  return value;
}

}  // namespace

unsigned VersionCheckThread(void* pParam) {
  CPatchClientDlg& dlg = *static_cast<CPatchClientDlg*>(pParam);
  // The local version file and the launcher fetches name files relative to the current directory.
  std::string gameFolder;
  if (!EnterGameFolder(dlg.m_strRegKey, gameFolder, &dlg)) return kRunEnding;

  const float r1 = dlg.ReadRegFloat("Version1");
  const float r2 = dlg.ReadRegFloat("Version2");
  const float r3 = dlg.ReadRegFloat("Version3");
  const pipeline::LocalVersions local = pipeline::ReadLocalVersions("VersionInfo2.dat");
  if (RunEnded(dlg)) return kRunEnding;

  bool launcherUpdated = false;
  bool clientBehind = false;
  if (!dlg.m_strServerVersion1.empty()) {
    const float s = ServerValue(dlg.m_strServerVersion1);
    if (pipeline::UpdateNeeded(local.launcher, r1, s)) {
      launcherUpdated = true;
      dlg.SetDlgItemText(IDC_STATUS, kPreparing);
      if (!dlg.FetchLauncher()) return kRunEnding;
      // Without the agent list the launcher is fetched again next run: Version1 stays behind.
      if (dlg.FetchAgentList()) dlg.WriteRegFloat("Version1", s);
    }
  }

  float clientVersion = 0;
  if (!dlg.m_strServerVersion2.empty()) {
    clientVersion = ServerValue(dlg.m_strServerVersion2);
    clientBehind = pipeline::UpdateNeeded(local.client, r2, clientVersion);
  }

  if (launcherUpdated || clientBehind) {
    if (clientBehind && !RunEnded(dlg)) {
      dlg.SetDlgItemText(IDC_STATUS, kPreparing);
      if (!dlg.FetchPatchClient()) return kRunEnding;
      dlg.WriteRegFloat("Version2", clientVersion);
    }
    platform::RegisterExitFunction(RelaunchLauncher);
    dlg.ReportStop(STOP_DONE);
    return kRunEnding;
  }

  const float r4 = dlg.ReadRegFloat("Version4");
  if (RunEnded(dlg)) return kRunEnding;
  if (!dlg.m_strServerVersion4.empty()) {
    const float s = ServerValue(dlg.m_strServerVersion4);
    if (pipeline::UpdateNeeded(local.music, r4, s)) {
      dlg.SetDlgItemText(IDC_STATUS, kPreparing);
      if (!dlg.FetchMusicList()) return kRunEnding;
      dlg.ScanMusicFolder();
      dlg.SetDlgItemText(IDC_STATUS, kPreparing);
      dlg.EmbedMissingThumbnails();
      if (!dlg.LoadNewMusicList()) {
        // The list was fetched but cannot be read: without a word the player would wait for a
        // Start button that never unlocks.
        dlg.ReportStop(STOP_MUSIC_DATA);
        return kRunEnding;
      }
      dlg.FetchNewerMusic();
      if (!dlg.InstallMusicList()) return kRunEnding;
      dlg.WriteRegFloat("Version4", s);
      dlg.SetDlgItemText(IDC_STATUS, "");
    }
  }

  if (RunEnded(dlg)) return kRunEnding;
  if (!dlg.m_strServerVersion3.empty()) {
    const float s = ServerValue(dlg.m_strServerVersion3);
    const int64_t target = pipeline::Hundredths(s);
    bool patch = false;
    float level = 0;
    if (local.patchLevel != 0.0f) {
      patch = pipeline::Hundredths(local.patchLevel) < target && pipeline::Hundredths(r3) < target;
      level = local.patchLevel;
    } else {
      patch = r3 == 0.0f || pipeline::Hundredths(r3) < target;
      level = r3;
    }
    if (patch) {
      dlg.SetDlgItemText(IDC_STATUS, kPreparing);
      if (dlg.m_hMusicToolWnd) {
        dlg.m_bMusicToolClosed = true;
        pipeline::AskMusicToolToClose(dlg.m_hMusicToolWnd);
      }
      dlg.SendMessage(WM_PATCH_LIST, static_cast<WPARAM>(pipeline::Hundredths(level) & 0xFFFF), 0);
      return kVersionCheckDone;
    }
  }

  dlg.m_btnStart.EnableButton();
  return kVersionCheckDone;
}
