
#include <sys/resource.h>
#include <sys/wait.h>

#include <zlib.h>

#include <map>
#include <memory>

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
    m_dlg.m_pPatchList = std::make_unique<PatchFileList>();
  }
  // A file in the way of a later entry's folder, in any case, fails the archive before its first
  // entry is written; a folder entry there is passed over.
  MakeZip(m_root / "later.zip", "[(b'first.txt', b'1', 8, False), (b'data/FILE.TXT/inner.txt', b'x', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "later.zip"), 0);
  EXPECT_EQ(Listing(Game()), "Data/\nData/file.txt\n");
  m_dlg.m_pPatchList = std::make_unique<PatchFileList>();
  MakeZip(m_root / "folder.zip", "[(b'Data/file.txt/', b'', 0, False), (b'first.txt', b'1', 8, False)]");
  EXPECT_EQ(Unpack(m_root / "folder.zip"), 1);
  EXPECT_EQ(Listing(Game()), "Data/\nData/file.txt\nfirst.txt\n");
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

uint32_t Get32(const std::string& raw, size_t at) {
  uint32_t value = 0;
  for (int k = 3; k >= 0; --k) value = value << 8 | uint8_t(raw[at + k]);
  return value;
}
void Put16(std::string& raw, size_t at, uint16_t value) {
  raw[at] = char(value & 0xFF);
  raw[at + 1] = char(value >> 8);
}
void Put32(std::string& raw, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) raw[at + k] = char(value >> (8 * k));
}

// Where each entry's local header and directory record start, in directory order.
struct Records {
  std::vector<size_t> locals, centrals;
};
Records RecordsOf(const std::string& raw) {
  Records records;
  const size_t end = raw.size() - 22;
  size_t pos = Get32(raw, end + 16);
  for (uint32_t i = 0; i < (Get32(raw, end + 8) & 0xFFFF); ++i) {
    records.centrals.push_back(pos);
    records.locals.push_back(Get32(raw, pos + 42));
    pos += 46 + (Get32(raw, pos + 28) & 0xFFFF) + (Get32(raw, pos + 30) & 0xFFFF) + (Get32(raw, pos + 32) & 0xFFFF);
  }
  return records;
}

// Why the reader refuses an archive ("" when it opens it).
std::string RefusalOf(const fs::path& archive) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(fopen(archive.c_str(), "rb"), fclose);
  CZipReader reader;
  reader.Open(stream.get());
  return reader.RefusalReason();
}
#define EXPECT_REFUSED_FOR(archive, reason) \
  EXPECT_NE(RefusalOf(archive).find(reason), std::string::npos) << RefusalOf(archive)

