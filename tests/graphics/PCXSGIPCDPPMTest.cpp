// The PCX, SGI, Photo CD and portable map readers beyond their pixels: the
// class-level probes, the image properties, the scanner's line ends at a
// buffer boundary, and one graphic reused for several files. Pixels and
// messages are checked by the readers' reference scripts.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

#include "graphics/GraphicFormats.h"
#include "support/ProbeFiles.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Probe;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

long PeakMemoryKB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

Bytes PcxHeader(uint8_t maker, uint8_t version, uint8_t encoding) {
  Bytes h(128 + 16, 0);
  h[0] = maker;
  h[1] = version;
  h[2] = encoding;
  h[3] = 8;
  h[8] = 3;   // xmax
  h[10] = 1;  // ymax
  h[65] = 1;
  h[66] = 4;
  return h;
}

Bytes SgiHeader(uint8_t bytesPerChannel, uint8_t dimension) {
  Bytes h(600, 0);
  h[0] = 0x01, h[1] = 0xDA;
  h[3] = bytesPerChannel;
  h[5] = dimension;
  h[7] = 2, h[9] = 2, h[11] = 3;
  return h;
}

Bytes PcdInfo(bool overview, uint8_t rotation) {
  Bytes d(6145, 0);
  if (overview) std::copy_n("PCD_OPA", 7, d.begin());
  else std::copy_n("PCD", 3, d.begin() + 2048);
  d[10] = 0x01, d[11] = 0x02;
  d[3586] = rotation;
  return d;
}

TEST(PCXSGIPCDPPM, ProbesAcceptTheirHeadersOnly) {
  EXPECT_TRUE(Probe<TPCXGraphic>(PcxHeader(10, 5, 1)));
  EXPECT_TRUE(Probe<TPCXGraphic>(PcxHeader(12, 0, 0)));
  EXPECT_FALSE(Probe<TPCXGraphic>(PcxHeader(205, 5, 1)));  // loads, but the probe knows only 10 and 12
  EXPECT_FALSE(Probe<TPCXGraphic>(PcxHeader(10, 4, 1)));
  EXPECT_FALSE(Probe<TPCXGraphic>(PcxHeader(10, 5, 2)));
  const Bytes pcx = PcxHeader(10, 5, 1);
  EXPECT_FALSE(Probe<TPCXGraphic>(Bytes(pcx.begin(), pcx.begin() + 128)));

  EXPECT_TRUE(Probe<TSGIGraphic>(SgiHeader(1, 3)));
  EXPECT_TRUE(Probe<TSGIGraphic>(SgiHeader(2, 1)));
  EXPECT_FALSE(Probe<TSGIGraphic>(SgiHeader(3, 3)));
  EXPECT_FALSE(Probe<TSGIGraphic>(SgiHeader(1, 4)));

  EXPECT_TRUE(Probe<TPCDGraphic>(PcdInfo(true, 0)));
  EXPECT_TRUE(Probe<TPCDGraphic>(PcdInfo(false, 0)));
  EXPECT_FALSE(Probe<TPCDGraphic>(Bytes(6145, 0)));
  const Bytes pcd = PcdInfo(true, 0);
  EXPECT_FALSE(Probe<TPCDGraphic>(Bytes(pcd.begin(), pcd.begin() + 6144)));

  EXPECT_TRUE(Probe<TPPMGraphic>(Text("P6 1 1 255\n...")));
  EXPECT_FALSE(Probe<TPPMGraphic>(Text("P7 1 1 255\n...")));
  EXPECT_FALSE(Probe<TPPMGraphic>(Text("P6 1 1 255")));
}

