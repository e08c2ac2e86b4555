// Which names of a game folder are files and which are folders once given entries are installed
// in order. A patch can neither remove a file nor a folder, so a name that is a file stays a file
// in every installation, and a folder stays a folder: an entry that needs the other is one the
// client can never install. Both `tarvo-publish data` (the old tree against the new files) and
// `check` (the archives along each chain of levels) ask this.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace publish {

class FolderShape {
 public:
  struct Clash {
    // kFolderOverFile: the client cannot make the folder, so the entry fails its archive (or, a
    // folder entry, is passed over). kFileOverFolder: the entry's file is never put in place.
    enum Kind { kFolderOverFile, kFileOverFolder } kind;
    std::string name;    // the file or folder in the way, as first spelled, '/' separated
    std::string origin;  // what put it there, as given to Add
  };

  // Adds a file, or a folder when `path` ends in a separator, and the folders on its way ('/' or
  // '\' separated; "." and ".." as the client takes them). Names are compared as the player's
  // system does, without regard to ASCII case. A clash leaves the shape as it was.
  std::optional<Clash> Add(std::string_view path, const std::string& origin);

 private:
  struct Made {
    bool folder;
    std::string name;
    std::string origin;
  };
  std::map<std::string, Made> m_made;  // by folded name
};

}  // namespace publish