// An archive whose one entry's data is named by `copies` directory records, each of which agrees
// with its local header.
std::string OneDataManyRecords(const std::string& raw, int copies) {
  auto u16 = [&](size_t at) { return size_t(uint8_t(raw[at])) | size_t(uint8_t(raw[at + 1])) << 8; };
  size_t end = raw.size() - 22;
  size_t central = u16(end + 16) | u16(end + 18) << 16;
  std::string record = raw.substr(central, end - central);
  std::string out = raw.substr(0, central);
  for (int i = 0; i < copies; ++i) out += record;
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
  // The same with data that would stay within the bound of deflate's expansion.
  MakeZip(archive, "[(b'a00', b'x' * 1000, 0, False)]");
  WriteText(archive, OneDataManyRecords(ReadText(archive), 16));
  EXPECT_EQ(UnpackAndList(archive, 0), "");
  EXPECT_REFUSED_FOR(archive, "overlap");

  // A folder entry that carries data, behind an ordinary entry.
  MakeZip(archive, "[(b'first.txt', b'1', 8, False), (b'Folder/', b'x' * 100000, 8, False)]");
  EXPECT_EQ(UnpackAndList(archive, 0), "");
  EXPECT_REFUSED_FOR(archive, "folder entry that carries data");

  // Declared sizes past what deflate can expand the archive to: the whole archive is refused,
  // not just the entry that turns out shorter.
  MakeZip(archive, "[(b'first.txt', b'1', 8, False), (b'big.bin', bytes(100000), 8, False)]");
  std::string raw = ReadText(archive);
  size_t second = FirstEntry(raw).central + 46 + 9;  // behind the first record ("first.txt")
  raw[second + 24 + 3] = 0x7F;  // uncompressed size near 2 GiB, in both headers
  raw[Get32(raw, second + 42) + 22 + 3] = 0x7F;
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");
  EXPECT_REFUSED_FOR(archive, "more data than deflate can give");

  // A stored entry whose data runs on into the central directory.
  MakeZip(archive, "[(b'first.txt', b'1', 0, False), (b'last.bin', b'x' * 100, 0, False)]");
  raw = ReadText(archive);
  second = FirstEntry(raw).central + 46 + 9;
  size_t local = size_t(uint8_t(raw[second + 42])) | size_t(uint8_t(raw[second + 43])) << 8;
  for (size_t at : {second + 20, second + 24, local + 18, local + 22}) raw[at] = char(100 + 40);
  WriteText(archive, raw);
  EXPECT_EQ(UnpackAndList(archive, 0), "");
  EXPECT_REFUSED_FOR(archive, "runs into the directory");

  // Sound archives near the bound still unpack.
  MakeZip(archive, "[(b'zeros.bin', bytes(8 << 20), 8, False)]");
  EXPECT_EQ(Unpack(archive), 1);
  EXPECT_EQ(fs::file_size("zeros.bin"), 8u << 20);
}

// Stored entries laid out by hand, for what no tool at hand writes: data descriptors without their
// signature, and descriptors that are wrong or not there at all.
enum class Descriptor { kNone, kBare, kSigned, kMissing };
struct RawEntry {
  std::string name, data;
  Descriptor descriptor = Descriptor::kNone;
};
std::string LayOut(const std::vector<RawEntry>& entries) {
  std::string out, directory;
  for (const RawEntry& entry : entries) {
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), uInt(entry.data.size())));
    const uint32_t size = uint32_t(entry.data.size());
    const bool later = entry.descriptor != Descriptor::kNone;
    // From "version needed" to the extra field's length, local header and directory record agree.
    std::string common(26, '\0');
    Put16(common, 0, 20);
    Put16(common, 2, later ? 0x0008 : 0);
    for (size_t at : {10, 14, 18}) Put32(common, at, at == 10 ? crc : size);
    Put16(common, 22, uint16_t(entry.name.size()));
    std::string local = "PK\x03\x04" + common, central = "PK\x01\x02" + std::string("\x14\0", 2) + common;
    if (later) local.replace(14, 12, 12, '\0');
    central += std::string(14, '\0');
    Put32(central, 42, uint32_t(out.size()));
    directory += central + entry.name;
    out += local + entry.name + entry.data;
    const std::string descriptor = "PK\x07\x08" + common.substr(10, 12);
    if (entry.descriptor == Descriptor::kSigned) out += descriptor;
    if (entry.descriptor == Descriptor::kBare) out += descriptor.substr(4);
  }
  std::string end(22, '\0');
  Put32(end, 0, 0x06054B50);
  Put16(end, 8, uint16_t(entries.size()));
  Put16(end, 10, uint16_t(entries.size()));
  Put32(end, 12, uint32_t(directory.size()));
  Put32(end, 16, uint32_t(out.size()));
  return out + directory + end;
}

