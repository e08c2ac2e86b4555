// The client's resources, built into the binary so that it works from any current folder: the
// skin's bitmaps, the cursor, the icon and the string table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Resource types, numbered as the resource compiler numbers them.
enum ResourceType : int { RT_CURSOR = 1, RT_BITMAP = 2, RT_ICON = 3 };

constexpr int IDR_MAINFRAME = 128;   // the application icon
constexpr int IDB_BACKGROUND = 141;  // the window's picture, 440 x 570
constexpr int IDB_START = 142;       // the Start button's four frames
constexpr int IDB_CANCEL = 143;      // the Cancel button's four frames
constexpr int IDC_HANDCURSOR = 144;       // the pointing hand shown over Start

// String table entries.
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_SOCKETS_INIT_FAILED = 103;

struct ResourceEntry {
  int type;
  int id;
  const unsigned char* data;
  size_t size;
};

struct ResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;  // 0 when there is no such resource
};

// The bytes of a resource as stored (a BMP file, an ICO or CUR file). Only the low 16 bits of the
// id count, as for an integer resource id.
ResourceBytes FindResource(int type, unsigned id);
// A string table entry; empty when there is none.
std::string LoadString(unsigned id);

// The generated table (res/embed.cmake).
const ResourceEntry* ResourceTable(size_t& count);
