// The committed art is exactly what res/draw_art.py draws, and the binary carries those files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "res/Resources.h"
#include "support/ClientProcess.h"

TEST(ResourceArtTest, TheCommittedFilesAreWhatTheScriptDrawsAndWhatTheBinaryCarries) {
  TempDir out;
  std::string command = "/usr/bin/python3 " TARVO_SOURCE_DIR "/res/draw_art.py '" + out.Path() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const struct {
    const char* file;
    int type;
    unsigned id;
  } files[] = {{"background_141.bmp", RT_BITMAP, IDB_BACKGROUND},
               {"start_142.bmp", RT_BITMAP, IDB_START},
               {"cancel_143.bmp", RT_BITMAP, IDB_CANCEL},
               {"hand_144.cur", RT_CURSOR, IDC_HANDCURSOR},
               {"tarvo_128.ico", RT_ICON, IDR_MAINFRAME}};
  for (const auto& f : files) {
    const std::string drawn = ReadTextFile(out / f.file);
    const std::string committed = ReadTextFile(std::string(TARVO_SOURCE_DIR "/res/") + f.file);
    ASSERT_FALSE(drawn.empty()) << f.file;
    EXPECT_TRUE(drawn == committed) << f.file << " differs from what res/draw_art.py draws; run it and commit";
    ResourceBytes embedded = FindResource(f.type, f.id);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(embedded.data), embedded.size) == committed) << f.file;
  }
}
