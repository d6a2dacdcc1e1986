// The GIF reader on a hand-made file: the palette, the rows after interlace
// and the progress reports. The conformance set and malformed files:
// gif_reference.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/GraphicFormats.h"
#include "support/CountingStream.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

// 3 x 10, interlaced, a 2-entry global table, a graphic control extension
// and a 4-entry local table (1,2,3 / 4,5,6 / ...); row y holds the indices
// y, y + 1, y + 2 (mod 4).
const Bytes Interlaced = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x03, 0x00, 0x0A, 0x00, 0x80, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x02, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x0A, 0x00,
    0xC1, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x02, 0x12, 0x44, 0x28, 0x30,
    0x22, 0x42, 0x89, 0x03, 0x35, 0x22, 0xD4, 0x38, 0x30, 0xA1, 0xC6, 0x81, 0x09, 0xB5, 0x02, 0x00, 0x3B};

void ExpectInterlacedRows(TGIFGraphic& graphic) {
  ASSERT_EQ(graphic.PixelLayoutOf(), pl8Bit);
  ASSERT_EQ(graphic.ImageWidth(), 3);
  ASSERT_EQ(graphic.ImageHeight(), 10);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(graphic.ConstRowPointer(y)[x], (y + x) % 4) << x << "," << y;
}

TEST(GIFGraphicTest, RowsAndLocalPalette) {
  TGIFGraphic graphic;
  TMemoryStream stream(Interlaced);
  graphic.LoadStream(stream);
  ExpectInterlacedRows(graphic);
  const std::vector<TPaletteEntry> palette = graphic.EffectivePalette();
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[3], (TPaletteEntry{10, 11, 12, 0}));
  EXPECT_EQ(palette[4], (TPaletteEntry{0, 0, 0, 0}));
  EXPECT_FALSE(graphic.IsTransparentImage());
}

TEST(GIFGraphicTest, ProgressOfTheLastPassStaysWithin100) {
  TGIFGraphic graphic;
  std::vector<std::string> stages;
  graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string& msg) {
    stages.push_back(stage == TProgressStage::psStarting ? "start " + msg
                     : stage == TProgressStage::psEnding ? "end"
                                                         : std::to_string(percent));
  };
  TMemoryStream stream(Interlaced);
  graphic.LoadStream(stream);
  // The fourth pass places rows 1, 3, 5, 7 and 9.
  EXPECT_EQ(stages, (std::vector<std::string>{"start Preparing...", "end", "start Loading data...", "end",
                                              "start Transfering...", "30", "50", "70", "90", "100", "end"}));
}

// Extensions are walked once, a block at a time: a small picture behind
// 100,000 of them costs a few reads, not several an extension.
TEST(GIFGraphicTest, ManyExtensionsCostAFewReads) {
  const auto globalTableEnd = Interlaced.begin() + 19;
  Bytes file(Interlaced.begin(), globalTableEnd);
  const Bytes control = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x02, 0x00};
  for (int i = 0; i < 100000; ++i) file.insert(file.end(), control.begin(), control.end());
  file.insert(file.end(), globalTableEnd, Interlaced.end());
  TGIFGraphic graphic;
  test::TCountingStream stream(file);
  graphic.LoadStream(stream);
  ExpectInterlacedRows(graphic);
  EXPECT_LT(stream.Reads, 100u);
}

}  // namespace
}  // namespace tolvane
