
#include <sys/resource.h>
#include <sys/wait.h>

#include "app/PatchClientDlg.h"
#include "install/ZipReader.h"
#include "install_test_support.h"
#include "platform/files.h"

using namespace install_test;

namespace {

class UnpackTest : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    m_dlg.m_pPatchList->push_back(PatchFileEntry{"TarvoPatch\\p.zip", "p.zip", 1, 0});
  }
  int Unpack(const fs::path& archive) { return m_dlg.UnpackFile(archive.string().c_str()); }
  bool ListCleared() const { return m_dlg.m_pPatchList == nullptr; }
  // Unpacks into an empty game folder and returns what it wrote.
  std::string UnpackAndList(const fs::path& archive, int expected) {
    EXPECT_EQ(Unpack(archive), expected);
    return Listing(Game());
  }
  CPatchClientDlg m_dlg;
};

TEST_F(UnpackTest, InfoZipTreesStoredOrDeflatedGiveTheSameFiles) {
  fs::path tree = m_root / "tree";
  std::string big;
  for (uint32_t i = 0; i < 300000; ++i) big += static_cast<char>((i * 7919u) % 251u);
  WriteText(tree / "Data/Sub/file.bin", big);
  WriteText(tree / "Data/readme.txt", "hello");
  WriteText(tree / "Data/empty.dat", "");
  fs::create_directories(tree / "Data/Empty");
  ASSERT_EQ(RunShell("cd '" + tree.string() + "' && zip -q -r ../deflated.zip Data && zip -q -r -0 ../stored.zip Data"), 0);

  EXPECT_EQ(UnpackAndList(m_root / "deflated.zip", 1),
            "Data/\nData/Empty/\nData/Sub/\nData/Sub/file.bin\nData/empty.dat\nData/readme.txt\n");
  EXPECT_EQ(ReadText("Data/Sub/file.bin"), big);
  EXPECT_EQ(ReadText("Data/readme.txt"), "hello");
  EXPECT_EQ(fs::file_size("Data/empty.dat"), 0u);

  // An existing folder in another case takes the files, as on Windows.
  fs::remove_all("Data");
  fs::create_directories("DATA/sub");
  EXPECT_EQ(Unpack(m_root / "stored.zip"), 1);
  EXPECT_EQ(ReadText("DATA/sub/file.bin"), big);
  EXPECT_FALSE(fs::exists("Data"));
  EXPECT_FALSE(ListCleared());
}

TEST_F(UnpackTest, PythonArchivesWithEverySizeAndMethod) {
  // Deflated data that spans many read and inflate chunks, and entries of size 0 in both methods.
  MakeZip(m_root / "p.zip", R"([
    (b'a.bin', bytes(range(256)) * 20000 + b'tail', 8, False),
    (b'b.bin', bytes(range(256)) * 20000 + b'tail', 0, False),
    (b'zero8', b'', 8, False), (b'zero0', b'', 0, False),
    (b'Nested/x/y/z.txt', b'z', 8, False),
    (b'dup.txt', b'first', 8, False), (b'dup.txt', b'second', 0, False),
    (b'Case.txt', b'first', 8, False), (b'CASE.TXT', b'second', 8, False)])");
  EXPECT_EQ(Unpack(m_root / "p.zip"), 1);
  std::string expected;
  for (int i = 0; i < 20000; ++i)
    for (int b = 0; b < 256; ++b) expected += static_cast<char>(b);
  expected += "tail";
  EXPECT_EQ(ReadText("a.bin"), expected);
  EXPECT_EQ(ReadText("b.bin"), expected);
  EXPECT_TRUE(fs::is_regular_file("zero8") && fs::file_size("zero8") == 0);
  EXPECT_TRUE(fs::is_regular_file("zero0") && fs::file_size("zero0") == 0);
  EXPECT_EQ(ReadText("Nested/x/y/z.txt"), "z");
  EXPECT_EQ(ReadText("dup.txt"), "second");  // the later entry wins
  EXPECT_EQ(ReadText("Case.txt"), "second");  // even when its name differs in case
  EXPECT_FALSE(fs::exists("CASE.TXT"));
}

