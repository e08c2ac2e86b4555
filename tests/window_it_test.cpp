// The client's window on a private X server, against the real binary and the project's patch and
// FTP servers: its title, size and picture, the Start button's frames through a patch, clicks on a
// locked and an unlocked Start, Cancel, a stop code's message box, the notice page, and the choice
// between the window and the console. Screenshots of each state go to the build folder.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
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
#include "support/XServer.h"

namespace fs = std::filesystem;
using e2e::kWaitMs;

namespace {

const char* const kTitle = "Tarvo补丁更新程序";
const char* const kBoxTitle = "TarvoPatchClient";
const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";
const char* const kAllCurrent = "1.0,1.0,1.0,1.0";

uint32_t ToRgb(COLORREF c) { return (uint32_t(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// Serves one HTML page whose background is magenta, and counts the requests for each path.
class NoticeServer {
 public:
  NoticeServer() {
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
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/gameweb/notice.php"; }
  int Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const std::string& p : m_paths) n += p == path;
    return n;
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
      if (start != std::string::npos && end != std::string::npos) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.push_back(request.substr(start + 1, end - start - 1));
      }
      const std::string body = "<html><body style=\"background:#ff00ff\">notice</body></html>";
      const std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      ssize_t sent = write(client, reply.data(), reply.size());
      (void)sent;
      close(client);
    }
  }
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

  void MakeWorld(const std::string& serverVersions) {
    ASSERT_TRUE(e2e::MakeWorld(m_world, serverVersions, "1.0,1.0,1.0,1.0"));
  }
  // The client with the window on the test's display (TARVO_UI left to its default).
  void StartClient(ClientProcess& client, int patchPort, int ftpPort, const std::string& noticeUrl) {
    ASSERT_TRUE(client.Start({"1", "127.0.0.1", std::to_string(patchPort)},
                             {{"TARVO_REGISTRY", m_registry},
                              {"TARVO_FTP_PORT", std::to_string(ftpPort)},
                              {"TARVO_NOTICE_URL", noticeUrl},
                              {"TARVO_UI", ""},
                              {"DISPLAY", s_x->Display()}}));
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
  static void Shot(const XServer::Image& image, const std::string& name) {
    XServer::SavePng(image, std::string(TARVO_SCREENSHOT_DIR) + "/" + name + ".png");
  }
  // Whether the button `id` shows frame `frame` of its strip, pixel for pixel.
  static bool ShowsFrame(const XServer::Image& image, int id, int frame) {
    CSkinBitmap strip;
    strip.Load(id == IDC_START ? IDB_START : IDB_CANCEL);
    const RECT r = ControlRect(id);
    for (int y = 0; y < strip.Height(); ++y)
      for (int x = 0; x < strip.FrameWidth(); ++x)
        if (image.At(r.left + x, r.top + y) != ToRgb(strip.Pixel(frame * strip.FrameWidth() + x, y))) return false;
    return true;
  }
  bool WaitForFrame(const XServer::Rect& window, int id, int frame, int ms = kWaitMs) const {
    return WaitUntil([&] { return ShowsFrame(Grab(window), id, frame); }, ms);
  }
  // Moves the pointer to the middle of control `id`.
  void PointAt(const XServer::Rect& window, int id) const {
    RECT r = ControlRect(id);
    s_x->Xdotool("mousemove --sync " + std::to_string(window.x + r.left + 38) + " " +
                 std::to_string(window.y + r.top + 11));
  }
  float Version(int n) const { return e2e::RegistryVersion(m_registry, n); }

  static XServer* s_x;
  TempDir m_dir;
  std::string m_world = m_dir / "world";
  std::string m_registry = m_world + "/registry.reg";
};

XServer* WindowTest::s_x = nullptr;

// Pixels of the window that differ from the background picture outside every control.
int PictureMismatches(const XServer::Image& image) {
  CSkinBitmap background;
  background.Load(IDB_BACKGROUND);
  const int controls[] = {IDC_START, IDCANCEL, 1000, IDC_STATUS, IDC_FILE_BYTES, IDC_TOTAL_BYTES,
                          IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS};
  int mismatches = 0;
  for (int y = 0; y < kClientHeight; ++y)
    for (int x = 0; x < kClientWidth; ++x) {
      bool underControl = false;
      for (int id : controls) {
        RECT r = ControlRect(id);
        if (id == IDC_START || id == IDCANCEL) r.right = r.left + 77, r.bottom = r.top + 23;
        underControl |= r.Contains(x, y);
      }
      if (!underControl && image.At(x, y) != ToRgb(background.Pixel(x, y))) ++mismatches;
    }
  return mismatches;
}

}  // namespace

TEST_F(WindowTest, APatchInTheWindowFromLockedStartToTheGame) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options;
  options.root = m_world + "/ftp";
  // The texture pack (3 MiB) arrives slowly, so the patch is seen in the middle.
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 48 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  // Nothing answers at the notice address: the page fails and nothing else changes.
  StartClient(client, server.Port(), ftp.Port(), "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/gameweb/notice.php");
  XServer::Rect window = WaitForMainWindow(client);

