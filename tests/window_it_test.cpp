// The client's window on a private X server, against the real binary and the project's patch and
// FTP servers: its title, size and picture, the Start button's frames through a patch, clicks on a
// locked and an unlocked Start, Cancel, a stop code's message box, the notice page and what a hostile
// one cannot do, the choice between the window and the console, the About box, the icon and the
// redraw after minimising, the hand cursor and the tooltips. Screenshots of each state go to the build folder.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/DialogLayout.h"
#include "app/Messages.h"
#include "e2e_support.h"
#include "res/Resources.h"
#include "skin/SkinBitmap.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"
#include "support/SlowNameServer.h"
#include "support/WindowPixels.h"
#include "support/XServer.h"

namespace fs = std::filesystem;
using e2e::kWaitMs;

namespace {

const char* const kTitle = "Tarvo补丁更新程序";
const char* const kBoxTitle = "TarvoPatchClient";
const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";
const char* const kAllCurrent = "1.0,1.0,1.0,1.0";

const char* const kMagentaPage = "<html><body style=\"background:#ff00ff\">notice</body></html>";

// Serves the notice page (by default one whose background is magenta) at every path but two kinds,
// and counts the requests for each path: under /dl/ the files a hostile page would have saved, as
// attachments (notes.txt as plain text, which the view could show, dropped.desktop as a type it
// cannot); under /report/ nothing, for the page's beacons.
class NoticeServer {
 public:
  explicit NoticeServer(std::string page = kMagentaPage) : m_page(std::move(page)) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(m_listen, 16) == 0 &&
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~NoticeServer() {
    m_stop = true;
    m_thread.join();
    close(m_listen);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  std::string Url() const { return Base() + "/gameweb/notice.php"; }
  int Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const std::string& p : m_paths) n += p == path;
    return n;
  }
  bool SawAll(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
      if (Requests(path) == 0) return false;
    return true;
  }
  std::string Log() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string log;
    for (const std::string& p : m_paths) log += p + "\n";
    return log;
  }

 private:
  void Serve() {
    while (!m_stop) {
      pollfd fd{m_listen, POLLIN, 0};
      if (poll(&fd, 1, 50) <= 0) continue;
      int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd in{client, POLLIN, 0};
        if (poll(&in, 1, 2000) <= 0) break;
        ssize_t got = read(client, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, size_t(got));
      }
      size_t start = request.find(' '), end = request.find(' ', start + 1);
      std::string path;
      if (start != std::string::npos && end != std::string::npos) {
        path = request.substr(start + 1, end - start - 1);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.push_back(path);
      }
      std::string status = "200 OK", headers = "Content-Type: text/html\r\n", body = m_page;
      if (path.starts_with("/report/")) {
        status = "204 No Content", headers.clear(), body.clear();
      } else if (path.starts_with("/dl/")) {
        const std::string name = path.substr(4);
        headers = std::string("Content-Type: ") + (name.ends_with(".txt") ? "text/plain" : "application/x-desktop") +
                  "\r\nContent-Disposition: attachment; filename=\"" + name + "\"\r\n";
        body = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n";
      }
      const std::string reply = "HTTP/1.0 " + status + "\r\n" + headers + "Content-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      ssize_t sent = write(client, reply.data(), reply.size());
      (void)sent;
      close(client);
    }
  }
  const std::string m_page;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_paths;
};

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_x = new XServer(); }
  static void TearDownTestSuite() {
    delete s_x;
    s_x = nullptr;
  }
  void SetUp() override {
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
  void MakeWorld(const std::string& serverVersions) {
    ASSERT_TRUE(e2e::MakeWorld(m_world, serverVersions, "1.0,1.0,1.0,1.0"));
  }
  // The client with the window on the test's display (TARVO_UI left to its default).
  void StartClient(ClientProcess& client, int patchPort, int ftpPort, const std::string& noticeUrl,
                   std::map<std::string, std::string> env = {}) {
    env.insert({{"TARVO_REGISTRY", m_registry},
                {"TARVO_FTP_PORT", std::to_string(ftpPort)},
                {"TARVO_NOTICE_URL", noticeUrl},
                {"TARVO_UI", ""},
                {"DISPLAY", s_x->Display()}});
    ASSERT_TRUE(client.Start({"1", "127.0.0.1", std::to_string(patchPort)}, env));
  }
  // Waits for the main window; checks its title, size and place on the screen.
  XServer::Rect WaitForMainWindow(ClientProcess& client) {
    unsigned long window = s_x->WaitForWindow(kTitle, kWaitMs);
    EXPECT_NE(window, 0u) << client.Stderr();
    XServer::Rect rect = s_x->Geometry(window);
    EXPECT_EQ(rect.width, kClientWidth);
    EXPECT_EQ(rect.height, kClientHeight);
    XServer::Rect screen = s_x->Screen();
    EXPECT_TRUE(rect.x >= 0 && rect.y >= 0 && rect.x + rect.width <= screen.width &&
                rect.y + rect.height <= screen.height);
    EXPECT_EQ(s_x->WindowsTitled(kTitle).size(), 1u);
    return rect;
  }
  XServer::Image Grab(const XServer::Rect& window) const { return s_x->Grab(window); }
  bool WaitForFrame(const XServer::Rect& window, int id, int frame, int ms = kWaitMs) const {
    return ::WaitForFrame(*s_x, window, id, frame, ms);
  }
  void PointAt(const XServer::Rect& window, int id) const { ::PointAt(*s_x, window, id); }
  // Cancel clicked as a player clicks it: the client ends with 0.
  void ClickCancelAndExpectACleanEnd(const XServer::Rect& window, ClientProcess& client) const {
    PointAt(window, IDCANCEL);
    s_x->Xdotool("click 1");
    EXPECT_EQ(client.Wait(kWaitMs), 0);
  }
  float Version(int n) const { return e2e::RegistryVersion(m_registry, n); }
  // What a wait on a patch reports when it runs out: the whole screen (as a screenshot), whether a
  // message box stands in the way, the client's errors and what the FTP server saw.
  std::string Why(ClientProcess& client, const FtpServer& ftp) const {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}), "failed_" + name);
    return "message boxes: " + std::to_string(s_x->WindowsTitled(kBoxTitle).size()) + "; client running: " +
           (client.Running() ? "yes" : "no") + "\nstderr: " + client.Stderr() + "\nFTP log:\n" + ftp.Log();
  }

  static XServer* s_x;
  TempDir m_dir;
  std::string m_world = m_dir / "world";
  std::string m_registry = m_world + "/registry.reg";
};

