#include "publish/TreeDiff.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "publish/FolderShape.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

struct Listing {
  std::set<std::string> files;
  std::set<std::string> folders;
  std::vector<TreeProblem> refused;
};

bool ListTree(const fs::path& root, Listing& listing, std::string& why) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    why = root.string() + " is not a folder";
    return false;
  }
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    fs::file_status status = it->symlink_status(error);
    if (error) break;
    const std::string relative = it->path().lexically_relative(root).generic_string();
    if (fs::is_symlink(status)) {
      // The player's installation holds files only; a link would be written as whatever it names.
      listing.refused.push_back({relative, "is a link; a patch carries plain files only"});
    } else if (fs::is_regular_file(status)) {
      listing.files.insert(relative);
    } else if (fs::is_directory(status)) {
      listing.folders.insert(relative);
    } else {
      listing.refused.push_back({relative, "is not a plain file"});
    }
  }
  if (error) {
    why = root.string() + ": " + error.message();
    return false;
  }
  return true;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
  }
  return fa.eof() && fb.eof();
}

}  // namespace

std::string FoldCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool DiffTrees(const std::string& oldRoot, const std::string& newRoot, TreeDiff& diff, std::string& why) {
  diff = TreeDiff{};
  Listing oldTree, newTree;
  if (!ListTree(oldRoot, oldTree, why) || !ListTree(newRoot, newTree, why)) return false;
  diff.refused = std::move(newTree.refused);

  // Two names the player's system cannot tell apart would overwrite each other.
  std::map<std::string, std::string> folded;
  for (const std::string& path : newTree.files) {
    auto [it, fresh] = folded.emplace(FoldCase(path), path);
    if (!fresh) diff.refused.push_back({path, "differs from " + it->second + " only in case"});
  }
  for (const std::string& path : newTree.files) {
    if (!oldTree.files.count(path) || !SameContent(fs::path(oldRoot) / path, fs::path(newRoot) / path)) {
      diff.changed.push_back(path);
    }
  }
  for (const std::string& path : oldTree.files) {
    if (!newTree.files.count(path)) diff.deleted.push_back(path);
  }

  // Installations hold the old tree's files and folders, empty ones too, and keep them: a name
  // that changes from one to the other in the new tree can never be installed.
  const std::string oldOrigin = "the old tree", newOrigin = "the new tree";
  FolderShape shape;
  for (const std::string& path : oldTree.folders) shape.Add(path + "/", oldOrigin);
  for (const std::string& path : oldTree.files) shape.Add(path, oldOrigin);
  for (const std::string& path : diff.changed) {
    const std::optional<FolderShape::Clash> clash = shape.Add(path, newOrigin);
    if (!clash) continue;
    if (clash->kind == FolderShape::Clash::kFolderOverFile) {
      diff.refused.push_back({path, "needs a folder where " + clash->origin + " has the file " + clash->name +
                                        ": a patch cannot remove a file, so the client could never make the folder "
                                        "and would fail the level (\"Unzip failed..\") on every run"});
    } else {
      diff.refused.push_back({path, "is a file where " + clash->origin + " has the folder " + clash->name +
                                        ": a patch cannot remove a folder, so the file would never be installed, "
                                        "though the client records the level"});
    }
  }
  return true;
}

}  // namespace publish
