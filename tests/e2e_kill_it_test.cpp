// A multi-level data patch killed (SIGKILL) at fixed points of its download, unpack, renames and
// registry write, each followed by runs until the patch completes: the installation ends as an
// uninterrupted run leaves it, and neither an installed file nor the registry file is ever damaged.
//
// The points are found from outside, in the file system: the test watches the game folder and the
// registry's folder (inotify) and kills the client the moment the chosen event of the chosen file
// is seen, such as "the second rename onto Data/order.txt". The client has no test hook.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <map>

#include "e2e_installation.h"

namespace fs = std::filesystem;
using e2e::kWaitMs;

namespace {

// Events of the files below a world folder: the folder itself, and its game folder with every
// folder made in it later. Paths are relative to the world folder, with '/'. The first events in a
// folder made during the run may come before its watch: points lie in folders that exist by then.
class FileEvents {
 public:
  struct Event {
    std::string path;
    uint32_t mask;
  };

  FileEvents(const std::string& world) : m_fd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    Watch(world, "");
    for (const auto& entry : fs::recursive_directory_iterator(world + "/game")) {
      if (entry.is_directory()) Watch(entry.path().string(), fs::relative(entry.path(), world).generic_string() + "/");
    }
    Watch(world + "/game", "game/");
  }
  ~FileEvents() { close(m_fd); }
  FileEvents(const FileEvents&) = delete;
  FileEvents& operator=(const FileEvents&) = delete;

  // The events that arrived within `ms`, in order (none when nothing happened).
  std::vector<Event> Next(int ms) {
    std::vector<Event> events;
    pollfd fd{m_fd, POLLIN, 0};
    if (poll(&fd, 1, ms) <= 0) return events;
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t got = read(m_fd, buffer, sizeof buffer);
    for (ssize_t at = 0; got > 0 && at < got;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      auto folder = m_folders.find(e->wd);
      if (folder == m_folders.end() || e->len == 0) continue;
      Event event{folder->second.second + e->name, e->mask};
      // A folder made during the run is watched from now on.
      if ((e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO))) {
        Watch(folder->second.first + "/" + e->name, event.path + "/");
      }
      events.push_back(std::move(event));
    }
    return events;
  }

 private:
  void Watch(const std::string& folder, const std::string& prefix) {
    int wd = inotify_add_watch(m_fd, folder.c_str(),
                               IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR);
    if (wd >= 0) m_folders[wd] = {folder, prefix};
  }

  int m_fd;
  std::map<int, std::pair<std::string, std::string>> m_folders;  // watch -> folder, path prefix
};

// A point of the run: the `occurrence`-th event `mask` of the file `path` (relative to the world),
// for writes the first one after which the file holds at least `bytes`.
struct KillPoint {
  const char* stage;
  const char* path;
  uint32_t mask;
  int occurrence = 1;
  uintmax_t bytes = 0;
};

