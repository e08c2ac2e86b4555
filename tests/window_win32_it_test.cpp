// The Windows client's window under Wine, on a private X server, against the project's patch and FTP
// servers: the dialog at its template size with its caption, Start locked until the patch is done
// and then launching the game, Cancel, a stop code's message box, and the console kept on request.
// Wine draws into X, so the window is read back and driven as the Linux window is. Screenshots go to
// the build folder's screenshots/ (CI keeps them): win32_window_patching.png mid-patch,
// win32_window_ready.png with Start unlocked, win32_window_stop_message.png with a stop code's box.
//
// Runs when TARVO_WINDOWS_CLIENT names the .exe and WINEPREFIX a prefix made for it (scripts/test
// windows sets both); skipped otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "app/DialogLayout.h"
#include "app/Messages.h"
#include "e2e_support.h"
#include "res/Resources.h"
#include "skin/SkinBitmap.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"
#include "support/WindowPixels.h"
#include "support/XServer.h"
#include "wine_support.h"

namespace fs = std::filesystem;
using e2e::kWaitMs;

namespace {

const char* const kTitle = "Tarvo补丁更新程序";
const char* const kBoxTitle = "TarvoPatchClient";
const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";
// The dialog's client area: 293 x 378 dialog units at 1.5 pixels each.
constexpr int kDialogWidth = 440;
constexpr int kDialogHeight = 567;

class WindowWin32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (wine::ClientExe().empty()) return;
    s_x = new XServer();
    // Every Wine program of this test (reg too) runs on the test's display, and a prefix server
    // left from another run, bound to another display, starts anew.
    s_display = new ScopedDisplayVariable(s_x->Display().c_str());
    StopWineServer();
  }
  static void TearDownTestSuite() {
    if (s_x) StopWineServer();
    delete s_display;
    s_display = nullptr;
    delete s_x;
    s_x = nullptr;
  }
  static void StopWineServer() { wine::Run("/usr/bin/wineserver", {"-k"}); }
  void SetUp() override {
    if (wine::ClientExe().empty())
      GTEST_SKIP() << "TARVO_WINDOWS_CLIENT and WINEPREFIX name no Windows client (scripts/test windows sets them)";
    ASSERT_FALSE(s_x->Display().empty()) << "Xvfb did not start";
    fs::create_directories(TARVO_SCREENSHOT_DIR);
    s_x->Xdotool("mousemove --sync 1 1");
  }

  // The FTP server of the world's tree.
  FtpServer::Options WorldFtp() const {
    FtpServer::Options options;
    options.root = m_world + "/ftp";
    return options;
  }
  void MakeWorld(const std::string& serverVersions) { ASSERT_TRUE(wine::MakeWorld(m_world, serverVersions)); }
  // The client under Wine on the test's display, with the front end left to its default.
  void StartClient(ClientProcess& client, int patchPort, int ftpPort, const std::string& ui = "") {
    auto env = wine::Environment({{"DISPLAY", s_x->Display()},
                                  {"TARVO_FTP_PORT", std::to_string(ftpPort)},
                                  {"TARVO_NOTICE_URL", "http://127.0.0.1:" + std::to_string(UnusedPort()) +
                                                           "/gameweb/notice.php"},
                                  {"TARVO_UI", ui}});
    ASSERT_TRUE(client.Start({wine::ClientExe(), "1", "127.0.0.1", std::to_string(patchPort)}, env, "/usr/bin/wine"));
  }
  // Waits for the dialog and checks that its client area has the template's size (Wine leaves the
  // caption and frame to the window manager, so the X window is the client area); the case ends
  // here when no dialog comes.
  void WaitForDialog(ClientProcess& client, XServer::Rect& rect) {
    unsigned long window = s_x->WaitForWindow(kTitle, kWaitMs);
    ASSERT_NE(window, 0u) << client.Stdout() << client.Stderr();
    rect = s_x->Geometry(window);
    EXPECT_EQ(rect.width, kDialogWidth);
    EXPECT_EQ(rect.height, kDialogHeight);
    EXPECT_EQ(s_x->WindowsTitled(kTitle).size(), 1u);
  }
  XServer::Image Grab(const XServer::Rect& window) const { return s_x->Grab(window); }
  bool WaitForFrame(const XServer::Rect& window, int id, int frame, int ms = kWaitMs) const {
    return ::WaitForFrame(*s_x, window, id, frame, ms);
  }
  void PointAt(const XServer::Rect& window, int id) const { ::PointAt(*s_x, window, id); }

  static XServer* s_x;
  static ScopedDisplayVariable* s_display;
  TempDir m_dir{"tarvo-wine"};
  std::string m_world = m_dir / "world";
};

XServer* WindowWin32Test::s_x = nullptr;
ScopedDisplayVariable* WindowWin32Test::s_display = nullptr;

// Whether progress bar `id` shows some fill: across its middle, its first pixels inside the frame
// differ from its last ones (an empty or a full bar is one colour there).
bool BarStarted(const XServer::Image& image, int id) {
  const RECT r = ControlRect(id);
  const int y = (r.top + r.bottom) / 2;
  return image.width >= r.right && image.height > y && image.At(r.left + 3, y) != image.At(r.right - 4, y);
}

}  // namespace

