#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "picture/Classes.h"
#include "support/TempDir.h"

using namespace tolvane;
namespace fs = std::filesystem;

namespace {

using TempDir = test::TTempDir;

}  // namespace

TEST(MemoryStream, PlainReadLeavesUndeliveredBytesAndExactReadRaises) {
  TMemoryStream s(std::vector<uint8_t>{1, 2, 3});
  uint8_t buf[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(s.Read(buf, 5), 3u);
  EXPECT_EQ(buf[2], 3);
  EXPECT_EQ(buf[3], 9);
  s.SetPosition(1);
  try {
    s.ReadExact(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  s.SetPosition(0);
  EXPECT_EQ(s.ReadWordLE(), 0x0201);
  EXPECT_EQ(s.Remaining(), 1);
}

TEST(MemoryStream, WritesGrowAndSetSizeCuts) {
  TMemoryStream s;
  s.WriteLongLE(0x11223344);
  s.SetPosition(2);
  s.WriteByte(0xAA);
  EXPECT_EQ(s.Data(), (std::vector<uint8_t>{0x44, 0x33, 0xAA, 0x11}));
  s.SetSize(1);
  EXPECT_EQ(s.Size(), 1);
  EXPECT_EQ(s.Position(), 1);
}

TEST(FileStream, OpensRegularFilesOnly) {
  TempDir dir;
  std::string fifo = dir / "a.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO named like a picture must neither block nor be read.
  EXPECT_THROW(TFileStream(fifo, fmOpenRead | fmShareDenyWrite), EFOpenError);
  EXPECT_THROW(TFileStream(dir / "", fmOpenRead), EFOpenError);
  try {
    TFileStream(dir / "missing.bmp", fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + (dir / "missing.bmp") + "\". No such file or directory");
  }
}

TEST(FileStream, CreateTruncatesAndReadsBack) {
  TempDir dir;
  std::string name = dir / "x.bin";
  std::ofstream(name) << "old contents that are longer";
  {
    TFileStream f(name, fmCreate);
    f.WriteExact("new", 3);
  }
  EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{'n', 'e', 'w'}));
  TFileStream r(name, fmOpenRead);
  EXPECT_EQ(r.Size(), 3);
  r.Seek(-1, TSeekOrigin::soEnd);
  EXPECT_EQ(r.ReadByte(), 'w');
  EXPECT_THROW(r.ReadByte(), EReadError);
}
