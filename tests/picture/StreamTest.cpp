#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

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

namespace {

// Read system calls this process has made so far.
uint64_t ReadCalls() {
  std::ifstream io("/proc/self/io");
  for (std::string key; io >> key;) {
    uint64_t value = 0;
    io >> value;
    if (key == "syscr:") return value;
  }
  return 0;
}

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  test::WriteFile(name, std::string(bytes.begin(), bytes.end()));
}

// Runs the same random operations on a file stream and on a memory stream
// over the same bytes; every answer must agree, whatever the file stream's
// buffer holds at the time.
void CompareWithMemory(TFileStream& file, TMemoryStream& memory, bool writes, uint32_t seed) {
  const size_t B = TFileStream::ReadBufferSize;
  const size_t lengths[] = {0, 1, 2, 3, 7, 100, 4095, 4096, 4097, B - 1, B, B + 1, 3 * B};
  std::mt19937 random(seed);
  auto pick = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
  for (int step = 0; step < 4000; ++step) {
    const int64_t size = memory.Size();
    const size_t length = lengths[pick(0, std::size(lengths) - 1)];
    switch (pick(0, writes ? 5 : 2)) {
      case 0: {
        std::vector<uint8_t> a(length, 0xA5), b(length, 0xA5);
        ASSERT_EQ(file.Read(a.data(), length), memory.Read(b.data(), length)) << "step " << step;
        ASSERT_EQ(a, b) << "step " << step;
        break;
      }
      case 1: {
        // Runs of pieces, from a few small ones to more than one call of
        // the file's takes, into buffers that lie apart.
        const size_t pieces[] = {1, 100, 700, 4097, 9001};
        const size_t count = static_cast<size_t>(pick(1, 300)), piece = pieces[pick(0, std::size(pieces) - 1)];
        std::vector<std::vector<uint8_t>> a(count, std::vector<uint8_t>(piece, 0xA5)), b = a;
        std::vector<uint8_t*> pa, pb;
        for (size_t k = 0; k < count; ++k) pa.push_back(a[k].data()), pb.push_back(b[k].data());
        ASSERT_EQ(file.ReadPieces(pa, piece), memory.ReadPieces(pb, piece)) << "step " << step;
        ASSERT_EQ(a, b) << "step " << step;
        break;
      }
      case 2: {
        const auto origin = static_cast<TSeekOrigin>(pick(0, 2));
        const int64_t offset = pick(-size - 10, size + 2 * static_cast<int64_t>(B));
        ASSERT_EQ(file.Seek(offset, origin), memory.Seek(offset, origin)) << "step " << step;
        break;
      }
      case 3:
      case 4: {
        const std::vector<uint8_t> bytes = Noise(length, static_cast<uint32_t>(step));
        ASSERT_EQ(file.Write(bytes.data(), length), memory.Write(bytes.data(), length)) << "step " << step;
        break;
      }
      default: {
        const int64_t newSize = pick(0, size + static_cast<int64_t>(B));
        file.SetSize(newSize);
        memory.SetSize(newSize);
        break;
      }
    }
    ASSERT_EQ(file.Position(), memory.Position()) << "step " << step;
    ASSERT_EQ(file.Size(), memory.Size()) << "step " << step;
  }
}

}  // namespace

TEST(FileStream, ReadsSeeksAndWritesAgreeWithTheBytesOfTheFile) {
  TempDir dir;
  const std::string name = dir / "data.bin";
  const std::vector<uint8_t> bytes = Noise(3 * TFileStream::ReadBufferSize + 123, 1);
  WriteFile(name, bytes);
  {
    TFileStream file(name, fmOpenRead | fmShareDenyWrite);
    TMemoryStream memory(bytes);
    CompareWithMemory(file, memory, false, 2);
  }
  TMemoryStream memory(bytes);
  {
    TFileStream file(name, fmOpenReadWrite);
    CompareWithMemory(file, memory, true, 3);
  }
  EXPECT_EQ(ReadFileBytes(name), memory.Data());
}

TEST(FileStream, ShortReadsAtTheEndAndSeeksPastIt) {
  TempDir dir;
  const std::string name = dir / "short.bin";
  WriteFile(name, {1, 2, 3, 4, 5});
  TFileStream file(name, fmOpenReadWrite);
  uint8_t buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  file.SetPosition(3);
  EXPECT_EQ(file.Read(buf, 8), 2u);
  EXPECT_EQ(buf[1], 5);
  EXPECT_EQ(buf[2], 9);  // what was not delivered stays as it was
  EXPECT_EQ(file.Seek(-6, TSeekOrigin::soEnd), 5);  // before the start: stays
  EXPECT_EQ(file.Seek(INT64_MAX, TSeekOrigin::soCurrent), 5);
  EXPECT_EQ(file.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(file.Read(buf, 1), 0u);
  EXPECT_EQ(file.Size(), 5);
  // A write past the end leaves a gap of zeros, which reads see at once.
  file.WriteByte(7);
  file.SetPosition(4);
  EXPECT_EQ(file.Read(buf, 8), 7u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 7), (std::vector<uint8_t>{5, 0, 0, 0, 0, 0, 7}));
}

TEST(FileStream, SmallReadsAndSeeksCostAReadCallABuffer) {
  TempDir dir;
  const std::string name = dir / "many.bin";
  const std::vector<uint8_t> bytes = Noise(size_t{1} << 20, 4);
  WriteFile(name, bytes);
  TFileStream file(name, fmOpenRead);
  const uint64_t before = ReadCalls();
  size_t at = 0;
  while (file.Remaining() > 0) {
    ASSERT_EQ(file.ReadByte(), bytes[at]) << at;
    at = static_cast<size_t>(file.Seek(at % 7 == 0 ? 3 : 0, TSeekOrigin::soCurrent));
  }
  // About 16 buffers; a call a byte would make 600,000.
  EXPECT_LT(ReadCalls() - before, 100u);
}
