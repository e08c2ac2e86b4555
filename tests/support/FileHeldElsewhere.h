// A file held open without sharing by another process, as a running program or the game would.
#pragma once
#include <sys/types.h>

#include <string>

class FileHeldElsewhere {
 public:
  // Forks a child that opens `path` with no sharing and keeps it open; returns once it has tried.
  explicit FileHeldElsewhere(const std::string& path);
  ~FileHeldElsewhere();  // releases the file if Release was not called
  FileHeldElsewhere(const FileHeldElsewhere&) = delete;
  FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;

  // Whether the child managed to open the file.
  bool Holding() const { return m_holding; }
  // Lets the child close the file and end; true when it ended cleanly.
  bool Release();

 private:
  pid_t m_child = -1;
  int m_release = -1;
  bool m_holding = false;
};
