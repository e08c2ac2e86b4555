// The one rule for names that come from outside (patch lists, archive entries, downloads): whether
// a path stays inside the folder it is taken relative to.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// True when `path` ('\' and '/' both separate) names something inside the current folder on every
// system the client runs on: no NUL, no root, UNC or "\\?\" prefix (a leading separator), no drive
// or stream name (':'), no ".." that climbs above the start ("a/../b" stays inside, as ".." takes
// back the name in front of it), and no component of dots and blanks only other than "." and ".."
// (". .", "...", ".. "): Windows trims trailing dots and blanks, so such a name is not what it looks
// like; and no Windows device name ("CON", "nul.txt", "COM1", "lpt9 .log"), which names a console,
// printer or port in every folder. Empty components ("a//b") stay in place; the empty path names the folder itself. Length is
// bounded where the bytes are read, before any decoding.
bool IsContainedRelativePath(std::string_view path);

// The names along `path` ('\\' and '/' both separate) as the file system walks them: without empty
// and "." components, each ".." taking back the name in front of it (never climbing above the start).
std::vector<std::string_view> PathComponents(std::string_view path);

// The name under which the file system finds a contained relative path: both separators, empty and
// "." components, ".." taking back the name in front, trailing dots and blanks (Windows drops them)
// and ASCII case all come to one text, so two
// names with the same key are one file on every system the client runs on.
std::string LocalNameKey(std::string_view path);
