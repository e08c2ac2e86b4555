// The main dialog: the hub of the client. Its members are the session state; each subsystem folder
// implements the hub's operations of that subsystem. The logic runs on the dialog's message loop
// (its user-interface thread) and on worker threads; front ends only draw the view model.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/FrontEnd.h"
#include "app/MessageLoop.h"
#include "app/Messages.h"
#include "app/ViewModel.h"
#include "music/MusicHeader.h"
#include "platform/desktop_windows.h"
#include "skin/SkinBitmap.h"
#include "skin/SkinButton.h"

class CFtpConnection;
struct PartialDownload;
class PatchPacket;

struct ServerEntry {
  std::string host;
  int32_t port = 0;
};

// One file of a data patch, owned by the pending patch list.
struct PatchFileEntry {
  std::string m_strPath;  // the record's path as listed, first folder included
  std::string m_strName;  // the part after the first backslash
  int32_t m_nSize = 0;
  int32_t m_nExtra = 0;
};
using PatchFileList = std::list<PatchFileEntry>;

// Registry helper: reads "defaultdir" of HKEY_LOCAL_MACHINE\subKey. On failure reports stop code
// 9 or 10 to pDlg when one is given. The game folder is at most 259 characters.
bool ReadDefaultDir(const std::string& subKey, std::string& gameFolder, class CPatchClientDlg* pDlg);

class CPatchClientDlg {
 public:
  explicit CPatchClientDlg(IFrontEnd* frontEnd = nullptr);
  ~CPatchClientDlg();
  CPatchClientDlg(const CPatchClientDlg&) = delete;
  CPatchClientDlg& operator=(const CPatchClientDlg&) = delete;

  // ---- window: set-up, loop, end (app/) ----
  // The command-line text after the program name, as the framework hands it over.
  void SetCommandLine(const std::string& commandLine) { m_strCommandLine = commandLine; }
  // Initialises, runs the message loop until a quit request, then destroys the window.
  int DoModal();
  bool OnInitDialog();
  void OnDestroy();
  void OnCancel();
  // Cancel from anywhere (a front end's thread, a signal thread, the loop itself): returns at once
  // and ends the client within a second in every state, with the exit functions run once as for
  // any end. Blocking work sees CancelRequested() and gives up; the loop's quit jumps its queue;
  // and if a handler is still blocked after a short grace, the backstop given to
  // SetCancelBackstop ends the process.
  void RequestCancel();
  bool CancelRequested() const { return m_bCancelled.load(); }
  // What ends the process when the loop has not ended shortly after a Cancel (the application
  // gives platform::ExitProcess). None by default, so that in-process tests keep their process.
  void SetCancelBackstop(std::function<void()> endProcess) { m_cancelBackstop = std::move(endProcess); }
  LRESULT WindowProc(uint32_t message, WPARAM wParam, LPARAM lParam);
  LRESULT SendMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  void PostMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  void PostQuitMessage();
  // A message box through the front end; returns IDOK. Any thread.
  int MessageBox(const std::string& text, unsigned flags);
  void SetDlgItemText(int id, const std::string& text);
  void SetProgressPos(int id, int pos);
  CViewModel& View() { return m_view; }
  CMessageLoop& Loop() { return m_loop; }

  // Worker threads (AfxBeginThread): started detached with the dialog as parameter.
  void BeginThread(unsigned (*proc)(void*));
  // Waits until every worker thread started by BeginThread has returned.
  void WaitForWorkers();
  bool WorkersRunning();

  // ---- command line (app/) ----
  bool ReadServerList();

  // ---- session (session/) ----
  void Connect();  // the first attempt
  void Reconnect();
  LRESULT OnNetState(WPARAM wParam, LPARAM lParam);
  LRESULT OnNetRecv(WPARAM wParam, LPARAM lParam);
  // One received frame, handled by its type; frames of other types are dropped.
  void OnFrame(PatchPacket& packet);
  void OnServerVersions(PatchPacket& packet);
  void OnDownloadPlaces(PatchPacket& packet);
  void OnGameSettings(PatchPacket& packet);
  void OnGameServerList(PatchPacket& packet);
  LRESULT OnPatchStop(WPARAM wParam, LPARAM lParam);
  // Stop codes handled so far, in order (read on the loop's thread, or after it has ended).
  const std::vector<unsigned>& StopHistory() const { return m_stopHistory; }
  static int NextDottedField(std::string& out, const std::string& text, int pos);
  // Reports a stop code to the dialog (WM_PATCH_STOP, synchronous).
  void ReportStop(unsigned code) { SendMessage(WM_PATCH_STOP, code, 0); }

