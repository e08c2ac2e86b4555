// The single-instance lock lives in a folder of the user's own, which no other user can make, hold
// or point elsewhere, and which no variable of the caller's moves. Each holder runs in a mount
// namespace where the test's folders stand in for /tmp and the user's home.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pwd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "platform/single_instance.h"
#include "support/ClientProcess.h"

namespace fs = std::filesystem;

namespace {

// A process of its own that takes the lock and holds it until the object goes away.
class LockHolder {
 public:
  // `tmp` and `home` stand in for /tmp and the user's home as the user database has it.
  LockHolder(const std::string& tmp, const std::string& home) {
    int result[2];
    if (pipe(result) != 0 || pipe(m_release) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      char taken = '0';
      if (EnterPrivateMounts({{home, getpwuid(geteuid())->pw_dir}, {tmp, "/tmp"}})) {
        switch (platform::AcquireSingleInstance("TarvoPatchClient")) {
          case platform::LockResult::kTaken: taken = '1'; break;
          case platform::LockResult::kHeldElsewhere: taken = '0'; break;
          case platform::LockResult::kNoPlace: taken = 'n'; break;
        }
      }
      ssize_t n = write(result[1], &taken, 1);
      (void)n;
      close(m_release[1]);
      n = read(m_release[0], &taken, 1);  // until the holder goes away
      _exit(0);
    }
    close(result[1]);
    close(m_release[0]);
    if (read(result[0], &m_result, 1) != 1) m_result = '?';
    close(result[0]);
  }
  ~LockHolder() {
    close(m_release[1]);
    waitpid(m_pid, nullptr, 0);
  }
  bool Taken() const { return m_result == '1'; }
  bool NoPlace() const { return m_result == 'n'; }

 private:
  pid_t m_pid = -1;
  int m_release[2] = {-1, -1};
  char m_result = '?';
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(m_tmp.c_str(), 01777);
    mkdir(m_home.c_str(), 0755);
  }
  // A holder started with variables that name other places: they must not move the lock.
  std::unique_ptr<LockHolder> Holder() {
    const std::map<std::string, std::string> misleading = {{"XDG_RUNTIME_DIR", m_dir / "runtime"},
        {"TMPDIR", m_dir / ("elsewhere-" + std::to_string(++m_started))}, {"HOME", m_dir / "elsewhere"}};
    std::map<std::string, std::string> kept;
    for (const auto& [name, value] : misleading) {
      if (const char* old = getenv(name.c_str())) kept[name] = old;
      setenv(name.c_str(), value.c_str(), 1);
    }
    auto holder = std::make_unique<LockHolder>(m_tmp, m_home);
    for (const auto& [name, value] : misleading) {
      if (kept.count(name)) setenv(name.c_str(), kept[name].c_str(), 1);
      else unsetenv(name.c_str());
    }
    return holder;
  }
  std::string LockIn(const std::string& folder) const {
    return folder + "/TarvoPatchClient-" + std::to_string(geteuid()) + ".lock";
  }
  TempDir m_dir;
  std::string m_tmp = m_dir / "tmp";
  std::string m_home = m_dir / "home";
  std::string m_private = m_dir / ("tmp/tarvo-" + std::to_string(geteuid()));
  std::string m_cache = m_dir / "home/.cache/tarvo";
  int m_started = 0;
};

bool IsPrivateFolder(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700;
}

}  // namespace

TEST_F(SingleInstanceTest, EveryClientOfTheUserMeetsOneLockWhateverItsVariables) {
  auto first = Holder();
  ASSERT_TRUE(first->Taken());
  EXPECT_TRUE(IsPrivateFolder(m_private));
  EXPECT_TRUE(fs::exists(LockIn(m_private)));
  auto second = Holder();  // another TMPDIR and runtime folder, the same user
  EXPECT_FALSE(second->Taken());
  EXPECT_FALSE(second->NoPlace());
  EXPECT_FALSE(fs::exists(m_dir / "elsewhere-2"));
}

TEST_F(SingleInstanceTest, AFolderThatIsALinkOrOpenToOthersIsNotUsed) {
  {  // A link to a folder elsewhere: nothing is made where it points.
    mkdir((m_dir / "pointed").c_str(), 0700);
    ASSERT_EQ(symlink((m_dir / "pointed").c_str(), m_private.c_str()), 0);
    auto holder = Holder();
    EXPECT_TRUE(holder->Taken());
    EXPECT_TRUE(fs::is_empty(m_dir / "pointed"));
    EXPECT_TRUE(fs::exists(LockIn(m_cache)));
    EXPECT_TRUE(IsPrivateFolder(m_cache));
  }
  fs::remove(m_private);
  fs::remove_all(m_dir / "home/.cache");
  {  // A folder others may write into (as one made by another user would be).
    mkdir(m_private.c_str(), 0777);
    chmod(m_private.c_str(), 0777);
    auto holder = Holder();
    EXPECT_TRUE(holder->Taken());
    EXPECT_FALSE(fs::exists(LockIn(m_private)));
    EXPECT_TRUE(fs::exists(LockIn(m_cache)));
  }
  {  // And no usable folder at all: the client is told so and does not run unlocked.
    fs::remove_all(m_dir / "home/.cache");
    WriteTextFile(m_dir / "home/.cache", "a file where the cache folder belongs");
    auto holder = Holder();
    EXPECT_TRUE(holder->NoPlace());
  }
  fs::remove_all(m_private);
  fs::remove(m_dir / "home/.cache");
  if (geteuid() == 0) {  // A private folder of another user's, where only root can make one.
    mkdir(m_private.c_str(), 0700);
    ASSERT_EQ(chown(m_private.c_str(), 65534, 65534), 0);
    auto holder = Holder();
    EXPECT_TRUE(holder->Taken());
    EXPECT_FALSE(fs::exists(LockIn(m_private)));
  }
}
