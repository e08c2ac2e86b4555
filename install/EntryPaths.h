// Names of archive entries and list records as paths inside the game folder.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "common/RelativePath.h"

// The UTF-8 text of an entry's stored name: UTF-8 when the archive marks it so, else code page
// 936. Nothing when the name holds a NUL, or is marked UTF-8 and is not.
std::optional<std::string> DecodeEntryName(std::string_view stored, bool markedUtf8);

// The path inside the game folder that an archive entry writes: its decoded name when that stays
// inside the folder, else nothing. The one rule for names, shared with the publishing tool.
std::optional<std::string> EntryPathOf(std::string_view stored, bool markedUtf8);

// Whether `path` lies in one of the client's scratch folders ("Temp", "Image\Temp", "Music\Temp")
// while that folder is a link: what a patch puts there would replace files wherever the link
// points, and the step that empties the folder afterwards would delete them.
bool IsInLinkedScratchFolder(std::string_view path);
