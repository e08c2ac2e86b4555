#include "publish/DataPatch.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "pipeline/PatchListFile.h"
#include "pipeline/VersionRules.h"
#include "publish/Files.h"
#include "publish/Layout.h"
#include "publish/TreeDiff.h"
#include "publish/ZipWriter.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

struct Archive {
  std::string name;  // inside TarvoPatch, and inside the game folder while it is installed
  uint64_t size = 0;
  int entries = 0;
};

// The level an installation asks for, as the client computes it from the version it recorded.
bool LevelOf(const std::string& text, int64_t& level, std::string& why) {
  if (text.empty() || text[0] < '0' || text[0] > '9') {
    why = "'" + text + "' is not a version text";
    return false;
  }
  level = pipeline::Hundredths(pipeline::DottedVersion(text));
  // The client asks for a list with the low 16 bits of the level only.
  if (level < 0 || level > 0xFFFF) {
    why = "'" + text + "' is beyond the levels the client can ask for";
    return false;
  }
  return true;
}

// Archives go to the top of the game folder while they are installed, so their names must not
// be files of the game: an archive is deleted after unpacking and would take that file with it.
std::string ArchivePrefix(int64_t from, int64_t to) {
  char prefix[48];
  std::snprintf(prefix, sizeof prefix, "Patch_%03lld_%03lld_", static_cast<long long>(from),
                static_cast<long long>(to));
  return prefix;
}
std::string ArchiveName(int64_t from, int64_t to, int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", number);
  return ArchivePrefix(from, to) + digits + ".zip";
}

std::string ListText(const std::string& target, const std::vector<Archive>& archives) {
  std::string text = "TarvoPatch " + target + " end\r\n";
  // The client installs the last record first: the first archive is listed last.
  for (auto it = archives.rbegin(); it != archives.rend(); ++it) {
    text += std::string(kPatchFolder) + "\\" + it->name + " " + std::to_string(it->size) + " zip 0\r\n";
  }
  return text;
}

// The client's own reading of the list must give back exactly what was meant.
bool ClientReadsBack(const std::string& text, const std::string& target, const std::vector<Archive>& archives,
                     std::string& why) {
  pipeline::PatchList list;
  if (pipeline::ParsePatchList(text, list) != pipeline::PatchListResult::kOk || list.targetVersion != target ||
      list.entries.size() != archives.size()) {
    why = "the client would not read the list as written (is '" + target + "' one word?)";
    return false;
  }
  for (size_t i = 0; i < archives.size(); ++i) {
    if (list.entries[i].m_strName != archives[i].name) {
      why = "the client would install the archives in another order";
      return false;
    }
  }
  return true;
}

// Whether the game folder holds `name` at its top, compared as the player's system does.
bool HasTopLevelFile(const std::string& tree, const std::string& name) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(tree, error)) {
    if (FoldCase(entry.path().filename().string()) == FoldCase(name)) return true;
  }
  return false;
}

class ArchivePacker {
 public:
  ArchivePacker(fs::path folder, int64_t from, int64_t to, uint64_t maxBytes)
      : m_folder(std::move(folder)), m_from(from), m_to(to), m_maxBytes(maxBytes) {}

  bool Add(const StoredName& name, const fs::path& source, std::string& why) {
    if (!m_open && !Start(why)) return false;
    if (!m_writer.AddFile(name, source.string(), why)) return false;
    if (m_writer.EntryCount() > 1 && (m_writer.FinishedSize() > m_maxBytes || m_writer.EntryCount() == kMaxEntries)) {
      // Over the limit: this file opens the next archive instead.
      if (!m_writer.DropLast() || !Close(why) || !Start(why)) return false;
      return m_writer.AddFile(name, source.string(), why);
    }
    return true;
  }

  bool Close(std::string& why) {
    if (!m_open) return true;
    m_open = false;
    Archive& archive = m_archives.back();
    archive.entries = m_writer.EntryCount();
    archive.size = m_writer.FinishedSize();
    if (!m_writer.Finish()) {
      why = "cannot write " + archive.name;
      return false;
    }
    return true;
  }

  // Gives the archives their names, replacing those of an earlier publication.
  bool Commit(std::string& why) {
    for (const Archive& archive : m_archives) {
      std::error_code error;
      fs::rename(PartPath(m_folder / archive.name), m_folder / archive.name, error);
      if (error) {
        why = "cannot put " + archive.name + " in place: " + error.message();
        return false;
      }
    }
    return true;
  }

  void Discard() {
    std::error_code error;
    for (const Archive& archive : m_archives) fs::remove(PartPath(m_folder / archive.name), error);
  }

  const std::vector<Archive>& Archives() const { return m_archives; }

 private:
  bool Start(std::string& why) {
    m_archives.push_back({ArchiveName(m_from, m_to, static_cast<int>(m_archives.size()) + 1)});
    if (!m_writer.Create(PartPath(m_folder / m_archives.back().name).string())) {
      why = "cannot create an archive in " + m_folder.string();
      return false;
    }
    m_open = true;
    return true;
  }