TEST_F(UnpackTest, MemoryDoesNotGrowWithTheEntrySize) {
  MakeZip(m_root / "big.zip", "[(b'big.bin', bytes(192 << 20), 8, False)]");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    int result = m_dlg.UnpackFile((m_root / "big.zip").c_str());
    getrusage(RUSAGE_SELF, &after);
    _exit(result != 1 ? 2 : (after.ru_maxrss - before.ru_maxrss) > 32 * 1024 ? 3 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: unpack failed, 3: peak memory grew by more than 32 MiB";
  EXPECT_EQ(fs::file_size("big.bin"), 192u << 20);
}

TEST_F(UnpackTest, ReplacesReadOnlyTargetsAndSkipsUnwritableOnes) {
  MakeZip(m_root / "p.zip", R"([(b'ro.txt', b'new', 8, False), (b'busy.exe', b'new', 8, False),
    (b'Folder', b'new', 0, False), (b'last.txt', b'last', 8, False)])");
  WriteText("ro.txt", "old");
  ASSERT_TRUE(platform::SetFileAttributes("ro.txt", platform::kFileAttributeReadOnly));
  WriteText("ro.txt.part0_", "left by a killed unpack");
  WriteText("busy.exe", "running");
  fs::create_directory("Folder");
  platform::FileHandle running;  // a running program's image cannot be replaced
  ASSERT_TRUE(running.Open("busy.exe", platform::kGenericRead, platform::kShareNone, platform::kOpenExisting));

  EXPECT_EQ(Unpack(m_root / "p.zip"), 1);
  EXPECT_EQ(ReadText("ro.txt"), "new");
  EXPECT_EQ(ReadText("busy.exe"), "running");
  EXPECT_TRUE(fs::is_directory("Folder"));
  EXPECT_EQ(ReadText("last.txt"), "last");
  EXPECT_EQ(Listing(Game()), "Folder/\nbusy.exe\nlast.txt\nro.txt\n");  // no part files left behind
  EXPECT_FALSE(ListCleared());
}

TEST_F(UnpackTest, BadArchivesFailAndClearThePatchList) {
  MakeZip(m_root / "m12.zip", R"([(b'good.txt', b'good', 8, False), (b'bz.txt', b'x' * 1000, 12, False)])");
  EXPECT_EQ(UnpackAndList(m_root / "m12.zip", 0), "good.txt\n");  // entries before it stay written
  EXPECT_TRUE(ListCleared());
  fs::remove("good.txt");

  MakeZip(m_root / "comment.zip", "[(b'c.txt', b'c', 8, False)]", "b'a comment'");
  EXPECT_EQ(UnpackAndList(m_root / "comment.zip", 0), "");

  fs::path truncated = m_root / "truncated.zip";
  MakeZip(truncated, "[(b't.bin', bytes(range(256)) * 100, 8, False)]");
  fs::resize_file(truncated, fs::file_size(truncated) - 30);
  EXPECT_EQ(UnpackAndList(truncated, 0), "");
  WriteText(m_root / "short.zip", "PK\x05\x06");
  EXPECT_EQ(UnpackAndList(m_root / "short.zip", 0), "");
  EXPECT_EQ(UnpackAndList(m_root / "missing.zip", 0), "");
  EXPECT_TRUE(ListCleared());
}

TEST_F(UnpackTest, AnArchiveWithoutEntriesLeavesTheListAlone) {
  MakeZip(m_root / "empty.zip", "[]");
  EXPECT_EQ(Unpack(m_root / "empty.zip"), 0);
  ASSERT_FALSE(ListCleared());
  EXPECT_EQ(m_dlg.m_pPatchList->size(), 1u);
}

// Offsets of the first entry's data, and of its central record, in an archive from MakeZip.
struct Layout {
  size_t data;
  size_t central;
};
Layout FirstEntry(const std::string& raw) {
  auto u16 = [&](size_t at) { return size_t(uint8_t(raw[at])) | size_t(uint8_t(raw[at + 1])) << 8; };
  size_t end = raw.size() - 22;
  size_t central = u16(end + 16) | u16(end + 18) << 16;
  return {30 + u16(26) + u16(28), central};
}

