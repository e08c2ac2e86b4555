#include "publish/FolderShape.h"

#include <vector>

#include "common/RelativePath.h"
#include "publish/TreeDiff.h"

namespace publish {

std::optional<FolderShape::Clash> FolderShape::Add(std::string_view path, const std::string& origin) {
  const std::vector<std::string_view> components = PathComponents(path);
  const bool isFolder = !path.empty() && (path.back() == '/' || path.back() == '\\');
  std::vector<std::pair<std::string, bool>> names;  // each name on the way, and whether a folder
  std::string name;
  for (size_t i = 0; i < components.size(); ++i) {
    name += (i ? "/" : "") + std::string(components[i]);
    const bool folder = isFolder || i + 1 < components.size();
    auto found = m_made.find(FoldCase(name));
    if (found != m_made.end() && found->second.folder != folder) {
      return Clash{folder ? Clash::kFolderOverFile : Clash::kFileOverFolder, found->second.name, found->second.origin};
    }
    names.emplace_back(name, folder);
  }
  for (const auto& [made, folder] : names) {
    auto [it, fresh] = m_made.try_emplace(FoldCase(made), Made{folder, made, origin});
    if (!fresh) it->second.origin = origin;  // a clash names the last that put it there
  }
  return std::nullopt;
}

}  // namespace publish
