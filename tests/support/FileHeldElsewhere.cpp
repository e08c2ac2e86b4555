#include "support/FileHeldElsewhere.h"

#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"

FileHeldElsewhere::FileHeldElsewhere(const std::string& path) {
  int ready[2], release[2];
  if (pipe(ready) != 0) return;
  if (pipe(release) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  m_child = fork();
  if (m_child == 0) {
    platform::FileHandle handle;
    char c = handle.Open(path, platform::kGenericRead | platform::kGenericWrite, platform::kShareNone,
                         platform::kOpenExisting) ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(2);
    if (read(release[0], &c, 1) < 0) _exit(2);
    handle.Close();
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  m_release = release[1];
  char c = 0;
  m_holding = m_child > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
  close(ready[0]);
}

FileHeldElsewhere::~FileHeldElsewhere() { Release(); }

bool FileHeldElsewhere::Release() {
  if (m_child <= 0) return false;
  if (m_release >= 0) {
    ssize_t n = write(m_release, "x", 1);
    (void)n;  // a child that already ended needs no signal
    close(m_release);
    m_release = -1;
  }
  int status = 0;
  waitpid(m_child, &status, 0);
  m_child = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