TEST_F(UnpackTest, DataDescriptorsFromRealToolsGiveTheSameFiles) {
  // Info-ZIP writing to a pipe (or with -fd) and bsdtar put the sizes and CRC behind the data.
  fs::path tree = m_root / "tree";
  std::string noise;
  for (uint32_t i = 0, seed = 7; i < 200000; ++i) noise += char((seed = seed * 1664525u + 1013904223u) >> 24);
  const std::map<std::string, std::string> files{{"Data/Sub/noise.bin", noise},
                                                 {"Data/readme.txt", std::string(50000, 'r') + "end"},
                                                 {"Data/empty.dat", ""},
                                                 {"Zobi.exe", "game"}};
  for (const auto& [path, bytes] : files) WriteText(tree / path, bytes);
  fs::create_directories(tree / "Data/Empty");
  const std::string in = "cd '" + tree.string() + "' && ";
  ASSERT_EQ(RunShell(in + "zip -q -r - Data Zobi.exe | cat > ../pipe.zip && zip -q -r -fd ../fd.zip Data Zobi.exe && "
                          "bsdtar --format zip -cf ../bsdtar.zip Data Zobi.exe && "
                          "bsdtar --format zip --options zip:compression=store -cf ../bsdtar-stored.zip Data Zobi.exe"),
            0);
  for (const char* name : {"pipe.zip", "fd.zip", "bsdtar.zip", "bsdtar-stored.zip"}) {
    SCOPED_TRACE(name);
    const std::string raw = ReadText(m_root / name);
    EXPECT_NE(raw.find("PK\x07\x08"), std::string::npos);  // the tool did write descriptors
    fs::remove_all("Data");
    fs::remove("Zobi.exe");
    EXPECT_EQ(UnpackAndList(m_root / name, 1),
              "Data/\nData/Empty/\nData/Sub/\nData/Sub/noise.bin\nData/empty.dat\nData/readme.txt\nZobi.exe\n");
    for (const auto& [path, bytes] : files) EXPECT_TRUE(ReadText(path) == bytes) << path;
  }
  EXPECT_FALSE(ListCleared());
}

TEST_F(UnpackTest, DataDescriptorsMustMatchTheDirectoryAndLieBeforeTheNextRecord) {
  const RawEntry first{"first.txt", "first"};
  WriteText(m_root / "good.zip", LayOut({first, {"Dir/bare.txt", "bare", Descriptor::kBare},
                                         {"signed.txt", "signed", Descriptor::kSigned}}));
  EXPECT_EQ(UnpackAndList(m_root / "good.zip", 1), "Dir/\nDir/bare.txt\nfirst.txt\nsigned.txt\n");
  EXPECT_EQ(ReadText("Dir/bare.txt"), "bare");
  EXPECT_EQ(ReadText("signed.txt"), "signed");
  fs::remove_all("Dir");
  fs::remove("first.txt");
  fs::remove("signed.txt");

  const char* const kNoDescriptor = "no data descriptor behind its data that agrees";
  const char* const kDisagrees = "local header that disagrees";
  struct Case {
    const char* what;
    std::vector<RawEntry> entries;
    void (*change)(std::string& raw, const Records& records);
    const char* reason;
  } cases[] = {
      {"a descriptor with another CRC", {first, {"Dir/x.txt", "data", Descriptor::kSigned}, first},
       [](std::string& raw, const Records& r) { raw[r.locals[2] - 16 + 4] ^= 1; }, kNoDescriptor},
      {"a descriptor with another size", {first, {"Dir/x.txt", "data", Descriptor::kBare}, first},
       [](std::string& raw, const Records& r) { raw[r.locals[2] - 12 + 8] ^= 1; }, kNoDescriptor},
      {"no descriptor before the next header", {first, {"Dir/x.txt", "data", Descriptor::kMissing}, first},
       [](std::string&, const Records&) {}, kNoDescriptor},
      {"no descriptor before the directory", {first, {"Dir/x.txt", "data", Descriptor::kMissing}},
       [](std::string&, const Records&) {}, kNoDescriptor},
      {"a descriptor the local header does not announce", {first, {"Dir/x.txt", "data", Descriptor::kSigned}},
       [](std::string& raw, const Records& r) { Put16(raw, r.locals[1] + 6, 0); }, kDisagrees},
      {"local sizes that are neither 0 nor the directory's", {first, {"Dir/x.txt", "data", Descriptor::kSigned}},
       [](std::string& raw, const Records& r) { Put32(raw, r.locals[1] + 22, 3); }, kDisagrees},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string raw = LayOut(c.entries);
    c.change(raw, RecordsOf(raw));
    WriteText(m_root / "bad.zip", raw);
    EXPECT_EQ(UnpackAndList(m_root / "bad.zip", 0), "");
    EXPECT_REFUSED_FOR(m_root / "bad.zip", c.reason);
  }
}