TEST_F(WindowWin32Test, ThePatchRunsWithStartLockedThenStartLaunchesTheGame) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options = WorldFtp();
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 48 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  XServer::Rect window;
  ASSERT_NO_FATAL_FAILURE(WaitForDialog(client, window));

  // While the patch runs, Start is locked: clicks and keys on it do nothing. The worker's progress
  // reaches both bars while the texture pack is on its way.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 0)) << client.Stderr();
  EXPECT_TRUE(ShowsFrame(Grab(window), IDCANCEL, 1));
  EXPECT_TRUE(WaitUntil(
      [&] {
        XServer::Image image = Grab(window);
        return BarStarted(image, IDC_FILE_PROGRESS) && BarStarted(image, IDC_TOTAL_PROGRESS);
      },
      kWaitMs))
      << client.Stderr();
  PointAt(window, IDC_START);
  s_x->Xdotool("click 1");
  s_x->Xdotool("key space");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  XServer::Image patching = Grab(window);
  Shot(patching, "win32_window_patching");
  EXPECT_TRUE(ShowsFrame(patching, IDC_START, 0));
  EXPECT_TRUE(client.Running());
  s_x->Xdotool("mousemove --sync 1 1");

  // The patch ends and Start unlocks; the picture shows wherever no control sits.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1, kWaitMs)) << client.Stderr();
  XServer::Image ready = Grab(window);
  Shot(ready, "win32_window_ready");
  EXPECT_EQ(PictureMismatches(ready, 1), 0);  // the dialog manager may round an edge a pixel off
  EXPECT_FLOAT_EQ(wine::Version(3), 1.23f);
  EXPECT_FALSE(fs::exists(m_world + "/game/zobi_args.txt"));  // the locked clicks launched nothing

  // Wine's hover report does not reach Start after the locked clicks, so the hover and pressed
  // frames are left to the Linux window's tests; the click itself must start the game.
  PointAt(window, IDC_START);
  s_x->Xdotool("mousedown 1");
  s_x->Xdotool("mouseup 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(m_world + "/game/zobi_args.txt"); }, 5000));
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, 5000));
}

TEST_F(WindowWin32Test, CancelInTheMiddleOfAPatchEndsTheClient) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options = WorldFtp();
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 16 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  XServer::Rect window;
  ASSERT_NO_FATAL_FAILURE(WaitForDialog(client, window));
  ASSERT_TRUE(WaitUntil([&] { return ftp.CountInLog("T_120.zip") > 0; }, kWaitMs));
  PointAt(window, IDCANCEL);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 2));
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, 5000));
  EXPECT_FLOAT_EQ(wine::Version(3), 1.0f);  // the level was not completed
}

TEST_F(WindowWin32Test, AStopCodeShowsAMessageBoxOverTheDialog) {
  MakeWorld(kDataPatchDue);
  fs::remove(m_world + "/ftp/tarvo/PatchInfo/FileList_100.dat");
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  XServer::Rect window;
  ASSERT_NO_FATAL_FAILURE(WaitForDialog(client, window));
  unsigned long box = s_x->WaitForWindow(kBoxTitle, kWaitMs);
  ASSERT_NE(box, 0u) << client.Stderr();
  // Wine names the box's window before it maps and paints it: the box counts once its text, icon
  // and button are on the screen.
  XServer::Rect boxRect;
  ASSERT_TRUE(WaitUntil([&] {
    boxRect = s_x->Geometry(box);
    if (boxRect.width <= 0 || boxRect.height <= 0) return false;
    XServer::Image image = s_x->Grab(boxRect);
    std::set<uint32_t> colours(image.pixels.begin(), image.pixels.end());
    return colours.size() > 8;
  }, kWaitMs)) << "the message box was never drawn";
  Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}), "win32_window_stop_message");
  // The client waits for the player while the box is there.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(client.Running());
  s_x->Xdotool("mousemove --sync " + std::to_string(boxRect.x + boxRect.width / 2) + " " +
               std::to_string(boxRect.y + 5));
  s_x->Xdotool("click 1");
  s_x->Xdotool("key Return");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, 5000));
}

TEST_F(WindowWin32Test, TheSystemMenuEndsWithTheAboutItem) {
  const char* const kNothingDue = "1.0,1.0,1.0,1.0";
  MakeWorld(kNothingDue);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kNothingDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  XServer::Rect window;
  ASSERT_NO_FATAL_FAILURE(WaitForDialog(client, window));
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();

  // The system menu opens from the keyboard on its first item; Up wraps round to the last one,
  // past the separator. Were that Close, the dialog would end here.
  s_x->Xdotool("windowfocus --sync " + std::to_string(s_x->WindowsTitled(kTitle).at(0)));
  s_x->Xdotool("key alt+space");
  ASSERT_TRUE(WaitUntil([&] { return !s_x->PopUps().empty(); }, kWaitMs));
  s_x->Xdotool("key Up Return");
  unsigned long about = s_x->WaitForWindow("About TarvoPatchClient", kWaitMs);
  ASSERT_NE(about, 0u);
  EXPECT_TRUE(client.Running());
  s_x->Xdotool("key Return");
  EXPECT_TRUE(s_x->WaitForNoWindow("About TarvoPatchClient", kWaitMs));

  // The dialog goes on as before: Cancel still ends the client.
  PointAt(window, IDCANCEL);
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
}

TEST_F(WindowWin32Test, TheConsoleStaysAvailableAndTakesNoWindow) {
  ClientProcess client;
  auto env = wine::Environment({{"DISPLAY", s_x->Display()}, {"TARVO_UI", "console"}});
  ASSERT_TRUE(client.Start({wine::ClientExe()}, env, "/usr/bin/wine"));
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr().rfind("Cannot execute", 0), 0u) << client.Stderr();  // a console line, CR LF
  EXPECT_TRUE(s_x->WindowsTitled(kBoxTitle).empty());
}
