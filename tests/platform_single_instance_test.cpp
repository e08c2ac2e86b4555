// The single-instance lock without a session runtime folder: it lives in a folder of the user's
// own, which no other user can make, hold or point elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/single_instance.h"
#include "support/ClientProcess.h"

namespace fs = std::filesystem;

namespace {

// A process of its own that takes the lock and holds it until the object goes away.
class LockHolder {
 public:
  LockHolder() {
    int result[2];
    if (pipe(result) != 0 || pipe(m_release) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      char taken = platform::AcquireSingleInstance("TarvoPatchClient") ? '1' : '0';
      ssize_t n = write(result[1], &taken, 1);
      (void)n;
      close(m_release[1]);
      n = read(m_release[0], &taken, 1);  // until the holder goes away
      _exit(0);
    }
    close(result[1]);
    close(m_release[0]);
    char taken = '0';
    m_taken = read(result[0], &taken, 1) == 1 && taken == '1';
    close(result[0]);
  }
  ~LockHolder() {
    close(m_release[1]);
    waitpid(m_pid, nullptr, 0);
  }
  bool Taken() const { return m_taken; }

 private:
  pid_t m_pid = -1;
  int m_release[2] = {-1, -1};
  bool m_taken = false;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", m_dir.Path().c_str(), 1);
    setenv("HOME", (m_dir / "home").c_str(), 1);
    mkdir((m_dir / "home").c_str(), 0755);
  }
  std::string LockIn(const std::string& folder) const {
    return folder + "/TarvoPatchClient-" + std::to_string(geteuid()) + ".lock";
  }
  TempDir m_dir;
  std::string m_private = m_dir / ("tarvo-" + std::to_string(geteuid()));
  std::string m_cache = m_dir / "home/.cache/tarvo";
};

bool IsPrivateFolder(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700;
}

}  // namespace

TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheLockLivesInAFolderOfTheUsersOwn) {
  LockHolder first;
  ASSERT_TRUE(first.Taken());
  EXPECT_TRUE(IsPrivateFolder(m_private));
  EXPECT_TRUE(fs::exists(LockIn(m_private)));
  LockHolder second;
  EXPECT_FALSE(second.Taken());
}

TEST_F(SingleInstanceTest, AFolderThatIsALinkOrOpenToOthersIsNotUsed) {
  {  // A link to a folder elsewhere: nothing is made where it points.
    mkdir((m_dir / "elsewhere").c_str(), 0700);
    ASSERT_EQ(symlink((m_dir / "elsewhere").c_str(), m_private.c_str()), 0);
    LockHolder holder;
    EXPECT_TRUE(holder.Taken());
    EXPECT_TRUE(fs::is_empty(m_dir / "elsewhere"));
    EXPECT_TRUE(fs::exists(LockIn(m_cache)));
    EXPECT_TRUE(IsPrivateFolder(m_cache));
  }
  fs::remove(m_private);
  fs::remove_all(m_dir / "home/.cache");
  {  // A folder others may write into (as one made by another user would be).
    mkdir(m_private.c_str(), 0777);
    chmod(m_private.c_str(), 0777);
    LockHolder holder;
    EXPECT_TRUE(holder.Taken());
    EXPECT_FALSE(fs::exists(LockIn(m_private)));
    EXPECT_TRUE(fs::exists(LockIn(m_cache)));
  }
  fs::remove_all(m_private);
  if (geteuid() == 0) {  // A private folder of another user's, where only root can make one.
    mkdir(m_private.c_str(), 0700);
    ASSERT_EQ(chown(m_private.c_str(), 65534, 65534), 0);
    LockHolder holder;
    EXPECT_TRUE(holder.Taken());
    EXPECT_FALSE(fs::exists(LockIn(m_private)));
  }
}