  // While the patch runs, Start is locked: hovering, clicking and its keys do nothing.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 0)) << client.Stderr();
  EXPECT_TRUE(ShowsFrame(Grab(window), IDCANCEL, 1));
  PointAt(window, IDC_START);
  s_x->Xdotool("click 1");
  s_x->Xdotool("key Return space");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  XServer::Image patching = Grab(window);
  Shot(patching, "window_patching_locked_start");
  EXPECT_TRUE(ShowsFrame(patching, IDC_START, 0));
  EXPECT_TRUE(client.Running());
  s_x->Xdotool("mousemove --sync 1 1");

  // The patch ends and Start unlocks to its normal frame; the picture shows wherever no control sits.
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1)) << client.Stderr();
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
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(m_world + "/game/zobi_args.txt"); }, 5000));
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, 5000));
}

TEST_F(WindowTest, CancelInTheMiddleOfAPatchEndsTheClient) {
  MakeWorld(kDataPatchDue);
  FtpServer::Options options;
  options.root = m_world + "/ftp";
  options.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  options.slowChunkBytes = 16 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), "about:blank");
  XServer::Rect window = WaitForMainWindow(client);
  ASSERT_TRUE(WaitUntil([&] { return ftp.CountInLog("T_120.zip") > 0; }, kWaitMs));
  PointAt(window, IDCANCEL);
  ASSERT_TRUE(WaitForFrame(window, IDCANCEL, 2));
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(s_x->WaitForNoWindow(kTitle, 5000));
  EXPECT_FLOAT_EQ(Version(3), 1.0f);  // the level was not completed
}

TEST_F(WindowTest, AStopCodeShowsAMessageBoxThatReturnDismisses) {
  MakeWorld(kDataPatchDue);
  fs::remove(m_world + "/ftp/tarvo/PatchInfo/FileList_100.dat");
  FtpServer::Options options;
  options.root = m_world + "/ftp";
  FtpServer ftp(options);
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

TEST_F(WindowTest, TheNoticePageIsShownAndRequestedOnce) {
  MakeWorld(kAllCurrent);
  FtpServer::Options options;
  options.root = m_world + "/ftp";
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(kAllCurrent));
  NoticeServer notice;
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), notice.Url());
  XServer::Rect window = WaitForMainWindow(client);
  const RECT page = ControlRect(1000);
  ASSERT_TRUE(WaitUntil([&] { return Grab(window).At(page.left + 100, page.top + 150) == 0xFF00FF; }, kWaitMs));
  ASSERT_TRUE(WaitForFrame(window, IDC_START, 1));  // nothing to patch: Start unlocks
  Shot(Grab(window), "window_notice_page");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(notice.Requests("/gameweb/notice.php"), 1);
  PointAt(window, IDCANCEL);
  s_x->Xdotool("click 1");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(notice.Requests("/gameweb/notice.php"), 1);
}

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
