// What the Windows file variants share: paths in the system's form and the link test.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 path that the wide API takes for a path of the core ('/' or '\' separators).
std::wstring NativePath(std::string_view path);
// Whether attributes and the reparse tag (from a find or a handle) name a symbolic link or junction:
// the reparse points that stand for another name. Other reparse points (cloud placeholders,
// deduplicated files) are the files they hold.
bool IsNameSurrogate(uint32_t attributes, uint32_t reparseTag);
// Whether the last component of `native` is such a link. Under Wine also a Linux link to a file,
// which Wine shows as its target in every attribute, and one that points nowhere.
bool IsNativeLink(const std::wstring& native);
// Whether a handle opened for `native` reached the file through a link in its last component.
bool HandleIsLink(void* handle, const std::wstring& native);
// Whether `native` is an existing file with the read-only attribute. Checked before any open that
// writes or truncates: Windows refuses those itself, but Wine run as root would let them through.
bool IsReadOnlyFile(const std::wstring& native);

}  // namespace platform