XServer* WindowTest::s_x = nullptr;

// One image of an ICO or CUR resource as ARGB values, rows top to bottom, as X11 carries icons and
// cursors. The resources hold 32-bit images (alpha in the pixel) and 4-bit ones (a palette and the
// AND mask).
struct ResourceImage {
  int width = 0, height = 0, xhot = 0, yhot = 0;
  std::vector<uint32_t> argb;
};

std::vector<ResourceImage> ReadIconResource(int type, int id) {
  std::vector<ResourceImage> images;
  const ResourceBytes res = FindResource(type, static_cast<unsigned>(id));
  auto u16 = [&](size_t at) { return uint32_t(res.data[at] | (res.data[at + 1] << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  if (res.size < 6) return images;
  for (uint32_t i = 0; i < u16(4); ++i) {
    const size_t entry = 6 + 16 * size_t(i);
    ResourceImage image;
    image.width = res.data[entry] ? res.data[entry] : 256;
    image.height = res.data[entry + 1] ? res.data[entry + 1] : 256;
    image.xhot = int(u16(entry + 4));
    image.yhot = int(u16(entry + 6));
    const size_t dib = u32(entry + 12);
    const int bits = int(u16(dib + 14));
    const size_t colours = bits == 4 ? 16 : 0;
    const size_t palette = dib + u32(dib);
    const size_t pixels = palette + 4 * colours;
    const size_t stride = ((size_t(image.width) * size_t(bits) + 31) / 32) * 4;
    const size_t mask = pixels + stride * size_t(image.height);
    const size_t maskStride = ((size_t(image.width) + 31) / 32) * 4;
    for (int y = 0; y < image.height; ++y) {
      const size_t row = size_t(image.height - 1 - y);  // bottom-up
      for (int x = 0; x < image.width; ++x) {
        const uint8_t* p;
        uint32_t alpha;
        if (bits == 32) {
          p = res.data + pixels + row * stride + 4 * size_t(x);
          alpha = p[3];
        } else {
          const uint8_t pair = res.data[pixels + row * stride + size_t(x) / 2];
          p = res.data + palette + 4 * size_t(x % 2 ? pair & 15 : pair >> 4);
          const bool transparent = (res.data[mask + row * maskStride + size_t(x) / 8] >> (7 - x % 8)) & 1;
          alpha = transparent ? 0 : 255;
        }
        image.argb.push_back(alpha << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
      }
    }
    images.push_back(image);
  }
  return images;
}

// The images of a _NET_WM_ICON property.
std::vector<ResourceImage> SplitIconProperty(const std::vector<unsigned long>& values) {
  std::vector<ResourceImage> images;
  for (size_t at = 0; at + 2 <= values.size();) {
    ResourceImage image;
    image.width = int(values[at]);
    image.height = int(values[at + 1]);
    const size_t count = size_t(image.width) * size_t(image.height);
    if (at + 2 + count > values.size()) break;
    for (size_t i = 0; i < count; ++i) image.argb.push_back(static_cast<uint32_t>(values[at + 2 + i]));
    images.push_back(image);
    at += 2 + count;
  }
  return images;
}

// Whether two ARGB images show the same picture: the same transparency, and the same colour wherever
// a pixel is fully opaque (how a transparent pixel's colour is kept is not part of the picture).
bool SamePicture(const ResourceImage& a, int width, int height, const std::vector<uint32_t>& b) {
  if (a.width != width || a.height != height || a.argb.size() != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i) {
    if ((a.argb[i] >> 24) != (b[i] >> 24)) return false;
    if ((b[i] >> 24) == 255 && a.argb[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

TEST_F(WindowTest, APatchInTheWindowFromLockedStartToTheGame) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options = WorldFtp();
  // The texture pack (3 MiB) arrives slowly, so the patch is seen in the middle.
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 32 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  // Nothing answers at the notice address: the page fails and nothing else changes.
  StartClient(client, server.Port(), ftp.Port(), "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/gameweb/notice.php");
  XServer::Rect window = WaitForMainWindow(client);

  // While the patch runs, Start is locked: hovering, clicking and its keys do nothing. The tries
  // come while the texture pack is on its way.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 0)) << client.Stderr();
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 1));
  ASSERT_TRUE(WaitUntil([&] { return ftp.CountInLog("T_120.zip") > 0; }, kWaitMs)) << Why(client, ftp);
  PointAt(window, IDC_START);
  s_x->Xdotool("click 1");
  s_x->Xdotool("key space");
  // The window takes its input in order: once Cancel shows the pointer over it, every try on Start
  // has been handled.
  PointAt(window, IDCANCEL);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 2));
  XServer::Image patching = Grab(window);
  ASSERT_EQ(ftp.CountInLog("T_120.zip completed="), 0) << "the patch ended before the window took the tries";
  Shot(patching, "window_patching_locked_start");
  EXPECT_TRUE(ShowsFrame(patching, IDC_START, 0));
  EXPECT_TRUE(client.Running());
  s_x->Xdotool("mousemove --sync 1 1");

  // The patch ends and Start unlocks to its normal frame; the picture shows wherever no control sits.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << Why(client, ftp);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 1));
  XServer::Image ready = Grab(window);
  Shot(ready, "window_ready");
  EXPECT_EQ(PictureMismatches(ready), 0);
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  EXPECT_FALSE(fs::exists(m_world + "/game/zobi_args.txt"));  // the locked clicks launched nothing

  PointAt(window, IDC_START);
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 2));
  Shot(Grab(window), "window_hover_start");
  s_x->Xdotool("mousedown 1");
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 3));
  Shot(Grab(window), "window_pressed_start");
  s_x->Xdotool("mouseup 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(m_world + "/game/zobi_args.txt"); }, kWaitMs));
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, kWaitMs));
}

