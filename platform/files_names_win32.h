// Included after <windows.h> where files.h is used: the names of files.h are this layer's own, and
// windows.h makes them macros for its A/W pairs.
#pragma once
#undef CreateDirectory
#undef RemoveDirectory
#undef DeleteFile
#undef MoveFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef SetCurrentDirectory
#undef GetCurrentDirectory