TEST(PCXSGIPCDPPM, PhotoCdProperties) {
  TPCDGraphic graphic;
  for (uint32_t index : {0u, 2u, 3u, 9u}) {
    TMemoryStream stream(PcdInfo(false, 6));
    ASSERT_TRUE(graphic.ReadImageInfo(stream, index));
    const TImageProperties& p = graphic.ImageProperties;
    const uint32_t used = index > 5 ? 5 : index;
    EXPECT_EQ(p.Width, 192u << used);
    EXPECT_EQ(p.Height, 128u << used);
    EXPECT_EQ(p.PcdRotation, 2);
    EXPECT_EQ(p.Compression, used > 2 ? icPCDHuffman : icNone);
    EXPECT_EQ(p.ColorScheme, ckPhotoYCC);
  }
  // Overview packs report their thumbnails' size whatever the index; the
  // image count is big-endian; a turned picture exchanges the sides.
  TMemoryStream overview(PcdInfo(true, 1));
  ASSERT_TRUE(graphic.ReadImageInfo(overview, 2));
  EXPECT_TRUE(graphic.ImageProperties.PcdOverview);
  EXPECT_EQ(graphic.ImageProperties.PcdImageCount, 258);
  EXPECT_EQ(graphic.ImageProperties.Width, 128u);
  EXPECT_EQ(graphic.ImageProperties.Height, 192u);
  TMemoryStream none(Bytes(6144, 0));
  EXPECT_FALSE(graphic.ReadImageInfo(none, 2));
  EXPECT_EQ(graphic.ImageProperties.Width, 0u);
}

TEST(PCXSGIPCDPPM, PortableMapScanner) {
  // A CR that ends a buffer fill: the LF after it is left to the next read.
  std::string text = "P2\n" + std::string(4096 - 3 - 1, '#') + "\r\n2 1 255 10 20\n";
  TPPMGraphic graphic;
  TMemoryStream stream(Text(text));
  ASSERT_TRUE(graphic.ReadImageInfo(stream, 0));
  EXPECT_EQ(graphic.ImageProperties.Width, 2u);
  EXPECT_EQ(graphic.ImageProperties.Height, 1u);
  EXPECT_EQ(graphic.NextByte(), '1');
  EXPECT_EQ(graphic.ReadNumber(), 0u);
  EXPECT_EQ(graphic.ReadNumber(), 20u);
  // Too many digits stay at the largest number instead of wrapping round.
  TMemoryStream huge(Text("P5 4294967296 99999999999 255\n"));
  ASSERT_TRUE(graphic.ReadImageInfo(huge, 0));
  EXPECT_EQ(graphic.ImageProperties.Width, UINT32_MAX);
  EXPECT_EQ(graphic.ImageProperties.Height, UINT32_MAX);
}

TEST(PCXSGIPCDPPM, PcxLinesBeyondTheRunLengthDataStayClear) {
  // 1 x 8000 pixels in four 1-bit planes, each line padded to 64 KB by the
  // header, and data for the first line's first bytes only: what is decoded
  // is bounded by the data, not by the 2 GB the lines claim.
  Bytes file = PcxHeader(10, 5, 1);
  file.resize(128);
  file[3] = 1;
  file[8] = 0;
  file[10] = 0x3F, file[11] = 0x1F;  // ymax 7999
  file[65] = 4;
  file[66] = 0xFF, file[67] = 0xFF;
  file.insert(file.end(), {0xC1, 0xFF, 0xC2, 0x00});
  TMemoryStream stream(file);
  TPCXGraphic pcx;
  const long peakBefore = PeakMemoryKB();
  pcx.LoadStream(stream);
  EXPECT_LT(PeakMemoryKB() - peakBefore, 256 * 1024);
  ASSERT_EQ(pcx.ImageHeight(), 8000);
  ASSERT_EQ(pcx.PixelLayoutOf(), pl4Bit);
  EXPECT_EQ(pcx.RowPointer(0)[0] >> 4, 1);
  EXPECT_EQ(pcx.RowPointer(1)[0], 0);
  EXPECT_EQ(pcx.RowPointer(7999)[0], 0);
}

