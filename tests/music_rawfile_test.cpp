// Raw file access: open modes, sharing between openers and processes, and the piece-wise fallback.
#include <gtest/gtest.h>

#include "support/FileHeldElsewhere.h"
#include <sys/wait.h>
#include <unistd.h>

#include "music_fixtures.h"
#include "music/PieceTransfer.h"
#include "music/RawFile.h"

using namespace musictest;

namespace {

class MusicRawFileTest : public GameFolderTest {};

TEST_F(MusicRawFileTest, ReadsStopAtTheEndAndNothingWorksWithoutAFile) {
  WriteFile("data.bin", Bytes(100, 0x5A));
  CRawFile file;
  char buffer[300] = {};
  EXPECT_EQ(file.Read(buffer, 10), 0u);
  EXPECT_EQ(file.Write(buffer, 10), 0u);
  EXPECT_EQ(file.Seek(5, platform::kFileBegin), 0u);
  EXPECT_FALSE(file.OpenRead("missing.bin"));
  ASSERT_TRUE(file.OpenRead("DATA.BIN"));
  EXPECT_EQ(file.Read(buffer, 300), 100u);
  EXPECT_EQ(file.Seek(-10, platform::kFileEnd), 90u);
  EXPECT_EQ(file.Seek(-200, platform::kFileCurrent), 0xFFFFFFFFu);
  EXPECT_EQ(file.Write(buffer, 10), 0u) << "opened for reading only";
  file.Close();
  EXPECT_EQ(file.Read(buffer, 10), 0u);
}

TEST_F(MusicRawFileTest, WriteModesTruncateKeepOrAppend) {
  WriteFile("song.qkn", Bytes{1, 2, 3, 4});
  CRawFile file;
  file.OpenWrite("song.qkn", 0);
  EXPECT_EQ(file.Seek(0, platform::kFileCurrent), 0u) << "mode 0 starts at the beginning";
  EXPECT_EQ(file.Write("\x09", 1), 1u);
  file.Close();
  EXPECT_EQ(ReadFile("song.qkn"), (Bytes{9, 2, 3, 4}));

  file.OpenWrite("song.qkn", 2);
  EXPECT_EQ(file.Write("\x05", 1), 1u);
  file.Close();
  EXPECT_EQ(ReadFile("song.qkn"), (Bytes{9, 2, 3, 4, 5}));

  file.OpenWrite("song.qkn", 1);
  EXPECT_EQ(file.Seek(0, platform::kFileEnd), 0u) << "mode 1 truncates";
  file.Close();
  EXPECT_TRUE(ReadFile("song.qkn").empty());

  file.OpenWrite("new.qkn", 0);
  EXPECT_TRUE(file.IsOpen()) << "opening for writing creates the file";
  file.Close();
}

TEST_F(MusicRawFileTest, OpenClosesTheFileAlreadyHeld) {
  WriteFile("a.bin", Bytes{1});
  WriteFile("b.bin", Bytes{2});
  CRawFile writer;
  writer.OpenWrite("a.bin", 0);
  writer.OpenWrite("b.bin", 0);  // gives up a.bin
  CRawFile reader;
  EXPECT_TRUE(reader.OpenRead("a.bin"));
  EXPECT_FALSE(CRawFile().OpenRead("b.bin"));
  writer.Close();
  reader.Close();
}

TEST_F(MusicRawFileTest, FileOpenedForWritingCannotBeReadHereOrInAnotherProcess) {
  WriteFile("held.qkn", Bytes(10, 1));
  {
    CRawFile writer, reader, secondReader;
    writer.OpenWrite("held.qkn", 0);
    EXPECT_FALSE(reader.OpenRead("held.qkn"));
    writer.Close();
    EXPECT_TRUE(reader.OpenRead("held.qkn"));
    EXPECT_TRUE(secondReader.OpenRead("held.qkn")) << "readers share";
    writer.OpenWrite("held.qkn", 0);
    EXPECT_FALSE(writer.IsOpen()) << "a writer takes no sharing, so it waits for the readers";
    reader.Close();
    secondReader.Close();
  }

  FileHeldElsewhere holder("held.qkn");
  ASSERT_TRUE(holder.Holding());
  CRawFile reader;
  EXPECT_FALSE(reader.OpenRead("held.qkn"));
  holder.Release();
  EXPECT_TRUE(reader.OpenRead("held.qkn")) << "free again once the other process has closed it";
  reader.Close();
}

// A transfer whose whole-size call fails beyond a limit, recording every call.
struct LimitedCalls {
  explicit LimitedCalls(uint32_t wholeLimit) : limit(wholeLimit) {}
  uint32_t limit;
  std::vector<uint32_t> sizes;
  std::vector<const uint8_t*> pointers;
  int failAtCall = -1;
  int64_t shortBy = 0;
  int64_t operator()(const uint8_t* p, uint32_t n) {
    sizes.push_back(n);
    pointers.push_back(p);
    if (n > limit || int(sizes.size()) == failAtCall) return -1;
    return n - (n == 0xFFFF ? shortBy : 0);
  }
};

TEST(PieceTransferTest, FailedWholeTransferIsRepeatedIn65535BytePieces) {
  std::vector<uint8_t> buffer(200000);
  LimitedCalls calls(0xFFFF);
  EXPECT_EQ(TransferWithPieceFallback(buffer.data(), 200000, std::ref(calls)), 200000u);
  EXPECT_EQ(calls.sizes, (std::vector<uint32_t>{200000, 65535, 65535, 65535, 3395}));
  EXPECT_EQ(calls.pointers[4], buffer.data() + 3 * 65535);

  LimitedCalls shortPieces(0xFFFF);
  shortPieces.shortBy = 5;
  EXPECT_EQ(TransferWithPieceFallback(buffer.data(), 131070 + 10, std::ref(shortPieces)), 131070u);
  EXPECT_EQ(shortPieces.pointers.back(), buffer.data() + 131070) << "the buffer advances by whole pieces";

  LimitedCalls small(100);
  EXPECT_EQ(TransferWithPieceFallback(buffer.data(), 65535, std::ref(small)), 0u);
  EXPECT_EQ(small.sizes.size(), 1u) << "no pieces for a count of one piece or less";

  LimitedCalls failing(0xFFFF);
  failing.failAtCall = 3;
  EXPECT_EQ(TransferWithPieceFallback(buffer.data(), 200000, std::ref(failing)), 0u);

  LimitedCalls whole(0xFFFFFFFF);
  EXPECT_EQ(TransferWithPieceFallback(buffer.data(), 200000, std::ref(whole)), 200000u);
  EXPECT_EQ(whole.sizes.size(), 1u);
}

}  // namespace