const KillPoint kPoints[] = {
    {"download", "game/TempList.dat", IN_CREATE},
    {"download", "game/Texture/T_120.zip", IN_MODIFY},
    {"download", "game/Texture/T_120.zip", IN_MODIFY, 1, 800000},
    {"download", "game/Texture/T_120.zip", IN_CLOSE_WRITE},
    {"download", "game/PatchMusic_120.zip", IN_CREATE},
    {"download", "game/Data/C_120.zip", IN_CLOSE_WRITE},
    {"download", "game/Data/B_110.zip", IN_CREATE},
    {"download", "game/Data/A_110.zip", IN_MODIFY},
    {"unpack", "game/Texture/pack.bin.part0_", IN_CREATE},
    {"unpack", "game/Texture/pack.bin.part0_", IN_MODIFY, 1, 1500000},
    {"unpack", "game/Texture/pack.bin.part0_", IN_CLOSE_WRITE},
    {"unpack", "game/Data/Sub", IN_CREATE},  // a folder an archive brings
    {"unpack", "game/Data/c.dat.part0_", IN_CREATE},
    {"unpack", "game/Data/order.txt.part0_", IN_CLOSE_WRITE, 2},
    {"unpack", "game/Data/a.dat.part0_", IN_MODIFY},
    {"rename", "game/Texture/pack.bin", IN_MOVED_TO},
    {"rename", "game/Music/zoma3.qkn", IN_MOVED_TO},  // the music move
    {"rename", "game/Music/Temp", IN_DELETE, 2},      // its folder gone (the first is the session's)
    {"rename", "game/Data/order.txt", IN_MOVED_TO, 1},
    {"rename", "game/Data/b.dat", IN_MOVED_TO},
    {"rename", "game/Data/order.txt", IN_MOVED_TO, 3},
    {"rename", "game/Texture/T_120.zip", IN_DELETE},  // the archive gone once it is in
    {"rename", "game/Data/A_110.zip", IN_DELETE},     // the last archive: every file is in
    {"registry", "registry.reg.tmp", IN_CREATE},
    {"registry", "registry.reg.tmp", IN_CLOSE_WRITE},
    {"registry", "registry.reg", IN_MOVED_TO},
};

const char* EventName(uint32_t mask) {
  if (mask & IN_CREATE) return "create";
  if (mask & IN_MODIFY) return "write";
  if (mask & IN_CLOSE_WRITE) return "close";
  if (mask & IN_MOVED_TO) return "rename onto";
  if (mask & IN_DELETE) return "delete";
  return "other";
}

std::string Describe(const KillPoint& point) {
  std::string text = std::string(point.stage) + ": " + EventName(point.mask) + " #" + std::to_string(point.occurrence) +
                     " of " + point.path;
  if (point.bytes) text += " at " + std::to_string(point.bytes) + " bytes";
  return text;
}

// The sanitizer builds run the client several times slower; there every other point is enough to
// cover each stage, and the whole set runs in the plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kPointStep = 2;
#else
constexpr size_t kPointStep = 1;
#endif

class KillTest : public e2e::BrokenPatchTest {
 protected:
  // Runs the client until `point` and kills it there; false when the run never reached it.
  bool RunAndKillAt(int ftpPort, const KillPoint& point, std::string& seen) {
    FileEvents events(m_world);
    ClientProcess client;
    Start(client, ftpPort);
    int count = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < until) {
      for (const auto& e : events.Next(20)) {
        seen += std::string(EventName(e.mask)) + " " + e.path + "\n";
        if (e.path != point.path || !(e.mask & point.mask)) continue;
        std::error_code ec;
        if (point.bytes && fs::file_size(m_world + "/" + point.path, ec) < point.bytes) continue;
        if (++count < point.occurrence) continue;
        client.Signal(SIGKILL);
        return client.Wait(kWaitMs) == 128 + SIGKILL;
      }
      if (!client.Running()) return false;
    }
    return false;
  }
};

TEST_F(KillTest, APatchKilledAtAnyPointIsCompletedByTheNextRunsWithNothingDamaged) {
  FtpServer ftp(FtpOptions());
  int points = 0, runs = 0;
  for (size_t i = 0; i < std::size(kPoints); i += kPointStep) {
    const KillPoint& point = kPoints[i];
    const std::string what = Describe(point);
    SCOPED_TRACE(what);
    ResetInstallation();
    std::string seen;
    ASSERT_TRUE(RunAndKillAt(ftp.Port(), point, seen)) << "the run never reached the point; it saw:\n" << seen;
    ExpectSound("killed at " + what);
    const int taken = RunUntilPatched(ftp.Port(), 3, "after the kill at " + what);
    EXPECT_GT(taken, 0);
    ++points;
    runs += taken;
    if (HasFailure()) break;
  }
  RecordProperty("points", points);
  RecordProperty("runs_after_the_kills", runs);
}

}  // namespace
