#include <mutex>
#include <string>

#include "app/PatchClientDlg.h"
#include "platform/files.h"

namespace {

// Music files are told by the last three characters of the name, with case, so "xyzqkn" counts
// and "ZOMA14.QKN" does not.
bool IsMusicName(const std::string& name) {
  return name.size() >= 3 && name.compare(name.size() - 3, 3, "qkn") == 0;
}

}  // namespace

int CPatchClientDlg::MoveMusicFromTemp(const char* baseFolder, int deleteOthers) {
  std::string base = baseFolder ? baseFolder : "";
  std::string musicFolder = base + "\\Music";
  std::string tempFolder = base + "\\Music\\Temp";

  // A link in the scratch folder's place fails the move: emptying it would delete files wherever
  // it points.
  if (!platform::SetCurrentDirectoryNoLink(tempFolder) && !platform::CreateDirectory(tempFolder)) {
    platform::SetCurrentDirectory(base);
    MessageBox("Music patch failed..", MB_OK);
    return 0;
  }
  platform::FileFind find;
  bool found = find.FindFirst(tempFolder + "\\*.*");
  platform::SetCurrentDirectory(musicFolder);

  for (; found; found = find.FindNext()) {
    if (find.IsDots()) continue;
    const std::string& name = find.Name();
    std::string source = tempFolder + "\\" + name;
    if (IsMusicName(name)) {
      std::string destination = musicFolder + "\\" + name;
      platform::SetFileAttributes(destination, platform::kFileAttributeNormal);
      // The new file takes the old one's place in one step, so a failure in between never leaves
      // the song missing. Where there is no old file to replace, or it is in use or protected,
      // the new one is thrown away and the old one kept.
      if (!platform::FileExists(destination) ||
          platform::PutFileInPlace(source, destination, true) != platform::PlaceResult::kPlaced) {
        platform::DeleteFile(source);
      }
    } else if (deleteOthers) {
      platform::DeleteFile(source);
    }
  }
  find.Close();
  platform::SetCurrentDirectory(base);
  platform::RemoveDirectory("Music\\Temp");
  return 1;
}

void CPatchClientDlg::ClearPatchList() {
  // The patch worker's download and unpack threads may both fail at once.
  static std::mutex releasing;
  std::lock_guard<std::mutex> hold(releasing);
  m_pPatchList.reset();
}