TEST_F(UnpackTest, CorruptDataNeverReplacesTheGoodFile) {
  fs::path archive = m_root / "flip.zip";
  MakeZip(archive, "[(b'keep.txt', b'patched text ' * 500, 8, False)]");
  std::string raw = ReadText(archive);
  raw[FirstEntry(raw).data + 5] ^= 0x01;
  WriteText(archive, raw);
  WriteText("keep.txt", "old good text");
  EXPECT_EQ(Unpack(archive), 0);
  EXPECT_EQ(ReadText("keep.txt"), "old good text");
  EXPECT_EQ(Listing(Game()), "keep.txt\n");
  EXPECT_TRUE(ListCleared());
}

TEST_F(UnpackTest, HeadersThatDisagreeAreRejected) {
  // The sizes of local headers must be the directory's; a directory entry may not run past the
  // directory, and no name may exceed what a MAX_PATH buffer holds.
  fs::path archive = m_root / "h.zip";
  MakeZip(archive, "[(b'a.txt', b'abcdef', 0, False), (b'b.txt', b'b', 0, False)]");
  const std::string good = ReadText(archive);
  Layout first = FirstEntry(good);

  std::string raw = good;
  raw[22] = 5;  // local uncompressed size
  raw[18] = 5;  // local compressed size
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  raw = good;
  raw[raw.size() - 22 + 12] -= 10;  // directory size cuts the last record short
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  raw = good;
  raw[first.central + 46 - 46] = 'X';  // central signature
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  MakeZip(archive, "[(b'd/' * 129 + b'n', b'ok', 8, False)]");  // 259 bytes
  EXPECT_EQ(Unpack(archive), 1);
  fs::remove_all("d");
  MakeZip(archive, "[(b'd/' * 129 + b'nn', b'long', 8, False)]");
  EXPECT_EQ(UnpackAndList(archive, 0), "");
}

TEST_F(UnpackTest, NamesThatLeaveTheGameFolderWriteNothing) {
  fs::create_directories("sub");
  fs::current_path("sub");  // so that a climbing name would land in the scratch folder, not the system
  for (const char* name : {"b'../x'", "b'..\\\\x'", "b'/tmp/tarvo-slip-x'", "b'C:\\\\x'", "b'c:x'",
                           "b'\\\\\\\\server\\\\x'", "b'a/../../x'", "b'ok/.../x'", "b'a/. ./x'"}) {
    SCOPED_TRACE(name);
    MakeZip(m_root / "slip.zip", std::string("[(b'first.txt', b'1', 8, False), (") + name + ", b'evil', 8, False)]");
    EXPECT_EQ(Unpack(m_root / "slip.zip"), 0);
    EXPECT_EQ(Listing(Game()), "sub/\n");
    EXPECT_FALSE(fs::exists("/tmp/tarvo-slip-x"));
    EXPECT_TRUE(ListCleared());
  }
  // Dots that stay inside are fine.
  MakeZip(m_root / "inside.zip", "[(b'a/../b/./c.txt', b'c', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "inside.zip"), 1);
  EXPECT_EQ(ReadText("b/c.txt"), "c");
}

TEST_F(UnpackTest, NamesInCodePage936OrMarkedUtf8GetTheirUtf8Names) {
  MakeZip(m_root / "names.zip", R"([
    ('音乐/测试.txt'.encode('gbk'), b'gbk', 8, False),
    ('乗.txt'.encode('gbk'), b'trail byte 0x5c', 8, False),
    ('曲目/歌.txt'.encode('utf-8'), b'utf8', 0, True)])");
  EXPECT_EQ(Unpack(m_root / "names.zip"), 1);
  EXPECT_EQ(ReadText("音乐/测试.txt"), "gbk");
  EXPECT_EQ(ReadText("乗.txt"), "trail byte 0x5c");
  EXPECT_EQ(ReadText("曲目/歌.txt"), "utf8");

  MakeZip(m_root / "bad.zip", R"([(b'ok.txt', b'1', 8, False), (b'\xff\xfe.txt', b'2', 8, True)])");
  EXPECT_EQ(Unpack(m_root / "bad.zip"), 0);
  EXPECT_FALSE(fs::exists("ok.txt"));
}

TEST_F(UnpackTest, NamesTheSystemTableLacksStillUnpack) {
  // GBK's user-defined areas and bytes no table maps, which the Windows client writes too.
  MakeZip(m_root / "pua.zip", R"([(b'\xaa\xa1\xa7\xa0.txt', b'pua', 8, False), (b'\xff.txt', b'stray', 8, False)])");
  EXPECT_EQ(Unpack(m_root / "pua.zip"), 1);
  EXPECT_EQ(ReadText("\uE000\uE765.txt"), "pua");
  EXPECT_EQ(ReadText("\uFFFD.txt"), "stray");
}