TEST_F(WindowTest, CancelInTheMiddleOfAPatchEndsTheClient) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options = WorldFtp();
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 16 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), "about:blank");
  XServer::Rect window = WaitForMainWindow(client);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 1)) << client.Stderr();
  ASSERT_TRUE(WaitUntil([&] { return ftp.CountInLog("T_120.zip") > 0; }, kWaitMs)) << Why(client, ftp);
  PointAt(window, IDCANCEL);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 2));
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, kWaitMs));
  ASSERT_EQ(ftp.CountInLog("T_120.zip completed=1"), 0) << "the texture pack came whole before Cancel was taken";
  EXPECT_FLOAT_EQ(Version(3), 1.0f);  // the level was not completed
}

TEST_F(WindowTest, AStopCodeShowsAMessageBoxThatReturnDismisses) {
  MakeWorld(kDataPatchDue);
  fs::remove(m_world + "/ftp/tarvo/PatchInfo/FileList_100.dat");
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), "about:blank");
  XServer::Rect window = WaitForMainWindow(client);
  unsigned long box = s_x->WaitForWindow(kBoxTitle, kWaitMs);
  ASSERT_NE(box, 0u) << client.Stderr();
  XServer::Rect boxRect = s_x->Geometry(box);
  Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}), "window_stop_message");
  // The caller waits for the player: the client runs on while the box is there.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(client.Running());
  EXPECT_EQ(s_x->WindowsTitled(kTitle).size(), 1u);
  s_x->Xdotool("mousemove --sync " + std::to_string(boxRect.x + boxRect.width / 2) + " " + std::to_string(boxRect.y + 5));
  s_x->Xdotool("key Return");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(s_x->WaitForNoWindow(kBoxTitle, 5000));
  (void)window;
}