TEST_F(UnpackTest, AnArchiveThatCannotBeUnpackedWholeWritesNothing) {
  // The first entry would replace a read-only file and the second make a folder; the reader's
  // refusal of the second must come before either.
  WriteText("Ro.txt", "old");
  ASSERT_TRUE(platform::SetFileAttributes("Ro.txt", platform::kFileAttributeReadOnly));
  const fs::path source = m_root / "source";
  WriteText(source / "Ro.txt", "new");
  WriteText(source / "Second/second.dat", std::string(100000, 's'));
  ASSERT_EQ(RunShell("cd '" + source.string() + "' && 7z a -tzip -mm=Deflate64 -bd -bso0 ../d64.zip Ro.txt Second/second.dat"),
            0);
  std::string raw = ReadText(m_root / "d64.zip");
  ASSERT_EQ(Get32(raw, RecordsOf(raw).centrals[1] + 10) & 0xFFFF, 9u);  // 7-Zip keeps the order of names

  const char* entries = R"([(b'Ro.txt', b'new', 0, False), (b'Second/second.dat', b's' * 100000, 8, False)])";
  MakeZip(m_root / "p.zip", entries);
  const std::string good = ReadText(m_root / "p.zip");
  const Records records = RecordsOf(good);
  auto changed = [&](const char* name, std::initializer_list<std::pair<size_t, uint16_t>> fields) {
    std::string bytes = good;
    for (auto [at, value] : fields) Put16(bytes, at, value);
    WriteText(m_root / name, bytes);
    return m_root / name;
  };
  MakeZip(m_root / "bzip2.zip", R"([(b'Ro.txt', b'new', 0, False), (b'Second/second.dat', b'x' * 1000, 12, False)])");
  const std::pair<fs::path, const char*> archives[] = {
      {m_root / "d64.zip", "Deflate64"},
      {m_root / "bzip2.zip", "compression method"},
      {changed("encrypted.zip", {{records.locals[1] + 6, 1}, {records.centrals[1] + 8, 1}}), "encrypted"},
      {changed("crc.zip", {{records.locals[1] + 14, uint16_t(Get32(good, records.locals[1] + 14) + 1)}}),
       "disagrees with the directory"},
      {changed("method.zip", {{records.locals[1] + 8, 0}}), "disagrees with the directory"},
      {changed("zip64.zip", {{records.centrals[1] + 24, 0xFFFF}, {records.centrals[1] + 26, 0xFFFF}}), "ZIP64"},
  };
  for (const auto& [archive, reason] : archives) {
    SCOPED_TRACE(archive.filename().string());
    EXPECT_REFUSED_FOR(archive, reason);
    EXPECT_EQ(Unpack(archive), 0);
    EXPECT_EQ(Listing(Game()), "Ro.txt\n");
    EXPECT_EQ(ReadText("Ro.txt"), "old");
    EXPECT_TRUE(platform::GetFileAttributes("Ro.txt") & platform::kFileAttributeReadOnly);
    EXPECT_TRUE(ListCleared());
    m_dlg.m_pPatchList = std::make_unique<PatchFileList>();
  }
  EXPECT_EQ(Unpack(m_root / "p.zip"), 1);  // the archive they were made from is sound
  EXPECT_EQ(ReadText("Ro.txt"), "new");
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