TEST_F(UnpackTest, LongLastComponentsGetAShortTemporaryName) {
  std::string entries = "[";
  for (int length = 249; length <= 255; ++length) {
    entries += "(b'n' * " + std::to_string(length - 4) + " + b'.dat', b'" + std::to_string(length) +
               "', 8, False), ";
  }
  MakeZip(m_root / "long.zip", entries + "]");
  EXPECT_EQ(Unpack(m_root / "long.zip"), 1);
  for (int length = 249; length <= 255; ++length) {
    EXPECT_EQ(ReadText(std::string(length - 4, 'n') + ".dat"), std::to_string(length));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 7);  // no part files left
  EXPECT_FALSE(ListCleared());
}

TEST_F(UnpackTest, EntriesThatCannotBeWrittenFailTheArchive) {
  // Only a target that refuses (a folder, a program in use: "cannot be opened for writing") is
  // skipped; a name too long for the file system or a folder that cannot be made is a failure.
  for (const char* name : {"b'n' * 256", "b'Data/file.txt/inner.txt'"}) {
    SCOPED_TRACE(name);
    WriteText("Data/file.txt", "a file where a folder should be");
    MakeZip(m_root / "bad.zip", std::string("[(") + name + ", b'x', 8, False), (b'after.txt', b'a', 8, False)]");
    EXPECT_EQ(Unpack(m_root / "bad.zip"), 0);
    EXPECT_EQ(Listing(Game()), "Data/\nData/file.txt\n");
    EXPECT_TRUE(ListCleared());
  }
}

