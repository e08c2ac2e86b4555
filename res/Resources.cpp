#include "res/Resources.h"

ResourceBytes FindResource(int type, unsigned id) {
  size_t count = 0;
  const ResourceEntry* table = ResourceTable(count);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].type == type && static_cast<unsigned>(table[i].id) == (id & 0xFFFF))
      return {table[i].data, table[i].size};
  }
  return {};
}

std::string LoadString(unsigned id) {
  switch (id & 0xFFFF) {
    case IDS_ABOUTBOX:
      return "&About TarvoPatchClient...";
    case IDS_SOCKETS_INIT_FAILED:
      return "Windows sockets initialization failed.";
    default:
      return {};
  }
}