  // ---- registry (app/) ----
  float ReadRegFloat(const char* valueName);
  bool WriteRegFloat(const char* valueName, float value, const char* subKey = nullptr);

  // ---- game launch (app/) ----
  void OnStartGame(int commandId);

  // ---- pipeline (pipeline/) ----
  LRESULT OnPatchList(WPARAM wParam, LPARAM lParam);

  // ---- transfer (transfer/) ----
  // `maxBytes` bounds what the remote file may hold (a patch archive: its listed size). The
  // transfer is broken off (and its file deleted) once `abandon` is set or Cancel is asked for.
  // `partial` carries a broken attempt's bytes to the next attempt of the same download. Without
  // it every attempt starts afresh and a failed one leaves no file. With it, an attempt whose
  // transfer breaks keeps the bytes it wrote in the local file and stores the remote size and
  // modification time they belong to (size 0: nothing kept); an attempt given them continues the
  // file from its end (FTP REST), or starts afresh when the server cannot continue it, cannot show
  // the file unchanged, or ignores the restart, or the remote size has changed.
  bool DownloadFile(CFtpConnection* pConnection, const char* remoteName, const char* localName,
                    uint64_t maxBytes = UINT64_MAX, const std::atomic<bool>* abandon = nullptr,
                    PartialDownload* partial = nullptr);
  bool FetchLauncher();
  bool FetchAgentList();
  bool FetchPatchClient();
  bool FetchMusicList();
  bool FetchMusic(uint32_t musicId);
  // False when the run has ended because the game folder could not be entered again.
  bool InstallMusicList();

  // ---- installation (install/) ----
  int UnpackFile(const char* packedFile);
  static void MakeDirs(const char* path);
  int EnsureFileFolder(std::string path);
  int EnsureFolder(std::string folder);
  int MoveMusicFromTemp(const char* baseFolder, int deleteOthers);
  void ClearPatchList();

  // ---- music (music/) ----
  void ScanMusicFolder();
  void EmbedMissingThumbnails();
  int EmbedThumbnail(uint32_t musicId);
  int LoadNewMusicList();
  void FetchNewerMusic();

  // ---- members: window ----
  std::string m_strRegKey;          // "SOFTWARE\Brix\Tarvo"
  std::string m_strCommandLine;
  platform::DesktopWindow m_hMusicToolWnd = 0;  // the music downloader's window, found at start-up
  std::atomic<bool> m_bMusicToolClosed{false};
  std::unique_ptr<PatchFileList> m_pPatchList;
  CSkinButton m_btnStart;
  CSkinButton m_btnCancel;
  CSkinBitmap m_bmpBackground;

  // ---- members: session (written on the user-interface thread before worker thread 1 starts) ----
  std::vector<ServerEntry> m_servers;
  int m_nConnectAttempts = 0;
  bool m_bServerAnswered = false;
  bool m_bSessionDone = false;
  bool m_bStartTaken = false;  // Start was pressed once (user-interface thread only)
  std::string m_strServerVersion1, m_strServerVersion2, m_strServerVersion3, m_strServerVersion4;
  std::string m_strGameArg;
  std::string m_strFtpRoot;
  std::vector<std::string> m_ftpHosts;
  std::vector<std::string> m_gameHosts;
  std::array<uint8_t, 8> m_gameFlags{};
  std::vector<ServerEntry> m_gameServers;

  // ---- members: download counters, used by one fetch at a time ----
  int32_t m_nTries = 0;
  uint32_t m_nTotalBytes = 0;
  uint32_t m_nDoneBytes = 0;

  // ---- members: music ----
  std::vector<MusicCatalogEntry> m_musicCatalog;
  std::vector<MusicHeader> m_newMusicList;

 private:
  IFrontEnd* m_pFrontEnd;
  CViewModel m_view;
  CMessageLoop m_loop;
  std::mutex m_workerMutex;
  std::condition_variable m_workerDone;
  int m_nWorkers = 0;
  std::vector<unsigned> m_stopHistory;
  std::atomic<bool> m_bCancelled{false};
  std::function<void()> m_cancelBackstop;  // set before the loop runs, read-only afterwards
};

// Worker thread procedures; their one parameter is the dialog.
unsigned VersionCheckThread(void* pParam);
unsigned PatchThread(void* pParam);
// Starts the launcher again; registered to run at process exit after a self-update.
void RelaunchLauncher();