// The launcher that a launcher update starts again is the program the player uses next: it runs at
// the client's own priority and with the player's environment, whatever the window's toolkit does
// with its threads and the settings it was given.
TEST_F(WindowTest, ALauncherUpdateInTheWindowRestartsTheLauncherAsTheClientWasStarted) {
  const char* const launcherDue = "1.1,1.1,1.2.3,1.1";
  MakeWorld(launcherDue);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(launcherDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), "about:blank");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "");  // the window opened: no fall-back to the console
  e2e::ExpectLauncherUpdateRestartedTheNewLauncher(ftp, m_world + "/game", m_world + "/ftp/tarvo", kWaitMs);
  EXPECT_EQ(ReadTextFile(m_world + "/game/launcher_priority.txt"), std::to_string(getpriority(PRIO_PROCESS, 0)) + "\n");
  const std::string environment = "\n" + ReadTextFile(m_world + "/game/launcher_environment.txt");
  EXPECT_NE(environment.find("\nDISPLAY=" + s_x->Display() + "\n"), std::string::npos) << environment;
  for (const char* toolkitOnly : {"GDK_BACKEND", "GDK_GL", "GTK_A11Y", "NO_AT_BRIDGE", "DBUS_SESSION_BUS_ADDRESS",
                                  "WEBKIT_DISABLE_COMPOSITING_MODE", "WEBKIT_DISABLE_DMABUF_RENDERER",
                                  "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"}) {
    if (!getenv(toolkitOnly)) {
      EXPECT_EQ(environment.find(std::string("\n") + toolkitOnly + "="), std::string::npos) << toolkitOnly;
    }
  }
}

TEST_F(WindowTest, TheNoticePageIsShownAndRequestedOnce) {
  MakeWorld(kAllCurrent);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  NoticeServer notice;
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), notice.Url());
  XServer::Rect window = WaitForMainWindow(client);
  const RECT page = ControlRect(1000);
  ASSERT_TRUE(WaitUntil(
      [&] {
        XServer::Image image = Grab(window);
        return image.width == kClientWidth && image.At(page.left + 100, page.top + 150) == 0xFF00FF;
      },
      kWaitMs));
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1));  // nothing to patch: Start unlocks
  Shot(Grab(window), "window_notice_page");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(notice.Requests("/gameweb/notice.php"), 1);
  ClickCancelAndExpectACleanEnd(window, client);
  EXPECT_EQ(notice.Requests("/gameweb/notice.php"), 1);
}