TEST(PCXSGIPCDPPM, PcxRunsGoOnAcrossLinesAndReadWindows) {
  // 256 x 320 indexed pixels: literal bytes, and a run of 63 whose count is
  // the last byte of the first 64 KiB read and whose value is the first of
  // the next; the run starts at a line's last pixel.
  Bytes file = PcxHeader(10, 5, 1);
  file.resize(128);
  file[8] = 0xFF, file[9] = 0;
  file[10] = 0x3F, file[11] = 0x01;  // ymax 319
  file[66] = 0, file[67] = 1;
  Bytes expected;
  for (size_t i = 0; i < 65535; ++i) file.push_back(static_cast<uint8_t>(i % 0xC0)), expected.push_back(file.back());
  file.insert(file.end(), {0xFF, 0x05});
  expected.insert(expected.end(), 63, 0x05);
  while (expected.size() < 256 * 320) file.push_back(static_cast<uint8_t>(expected.size() % 0xBF)), expected.push_back(file.back());
  file.push_back(12);  // the palette block, which is no pixel data
  file.resize(file.size() + 768, 0);
  TMemoryStream stream(file);
  TPCXGraphic pcx;
  pcx.LoadStream(stream);
  ASSERT_EQ(pcx.PixelLayoutOf(), pl8Bit);
  size_t differ = 0;
  for (int32_t y = 0; y < 320; ++y)
    for (size_t x = 0; x < 256; ++x) differ += pcx.RowPointer(y)[x] != expected[static_cast<size_t>(y) * 256 + x];
  EXPECT_EQ(differ, 0u);
}

TEST(PCXSGIPCDPPM, PortableMapWithoutColumnsIsRefused) {
  for (const char* text : {"P1\n0 268435456\n", "P5 0 100000 255\n"}) {
    TMemoryStream stream(Text(text));
    TPPMGraphic ppm;
    EXPECT_THROW(ppm.LoadStream(stream), EInvalidGraphic) << text;
  }
  TMemoryStream noRows(Text("P4 5 0\n"));
  TPPMGraphic ppm;
  ppm.LoadStream(noRows);
  EXPECT_EQ(ppm.ImageHeight(), 0);
  // Nor do rows that are not there take memory for their width: a row of
  // 2^26 pixels of 16-bit samples would be 384 MiB.
  TMemoryStream wide(Text("P6 67108864 0 65535\n"));
  const long peakBefore = PeakMemoryKB();
  ppm.LoadStream(wide);
  EXPECT_EQ(ppm.ImageWidth(), 1 << 26);
  EXPECT_LT(PeakMemoryKB() - peakBefore, 64 * 1024);
}

TEST(PCXSGIPCDPPM, PortableMapCommentsAreSkippedWithoutBeingKept) {
  Bytes file = Text("P2\n#");
  file.resize(file.size() + (size_t{16} << 20), 'c');
  const Bytes rest = Text("\n2 1 255 10 20\n");
  file.insert(file.end(), rest.begin(), rest.end());
  TMemoryStream stream(std::move(file));
  TPPMGraphic ppm;
  const long peakBefore = PeakMemoryKB();
  ppm.LoadStream(stream);
  EXPECT_LT(PeakMemoryKB() - peakBefore, 8 * 1024);
  ASSERT_EQ(ppm.ImageWidth(), 2);
  EXPECT_EQ(ppm.RowPointer(0)[1], 20);
}

TEST(PCXSGIPCDPPM, AGraphicReloadsCleanly) {
  // The second file must not see the first one's palette, rows or kind.
  TPPMGraphic ppm;
  TMemoryStream grey(Text("P5 2 1 255\n\x10\x20"));
  ppm.LoadStream(grey);
  TMemoryStream colour(Text("P6 1 1 255\n\x01\x02\x03"));
  ppm.LoadStream(colour);
  ASSERT_EQ(ppm.PixelLayoutOf(), pl24Bit);
  EXPECT_EQ(ppm.PixelColor(0, 0), 0x030201u);

  TPCXGraphic pcx;
  Bytes file = PcxHeader(10, 5, 0);
  for (size_t i = 128; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i);
  TMemoryStream first(file);
  pcx.LoadStream(first);
  EXPECT_EQ(pcx.ImageWidth(), 4);
  TMemoryStream empty(Bytes(200, 0));
  pcx.LoadStream(empty);
  EXPECT_EQ(pcx.ImageWidth(), 0);
}

}  // namespace
}  // namespace tolvane