TEST_F(UnpackTest, LinksInTheGameFolderAreReplacedNeverWrittenThrough) {
  WriteText(m_root / "outside/song.qkn", "outside");
  fs::permissions(m_root / "outside/song.qkn", fs::perms(0444));
  fs::create_symlink(m_root / "outside/song.qkn", "song.qkn");
  fs::create_symlink(m_root / "outside", "Linked");  // folder links are followed, as junctions are
  MakeZip(m_root / "p.zip", "[(b'song.qkn', b'patched', 8, False), (b'Linked/new.txt', b'n', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "p.zip"), 1);
  EXPECT_FALSE(fs::is_symlink("song.qkn"));
  EXPECT_EQ(ReadText("song.qkn"), "patched");
  EXPECT_EQ(ReadText(m_root / "outside/song.qkn"), "outside");
  EXPECT_EQ((fs::status(m_root / "outside/song.qkn").permissions() & fs::perms::all), fs::perms(0444));
  EXPECT_EQ(ReadText(m_root / "outside/new.txt"), "n");

  // ".." takes back the name in front of it, as on Windows: never the parent of the link's target.
  MakeZip(m_root / "back.zip", "[(b'Linked/../back.txt', b'b', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "back.zip"), 1);
  EXPECT_EQ(ReadText("back.txt"), "b");
  EXPECT_FALSE(fs::exists(m_root / "back.txt"));

  // A scratch folder that is a link takes nothing: the archive fails before writing anything.
  fs::create_directory("Music");
  fs::create_directory_symlink(m_root / "outside", "Music/Temp");
  MakeZip(m_root / "music.zip", "[(b'first.txt', b'1', 8, False), (b'music/./TEMP/song.qkn', b'new', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "music.zip"), 0);
  EXPECT_FALSE(fs::exists("first.txt"));
  EXPECT_EQ(ReadText(m_root / "outside/song.qkn"), "outside");
}

// An archive whose one entry's data is named by `copies` directory records ("a00", "a01", ...).
std::string OneDataManyRecords(const std::string& raw, int copies) {
  auto u16 = [&](size_t at) { return size_t(uint8_t(raw[at])) | size_t(uint8_t(raw[at + 1])) << 8; };
  size_t end = raw.size() - 22;
  size_t central = u16(end + 16) | u16(end + 18) << 16;
  std::string record = raw.substr(central, end - central);
  std::string out = raw.substr(0, central);
  for (int i = 0; i < copies; ++i) {
    std::string copy = record;
    copy[46 + 1] = char('0' + i / 10);
    copy[46 + 2] = char('0' + i % 10);
    out += copy;
  }
  std::string tail = raw.substr(end);
  tail[8] = tail[10] = char(copies);
  uint32_t size = uint32_t(record.size() * copies);
  for (int k = 0; k < 4; ++k) tail[12 + k] = char(size >> (8 * k));
  return out + tail;
}

TEST_F(UnpackTest, ArchivesThatClaimMoreThanTheyHoldWriteNothing) {
  // One deflated entry named by sixteen directory records would write its data sixteen times.
  fs::path archive = m_root / "overlap.zip";
  MakeZip(archive, "[(b'a00', bytes(1 << 20), 8, False)]");
  WriteText(archive, OneDataManyRecords(ReadText(archive), 16));
  EXPECT_EQ(UnpackAndList(archive, 0), "");
  EXPECT_TRUE(ListCleared());

  // A folder entry that carries data, behind an ordinary entry.
  MakeZip(archive, "[(b'first.txt', b'1', 8, False), (b'Folder/', b'x' * 100000, 8, False)]");
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  // Declared sizes past what deflate can expand the archive to: the whole archive is refused,
  // not just the entry that turns out shorter.
  MakeZip(archive, "[(b'first.txt', b'1', 8, False), (b'big.bin', bytes(100000), 8, False)]");
  std::string raw = ReadText(archive);
  size_t second = FirstEntry(raw).central + 46 + 9;  // behind the first record ("first.txt")
  raw[second + 24 + 3] = 0x7F;  // uncompressed size near 2 GiB
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  // A stored entry whose data runs on into the central directory.
  MakeZip(archive, "[(b'first.txt', b'1', 0, False), (b'last.bin', b'x' * 100, 0, False)]");
  raw = ReadText(archive);
  second = FirstEntry(raw).central + 46 + 9;
  size_t local = size_t(uint8_t(raw[second + 42])) | size_t(uint8_t(raw[second + 43])) << 8;
  for (size_t at : {second + 20, second + 24, local + 18, local + 22}) raw[at] = char(100 + 40);
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");

  // Sound archives near the bound still unpack.
  MakeZip(archive, "[(b'zeros.bin', bytes(8 << 20), 8, False)]");
  EXPECT_EQ(Unpack(archive), 1);
  EXPECT_EQ(fs::file_size("zeros.bin"), 8u << 20);
}

TEST(ZipReader, AnswersForBadIndexesAndExtractsIntoBuffers) {
  char path[] = "/tmp/tarvo-reader-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  MakeZip(path, "[(b'Dir/one.txt', b'one' * 1000, 8, False), (b'two', b'22', 0, False)]");
  FILE* stream = fopen(path, "rb");
  ASSERT_NE(stream, nullptr);
  CZipReader reader;
  EXPECT_EQ(reader.Open(nullptr), 1);
  ASSERT_EQ(reader.Open(stream), 0);
  ASSERT_EQ(reader.GetEntryCount(), 2);
  char name[CZipReader::kMaxNameLength + 1] = "junk";
  reader.GetEntryName(0, name);
  EXPECT_STREQ(name, "Dir\\one.txt");
  reader.GetEntryName(2, name);
  EXPECT_STREQ(name, "");
  reader.GetEntryName(-1, nullptr);
  EXPECT_EQ(reader.GetEntrySize(0), 3000);
  EXPECT_EQ(reader.GetEntrySize(-1), -1);
  EXPECT_EQ(reader.GetEntrySize(2), -1);

  std::vector<unsigned char> buffer(3000);
  EXPECT_EQ(reader.ExtractEntry(0, buffer.data()), 0);
  std::string text(buffer.begin(), buffer.end());
  EXPECT_EQ(text.substr(0, 6), "oneone");
  EXPECT_EQ(reader.ExtractEntry(1, buffer.data()), 0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 2), "22");
  EXPECT_EQ(reader.ExtractEntry(0, nullptr), 1);
  EXPECT_EQ(reader.ExtractEntry(5, buffer.data()), 1);

  reader.Close();
  EXPECT_EQ(reader.GetEntryCount(), 0);
  fclose(stream);
  unlink(path);
}

}  // namespace