  fs::path m_folder;
  int64_t m_from, m_to;
  uint64_t m_maxBytes;
  ZipWriter m_writer;
  bool m_open = false;
  std::vector<Archive> m_archives;
};

// Archives of an earlier publication of the same two levels that the new list no longer names.
void RemoveStaleArchives(const fs::path& folder, int64_t from, int64_t to, const std::vector<Archive>& kept) {
  const std::string prefix = ArchivePrefix(from, to);
  std::set<std::string> names;
  for (const Archive& archive : kept) names.insert(archive.name);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".zip" && !names.count(name)) {
      fs::remove(entry.path(), error);
    }
  }
}

}  // namespace

int PublishData(const DataOptions& options, std::ostream& out, std::ostream& err) {
  std::string why;
  int64_t from = 0, to = 0;
  if (!LevelOf(options.fromLevel, from, why) || !LevelOf(options.toVersion, to, why)) {
    err << "tarvo-publish: " << why << "\n";
    return 2;
  }
  if (to <= from) {
    err << "tarvo-publish: --to " << options.toVersion << " is not above --from " << options.fromLevel
        << ": players would patch to the same level again on every run\n";
    return 2;
  }
  if (options.maxArchiveBytes == 0 || options.maxArchiveBytes > kMaxArchiveBytes) {
    err << "tarvo-publish: --max-archive must be between 1 and " << (kMaxArchiveBytes >> 20) << " MiB\n";
    return 2;
  }

  TreeDiff diff;
  if (!DiffTrees(options.oldTree, options.newTree, diff, why)) {
    err << "tarvo-publish: " << why << "\n";
    return 1;
  }
  std::vector<StoredName> names;
  for (const std::string& path : diff.changed) {
    std::optional<StoredName> name = StoredEntryName(path, why);
    if (name) names.push_back(*name);
    else diff.refused.push_back({path, "cannot be published: its name " + why});
  }
  if (!diff.refused.empty()) {
    for (const TreeProblem& problem : diff.refused) {
      err << options.newTree << "/" << problem.path << ": " << problem.reason << "\n";
    }
    err << "tarvo-publish: nothing published\n";
    return 1;
  }
  if (diff.changed.empty()) {
    err << "tarvo-publish: the trees hold the same files; a list without records would keep players at "
        << options.fromLevel << " for ever\n";
    return 1;
  }

  const fs::path root(options.root);
  const fs::path patchFolder = root / kPatchFolder;
  const fs::path listFolder = root / kListFolder;
  std::error_code error;
  fs::create_directories(patchFolder, error);
  fs::create_directories(listFolder, error);

  ArchivePacker packer(patchFolder, from, to, options.maxArchiveBytes);
  bool packed = true;
  for (size_t i = 0; i < names.size() && packed; ++i) {
    packed = packer.Add(names[i], fs::path(options.newTree) / diff.changed[i], why);
    if (!packed) why = diff.changed[i] + " " + why;
  }
  packed = packed && packer.Close(why);
  for (const Archive& archive : packer.Archives()) {
    for (const std::string* tree : {&options.oldTree, &options.newTree}) {
      if (packed && HasTopLevelFile(*tree, archive.name)) {
        why = *tree + " holds a file named like the archive " + archive.name + ", which is deleted after unpacking";
        packed = false;
      }
    }
  }
  const std::string list = ListText(options.toVersion, packer.Archives());
  packed = packed && ClientReadsBack(list, options.toVersion, packer.Archives(), why);
  if (!packed) {
    packer.Discard();
    err << "tarvo-publish: " << why << "; nothing published\n";
    return 1;
  }
  const std::string listName = pipeline::PatchListName(static_cast<unsigned>(from));
  // Archives first, the list last: a player never reads a list whose archives are not there yet.
  if (!packer.Commit(why) || !WriteInPlace(listFolder / listName, list, why)) {
    err << "tarvo-publish: " << (why.empty() ? "cannot write " + listName : why) << "\n";
    return 1;
  }
  RemoveStaleArchives(patchFolder, from, to, packer.Archives());

  uint64_t bytes = 0;
  for (const Archive& archive : packer.Archives()) bytes += archive.size;
  out << kListFolder << "/" << listName << ": level " << options.fromLevel << " to " << options.toVersion << ", "
      << diff.changed.size() << " files in " << packer.Archives().size() << " archives, " << bytes << " bytes\n";
  for (const Archive& archive : packer.Archives()) {
    out << "  " << kPatchFolder << "/" << archive.name << ": " << archive.entries << " files, " << archive.size
        << " bytes\n";
  }
  if (!diff.deleted.empty()) {
    out << diff.deleted.size() << " files of the old tree are not in the new one. A patch cannot delete files, "
        << "so they stay in players' installations:\n";
    for (const std::string& path : diff.deleted) out << "  " << path << "\n";
  }
  return 0;
}

}  // namespace publish
