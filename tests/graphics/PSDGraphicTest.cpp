// The Photoshop reader on hand-made files: what the probe accepts and a
// file that starts inside a stream. Pixels, modes and messages are checked
// by psd_reference.py through imgdump.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/GraphicFormats.h"
#include "picture/ByteOrder.h"
#include "support/CountingStream.h"
#include "support/ProbeFiles.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Probe;

// A Photoshop file: header, empty sections, raw composite of `channels`
// planes whose samples are their plane number + 1.
Bytes Psd(const char* signature, uint16_t version, uint16_t channels, uint16_t mode, uint32_t width = 3,
          uint32_t height = 2) {
  Bytes d(signature, signature + 4);
  AppendBE16(d, version);
  d.insert(d.end(), 6, 0);
  AppendBE16(d, channels);
  AppendBE32(d, height);
  AppendBE32(d, width);
  AppendBE16(d, 8);
  AppendBE16(d, mode);
  for (int section = 0; section < 3; ++section) AppendBE32(d, 0);
  AppendBE16(d, 0);
  for (uint16_t c = 0; c < channels; ++c) d.insert(d.end(), size_t{width} * height, static_cast<uint8_t>(c + 1));
  return d;
}

TEST(PSDGraphic, ProbeTakesAnyCaseButOnlyVersionOne) {
  EXPECT_TRUE(Probe<TPSDGraphic>(Psd("8BPS", 1, 3, 3)));
  EXPECT_TRUE(Probe<TPSDGraphic>(Psd("8bps", 1, 3, 3)));
  EXPECT_FALSE(Probe<TPSDGraphic>(Psd("8BPS", 2, 3, 3)));
  EXPECT_FALSE(Probe<TPSDGraphic>(Psd("8BPS", 0, 3, 3)));
  Bytes shortFile = Psd("8BPS", 1, 3, 3);
  shortFile.resize(26);
  EXPECT_FALSE(Probe<TPSDGraphic>(shortFile));
}

TEST(PSDGraphic, LoadsFromInsideAStreamAndAgain) {
  Bytes data{1, 2, 3, 4, 5};
  const Bytes rgb = Psd("8BPS", 1, 3, 3);
  data.insert(data.end(), rgb.begin(), rgb.end());
  TMemoryStream stream(data);
  stream.SetPosition(5);
  TPSDGraphic g;
  g.LoadStream(stream);
  EXPECT_EQ(g.ImageWidth(), 3);
  EXPECT_EQ(g.PixelLayoutOf(), pl24Bit);
  EXPECT_EQ(g.PixelColor(2, 1), RGBColor(1, 2, 3));
  // The same graphic takes a grey file next.
  TMemoryStream grey(Psd("8BPS", 1, 1, 1, 4, 4));
  g.LoadStream(grey);
  EXPECT_EQ(g.PixelLayoutOf(), pl8Bit);
  EXPECT_EQ(g.PixelColor(3, 3), RGBColor(1, 1, 1));
}

// A PackBits RGB file 0 pixels wide and `height` high whose rows each hold
// one byte of packed data.
Bytes NoPixels(uint32_t height) {
  Bytes d = Psd("8BPS", 1, 3, 3, 0, height);
  d.back() = 1;  // PackBits
  for (uint32_t i = 0; i < 3 * height; ++i) AppendBE16(d, 1);
  d.insert(d.end(), size_t{3} * height, 0x80);
  return d;
}

// A picture without pixels costs nothing, however many rows it claims,
// and it is refused for what is missing as any other picture.
TEST(PSDGraphic, APictureWithoutPixelsReadsNoRows) {
  const Bytes file = NoPixels(100000);
  test::TCountingStream stream(file);
  TPSDGraphic g;
  g.LoadStream(stream);
  EXPECT_EQ(g.ImageWidth(), 0);
  EXPECT_EQ(g.ImageHeight(), 100000);
  EXPECT_LT(stream.Reads, 100u);
  const std::pair<size_t, const char*> cuts[] = {{1, "packed data"}, {300001, "row counts"}};
  for (const auto& [cut, what] : cuts) {
    TMemoryStream shorter(Bytes(file.begin(), file.end() - static_cast<ptrdiff_t>(cut)));
    EXPECT_THROW(g.LoadStream(shorter), EReadError) << what;
  }
}

int64_t PeakResidentKiB() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Nor does a picture without rows take memory for its width: rows of 2^28
// samples for each of three channels would be 768 MiB.
TEST(PSDGraphic, APictureWithoutRowsTakesNoMemoryForItsWidth) {
  TMemoryStream stream(Psd("8BPS", 1, 3, 3, uint32_t{1} << 28, 0));
  TPSDGraphic g;
  const int64_t before = PeakResidentKiB();
  g.LoadStream(stream);
  EXPECT_EQ(g.ImageWidth(), 1 << 28);
  EXPECT_EQ(g.ImageHeight(), 0);
  EXPECT_LT(PeakResidentKiB() - before, 64 << 10);
}

}  // namespace
}  // namespace tolvane