// On a slow start the dialog's whole set-up (the picture, the buttons, the notice address) happens
// while the window is still being built, after its first look at the view: the window shows all of
// it all the same, and asks for the page once.
TEST_F(WindowTest, WhatTheDialogSetsUpWhileTheWindowIsBuiltIsShown) {
  MakeWorld(kAllCurrent);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  NoticeServer notice;
  ClientProcess client;
  const char* asan = getenv("ASAN_OPTIONS");
  // (The slowing library comes ahead of a sanitizer's runtime.)
  StartClient(client, server.Port(), ftp.Port(), notice.Url(),
              {{"LD_PRELOAD", TARVO_SLOW_START_PRELOAD},
               {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
  XServer::Rect window = WaitForMainWindow(client);
  const RECT page = ControlRect(1000);
  EXPECT_TRUE(WaitUntil(
      [&] {
        XServer::Image image = Grab(window);
        return image.width == kClientWidth && image.At(page.left + 100, page.top + 150) == 0xFF00FF;
      },
      kWaitMs))
      << "requests: " << notice.Log();
  EXPECT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
  XServer::Image image = Grab(window);
  Shot(image, "window_slow_start");
  EXPECT_EQ(PictureMismatches(image), 0);
  EXPECT_TRUE(ShowsFrame(image, IDCANCEL, 1));
  EXPECT_EQ(notice.Requests("/gameweb/notice.php"), 1);
  ClickCancelAndExpectACleanEnd(window, client);
}

// A page that cannot be loaded (nothing listens at its address) leaves the notice area showing the
// picture's own empty frame, as the Windows window does: no error page of the engine's, and no
// second try.
TEST_F(WindowTest, ANoticePageThatCannotBeLoadedLeavesThePicture) {
  MakeWorld(kAllCurrent);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/gameweb/notice.php");
  XServer::Rect window = WaitForMainWindow(client);
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
  const RECT page = ControlRect(1000);
  EXPECT_TRUE(WaitUntil([&] { return PictureMismatchesIn(Grab(window), page) == 0; }, kWaitMs));
  // Long enough for an error page or a second try to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  XServer::Image image = Grab(window);
  Shot(image, "window_notice_failed");
  EXPECT_EQ(PictureMismatchesIn(image, page), 0);
  EXPECT_EQ(PictureMismatches(image), 0);
  ClickCancelAndExpectACleanEnd(window, client);
}

// Enter, on the main keyboard or the keypad, ends the client as Cancel does, as in the Windows
// window where no control takes it: even with Start unlocked and focused, the game is not started.
TEST_F(WindowTest, EnterEndsTheClientAsCancelDoesAndStartsNoGame) {
  MakeWorld(kAllCurrent);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  int x = 200;
  for (const char* key : {"Return", "KP_Enter"}) {
    SCOPED_TRACE(key);
    fs::remove(m_world + "/game/zobi_args.txt");
    ClientProcess client;
    StartClient(client, server.Port(), ftp.Port(), "about:blank");
    XServer::Rect window = WaitForMainWindow(client);
    ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
    // (Somewhere new each time: a synchronous move to where the pointer already is waits in vain.)
    x += 20;
    s_x->Xdotool("mousemove --sync " + std::to_string(window.x + x) + " " + std::to_string(window.y + 30));
    s_x->Xdotool(std::string("key ") + key);
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, kWaitMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(m_world + "/game/zobi_args.txt"));
  }
}

// A double click on Start starts the game once, even when looking up the game hosts (names the
// name server answers slowly) takes far longer than the gap between the clicks.
TEST_F(WindowTest, ADoubleClickOnStartStartsTheGameOnce) {
  SlowNameServer names(400);
  if (!names.Listening()) GTEST_SKIP() << "the name server needs port 53";
  MakeWorld(kAllCurrent);
  const std::string starts = m_world + "/game/starts.txt";
  WriteTextFile(m_world + "/game/Zobi.exe", "#!/bin/sh\necho started >> '" + starts + "'\n");
  fs::permissions(m_world + "/game/Zobi.exe", fs::perms::owner_all);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent, R"([["127.0.0.1", 9000]])",
                                      R"(["1:127.0.0.1", "2:game1.tarvo.test", "2:game2.tarvo.test"])"));
  ClientProcess client;
  client.SeeInPlace(names.ResolvConf(), "/etc/resolv.conf");
  StartClient(client, server.Port(), ftp.Port(), "about:blank");
  XServer::Rect window = WaitForMainWindow(client);
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
  PointAt(window, IDC_START);
  s_x->Xdotool("click --repeat 2 --delay 50 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  // A second game would start after the second press's own look-ups.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(ReadTextFile(starts), "started\n");
  EXPECT_EQ(names.Questions(), (std::vector<std::string>{"game1.tarvo.test", "game2.tarvo.test"}));
}

// A hostile notice page: what it tries, the requests it makes once it has tried, and the requests
// that only an action the view must refuse would make.
struct HostilePage {
  const char* name;
  std::string html;  // "{local}" stands for the file:// address of a page on the player's disk
  std::vector<std::string> made;
  std::vector<std::string> refused;
  bool clicked = false;      // the player clicks in the page once it has asked for /report/ready
  bool startsLocal = false;  // the notice address itself is the page on the disk
};

void PrintTo(const HostilePage& page, std::ostream* out) { *out << page.name; }

const char* const kReady = "<body onload=\"fetch('/report/ready')\">";

const HostilePage kHostilePages[] = {
    {"DownloadsInHiddenFrames",
     "<iframe style='display:none' src='/dl/dropped.desktop'></iframe><iframe hidden src='/dl/notes.txt'></iframe>",
     {"/dl/dropped.desktop", "/dl/notes.txt"}, {}},
    {"DownloadByScript", "<script>location.href = '/dl/notes.txt';</script>", {"/dl/notes.txt"}, {}},
    {"DownloadLinkAndNewWindowByScript",
     "<a id=link download href='/dl/dropped.desktop'>x</a><script>document.getElementById('link').click();"
     "window.open('/report/new-window');</script>",
     {"/dl/dropped.desktop"}, {"/report/new-window"}},
    {"DownloadLinkClicked", std::string(kReady) + "<a href='/dl/notes.txt' style='position:fixed;inset:0'>notes</a>",
     {"/dl/notes.txt"}, {}, true},
    {"NewWindowLinkClicked",
     std::string(kReady) + "<a href='/report/new-window' target=_blank style='position:fixed;inset:0'>more</a>", {},
     {"/report/new-window"}, true},
    {"Print", "<script>window.print(); fetch('/report/printed');</script>", {"/report/printed"}, {}},
    {"Permissions",
     "<script>function report(what, granted) { fetch('/report/' + what + (granted ? '-granted' : '-refused')); }"
     "if (window.Notification) Notification.requestPermission().then(p => report('notification', p == 'granted'));"
     "else report('notification', false);"
     "if (navigator.geolocation) navigator.geolocation.getCurrentPosition(() => report('location', true),"
     " () => report('location', false)); else report('location', false);"
     "if (navigator.mediaDevices) navigator.mediaDevices.getUserMedia({video: true, audio: true})"
     ".then(() => report('camera', true), () => report('camera', false)); else report('camera', false);</script>",
     {"/report/notification-refused", "/report/location-refused", "/report/camera-refused"},
     {"/report/notification-granted", "/report/location-granted", "/report/camera-granted"}},
    {"FileChooser", std::string(kReady) + "<input type=file style='position:fixed;inset:0;width:100%;height:100%'>", {},
     {}, true},
    {"NavigationToAFile",
     "<script>location.href = '{local}'; setTimeout(() => fetch('/report/still-here'), 500);</script>",
     {"/report/still-here"}, {"/report/local-page"}},
    {"FileAddressToStartWith", "", {}, {"/report/local-page"}, false, true},
};

// Every entry below `root`: a folder as its name with '/', a link as its target, a file as its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_symlink())
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_directory())
      entries[name + "/"] = "";
    else
      entries[name] = ReadTextFile(entry.path());
  }
  return entries;
}

