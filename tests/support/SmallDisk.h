// A small disk for a folder, to fill up on purpose (a tmpfs; mounting it needs root).
#pragma once
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

// A tmpfs of `bytes` mounted on a folder for the object's life (needs root).
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, size_t bytes) : m_folder(folder) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) m_mounted = true;
    else m_error = std::strerror(errno);
  }
  ~SmallDisk() {
    if (m_mounted) umount2(m_folder.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return m_mounted; }
  const std::string& Error() const { return m_error; }

 private:
  std::string m_folder;
  bool m_mounted = false;
  std::string m_error;
};
