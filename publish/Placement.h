// `tarvo-publish launcher|agent-list|client FILE` and `tarvo-publish music`: single files put
// where the client's named fetches look for them.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace publish {

// `kind` is "launcher", "agent-list" or "client". Returns the exit code.
int PlaceFixedFile(const std::string& kind, const std::string& file, const std::string& root, std::ostream& out,
                   std::ostream& err);

// Copies the music files under TarvoMusic by the name their header's id gives, then writes the
// music list from the headers of every music file there. Returns the exit code.
int PublishMusic(const std::vector<std::string>& files, const std::string& root, std::ostream& out,
                 std::ostream& err);

// Whether `kind` names a fixed file.
bool IsFixedFileKind(const std::string& kind);

}  // namespace publish