// One line for each entry that came, went or changed between two snapshots.
std::string Changes(const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& after) {
  std::string changes;
  for (const auto& [name, bytes] : after) {
    auto was = before.find(name);
    if (was == before.end())
      changes += "new: " + name + "\n";
    else if (was->second != bytes)
      changes += "changed: " + name + "\n";
  }
  for (const auto& [name, bytes] : before)
    if (!after.count(name)) changes += "gone: " + name + "\n";
  return changes;
}

class HostileNoticeTest : public WindowTest, public ::testing::WithParamInterface<HostilePage> {};

// Whatever the page tries, nothing lands in the player's home (where downloads would go), no
// second window opens, nothing is loaded from the disk, and Start still starts the game.
TEST_P(HostileNoticeTest, ThePageWritesNothingAndOpensNothing) {
  const HostilePage& hostile = GetParam();
  const std::string home = m_dir / "home";
  // (A home as a player has it: the client keeps its lock under .cache when it has nowhere better.)
  fs::create_directories(home + "/.config");
  fs::create_directories(home + "/.cache");
  WriteTextFile(home + "/notes.txt", "the player's own notes\n");
  WriteTextFile(home + "/.config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME\"\n");
  const auto before = Snapshot(home);
  // The view's cache and data folders are its own business, kept apart from the home folder.
  const std::string state = m_dir / "state";
  fs::create_directories(state);

  MakeWorld(kAllCurrent);
  FtpServer ftp(WorldFtp());
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  // The page on the disk would show itself by asking the notice server for its picture.
  const std::string local = m_dir / "local.html";
  NoticeServer notice([&] {
    std::string html = "<html><body>" + hostile.html + "</body></html>";
    const size_t at = html.find("{local}");
    return at == std::string::npos ? html : html.replace(at, 7, "file://" + local);
  }());
  WriteTextFile(local, "<html><body style='background:#ff00ff'><img src='" + notice.Base() +
                           "/report/local-page'></body></html>");
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), hostile.startsLocal ? "file://" + local : notice.Url(),
              {{"HOME", home}, {"XDG_CACHE_HOME", state + "/cache"}, {"XDG_DATA_HOME", state + "/data"}});
  XServer::Rect window = WaitForMainWindow(client);
  const unsigned long main = s_x->WindowsTitled(kTitle).front();
  auto otherWindows = [&] {
    std::vector<unsigned long> others;
    for (unsigned long w : s_x->TopLevels())
      if (w != main) others.push_back(w);
    return others;
  };
  auto refusedSeen = [&] {
    for (const std::string& path : hostile.refused)
      if (notice.Requests(path)) return true;
    return false;
  };
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
  if (hostile.clicked) {
    ASSERT_TRUE(WaitUntil([&] { return notice.Requests("/report/ready") > 0; }, kWaitMs)) << notice.Log();
    const RECT page = ControlRect(1000);
    s_x->Xdotool("mousemove --sync " + std::to_string(window.x + (page.left + page.right) / 2) + " " +
                 std::to_string(window.y + (page.top + page.bottom) / 2) + " click 1");
  }
  // The page has had its chance once it made its requests; what it set going then gets a moment to
  // land (that moment ends early when something does).
  EXPECT_TRUE(WaitUntil([&] { return notice.SawAll(hostile.made) || !otherWindows().empty(); }, kWaitMs))
      << notice.Log();
  WaitUntil([&] { return Snapshot(home) != before || !otherWindows().empty() || refusedSeen(); }, 2000);
  Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}),
       std::string("window_hostile_notice_") + hostile.name);

  EXPECT_EQ(Changes(before, Snapshot(home)), "");
  // Nor in the view's own folders: what the server sent as attachments is on the disk nowhere.
  for (const auto& [name, bytes] : Snapshot(state))
    EXPECT_EQ(bytes.find("Exec=true"), std::string::npos) << name;
  EXPECT_EQ(otherWindows().size(), 0u);
  EXPECT_FALSE(refusedSeen()) << notice.Log();
  // The window still takes the player's input.
  PointAt(window, IDC_START);
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(10000), 0);
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(m_world + "/game/zobi_args.txt"); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Pages, HostileNoticeTest, ::testing::ValuesIn(kHostilePages),
                         [](const ::testing::TestParamInfo<HostilePage>& info) { return info.param.name; });

TEST_F(WindowTest, TheFrontEndIsTheWindowUnderADisplayAndTheConsoleOtherwise) {
  {  // A display that cannot be opened: one line saying so, then the console.
    ClientProcess client;
    ASSERT_TRUE(client.Start({}, {{"TARVO_UI", "gui"}, {"DISPLAY", ":9876"}}));
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    const std::string err = client.Stderr();
    EXPECT_EQ(err.rfind("TarvoPatchClient: no window (", 0), 0u) << err;
    EXPECT_EQ(err.substr(err.find('\n') + 1), "Cannot execute\n");
  }
  {  // No display: the console, silently.
    ClientProcess client;
    ASSERT_TRUE(client.Start({}, {{"TARVO_UI", ""}}));
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "Cannot execute\n");
  }
  {  // The console forced under a display.
    ClientProcess client;
    ASSERT_TRUE(client.Start({}, {{"TARVO_UI", "console"}, {"DISPLAY", s_x->Display()}}));
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "Cannot execute\n");
  }
  {  // Under a display the message is a box, and no main window is built for an empty command line.
    ClientProcess client;
    ASSERT_TRUE(client.Start({}, {{"TARVO_UI", ""}, {"DISPLAY", s_x->Display()}}));
    unsigned long box = s_x->WaitForWindow(kBoxTitle, kWaitMs);
    ASSERT_NE(box, 0u) << client.Stderr();
    EXPECT_TRUE(s_x->WindowsTitled(kTitle).empty());
    XServer::Rect boxRect = s_x->Geometry(box);
    s_x->Xdotool("mousemove --sync " + std::to_string(boxRect.x + boxRect.width / 2) + " " +
                 std::to_string(boxRect.y + 5));
    s_x->Xdotool("key Return");
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr().find("Cannot execute"), std::string::npos);
  }
}

// A client with nothing to patch: Start unlocks and the client waits for the player.
class IdleWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    MakeWorld(kAllCurrent);
    FtpServer::Options options = WorldFtp();
    m_ftp = std::make_unique<FtpServer>(options);
    m_server = std::make_unique<PatchServer>(e2e::PatchConfig(kAllCurrent));
    StartClient(m_client, m_server->Port(), m_ftp->Port(), "about:blank");
    m_window = s_x->WaitForWindow(kTitle, kWaitMs);
    ASSERT_NE(m_window, 0u) << m_client.Stderr();
    m_rect = s_x->Geometry(m_window);
    ASSERT_TRUE(WaitForFrame(m_rect, IDC_START, 1)) << m_client.Stderr();
  }
  void TearDown() override {
    s_x->StopWindowManager();
    if (m_client.Running()) {
      PointAt(s_x->Geometry(m_window), IDCANCEL);
      s_x->Xdotool("click 1");
      EXPECT_EQ(m_client.Wait(kWaitMs), 0);
    }
  }
  // Points at the window's background, away from every control.
  void PointAtBackground() const {
    s_x->Xdotool("mousemove --sync " + std::to_string(m_rect.x + 220) + " " + std::to_string(m_rect.y + 30));
  }
  // Waits for the About box, drawn over the window, and closes it with Return; the window's picture
  // shows again where the box was.
  void CloseAboutBox() const {
    const unsigned long box = s_x->WaitForWindow(kAboutTitle, kWaitMs);
    ASSERT_NE(box, 0u);
    const XServer::Rect r = s_x->Geometry(box);
    EXPECT_TRUE(WaitUntil([&] { return PictureMismatches(Grab(m_rect)) > 1000; }, kWaitMs));
    Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}), "window_about_box");
    s_x->Xdotool("mousemove --sync " + std::to_string(r.x + r.width / 2) + " " + std::to_string(r.y + 5));
    s_x->Xdotool("key Return");
    EXPECT_TRUE(s_x->WaitForNoWindow(kAboutTitle, 5000));
    EXPECT_TRUE(WaitUntil([&] { return PictureMismatches(Grab(m_rect)) == 0; }, kWaitMs));
  }

  static constexpr const char* kAboutTitle = "About TarvoPatchClient";
  std::unique_ptr<FtpServer> m_ftp;
  std::unique_ptr<PatchServer> m_server;
  ClientProcess m_client;
  unsigned long m_window = 0;
  XServer::Rect m_rect;
};

TEST_F(IdleWindowTest, TheAboutBoxOpensFromTheContextMenuAndFromF1AndCloses) {
  // A right click on the background offers the About item in a pop-up menu.
  PointAtBackground();
  const size_t popUpsBefore = s_x->PopUps().size();
  s_x->Xdotool("click 3");
  std::vector<unsigned long> menus;
  ASSERT_TRUE(WaitUntil([&] { return (menus = s_x->PopUps()).size() > popUpsBefore; }, kWaitMs));
  const XServer::Rect menu = s_x->Geometry(menus.back());
  Shot(s_x->Grab(XServer::Rect{0, 0, s_x->Screen().width, s_x->Screen().height}), "window_context_menu");
  // The menu holds that one item.
  s_x->Xdotool("mousemove --sync " + std::to_string(menu.x + menu.width / 2) + " " +
               std::to_string(menu.y + menu.height / 2));
  s_x->Xdotool("click 1");
  CloseAboutBox();
  EXPECT_TRUE(m_client.Running());  // the box ends nothing

  PointAtBackground();
  s_x->Xdotool("key F1");
  CloseAboutBox();
  EXPECT_TRUE(m_client.Running());
}

TEST_F(IdleWindowTest, MinimisedTheWindowCarriesTheIconAndRestoredItIsDrawnAgain) {
  // The window's icon is icon 128, each of its sizes.
  const std::vector<ResourceImage> icon = ReadIconResource(RT_ICON, IDR_MAINFRAME);
  const std::vector<ResourceImage> shown = SplitIconProperty(s_x->Icon(m_window));
  ASSERT_FALSE(icon.empty());
  ASSERT_EQ(shown.size(), icon.size());
  for (const ResourceImage& image : icon) {
    bool found = false;
    for (const ResourceImage& s : shown) found |= SamePicture(image, s.width, s.height, s.argb);
    EXPECT_TRUE(found) << image.width << " x " << image.height;
  }

  // Minimising needs a window manager: it carries out the request and unmaps the window.
  ASSERT_TRUE(s_x->StartWindowManager()) << "openbox is needed for this test";
  ASSERT_TRUE(WaitUntil([&] { return s_x->WmState(m_window) == 1; }, kWaitMs));
  // The manager places the window where it likes; it goes back where the whole of it shows.
  ASSERT_TRUE(s_x->Xdotool("windowmove --sync " + std::to_string(m_window) + " 100 100"));
  m_rect = s_x->Geometry(m_window);
  ASSERT_TRUE(WaitUntil([&] { return PictureMismatches(Grab(m_rect)) == 0; }, kWaitMs));
  ASSERT_TRUE(s_x->Xdotool("windowminimize " + std::to_string(m_window)));
  ASSERT_TRUE(WaitUntil([&] { return s_x->WmState(m_window) == 3 && !s_x->IsMapped(m_window); }, kWaitMs));
  EXPECT_GT(PictureMismatches(Grab(m_rect)), kClientWidth * kClientHeight / 2);  // the screen lost the picture
  EXPECT_TRUE(m_client.Running());

  // Restored, the window is mapped again and draws its picture and buttons anew.
  ASSERT_TRUE(s_x->Xdotool("windowactivate " + std::to_string(m_window)));
  ASSERT_TRUE(WaitUntil([&] { return s_x->WmState(m_window) == 1 && s_x->IsMapped(m_window); }, kWaitMs));
  // (The manager animates the frame back into place: the window's place is read again each time.)
  EXPECT_TRUE(WaitUntil(
      [&] {
        m_rect = s_x->Geometry(m_window);
        XServer::Image image = Grab(m_rect);
        return PictureMismatches(image) == 0 && ShowsFrame(image, IDC_START, 1) && ShowsFrame(image, IDCANCEL, 1);
      },
      kWaitMs));
  Shot(Grab(m_rect), "window_restored");
}

TEST_F(IdleWindowTest, HoveringShowsTheHandOverStartAndEachButtonsTooltip) {
  // Over Start: the hand cursor, the resource's picture and hot spot.
  const std::vector<ResourceImage> hand = ReadIconResource(RT_CURSOR, IDC_HANDCURSOR);
  ASSERT_EQ(hand.size(), 1u);
  auto showsHand = [&] {
    XServer::Cursor c = s_x->CurrentCursor();
    return c.xhot == hand[0].xhot && c.yhot == hand[0].yhot && SamePicture(hand[0], c.width, c.height, c.argb);
  };
  PointAt(m_rect, IDC_START);
  EXPECT_TRUE(WaitUntil(showsHand, kWaitMs));

  // Its tooltip: a pop-up window of the tooltip type appears below Start after a moment.
  auto tooltip = [&](XServer::Rect& rect) {
    for (unsigned long w : s_x->PopUps())
      if (s_x->WindowType(w) == "_NET_WM_WINDOW_TYPE_TOOLTIP") {
        rect = s_x->Geometry(w);
        return true;
      }
    return false;
  };
  auto under = [&](const XServer::Rect& tip, int id) {
    const RECT button = ControlRect(id);
    const int centre = tip.x + tip.width / 2 - m_rect.x;
    return centre >= button.left - 40 && centre <= button.left + 77 + 40;
  };
  XServer::Rect startTip, cancelTip;
  ASSERT_TRUE(WaitUntil([&] { return tooltip(startTip); }, kWaitMs));
  Shot(s_x->Grab(XServer::Rect{m_rect.x, m_rect.y, m_rect.width, m_rect.height + 60}), "window_start_tooltip");
  EXPECT_TRUE(under(startTip, IDC_START));

  // Over Cancel: no hand, and Cancel's own tooltip, narrower ("取消" against "开始游戏").
  PointAt(m_rect, IDCANCEL);
  EXPECT_TRUE(WaitUntil([&] { return !showsHand(); }, kWaitMs));
  ASSERT_TRUE(WaitUntil([&] { return tooltip(cancelTip) && under(cancelTip, IDCANCEL); }, kWaitMs));
  EXPECT_LT(cancelTip.width, startTip.width);

  // Away from the buttons, the tooltip goes.
  PointAtBackground();
  EXPECT_TRUE(WaitUntil([&] { return !tooltip(cancelTip); }, kWaitMs));
}
