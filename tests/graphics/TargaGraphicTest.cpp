// The Targa reader and writer on hand-made bitmaps and headers: the probe,
// what the writer puts into the header and the map, that it leaves the
// bitmap as it was, and its write errors. The conformance sets and
// malformed files: targa_reference.py.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint8_t mapType, uint8_t imageType, uint8_t entrySize, uint16_t width, uint16_t height, uint8_t depth,
             uint8_t descriptor = 0x20) {
  return {0, mapType, imageType, 0, 0, 0, 0, entrySize, 0, 0, 0, 0, static_cast<uint8_t>(width),
          static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8), depth,
          descriptor};
}

bool Probe(Bytes data) {
  data.push_back(0);  // more than the header
  TMemoryStream stream(data);
  return TTargaGraphic::ProbeStream(stream);
}

TEST(TargaGraphicTest, ProbeTestsTheEntrySizeOnlyWithAMap) {
  EXPECT_TRUE(Probe(Header(0, 2, 0, 4, 4, 24)));
  EXPECT_TRUE(Probe(Header(1, 1, 24, 4, 4, 8)));
  EXPECT_FALSE(Probe(Header(1, 1, 0, 4, 4, 8)));
  EXPECT_FALSE(Probe(Header(0, 5, 0, 4, 4, 24)));
  EXPECT_FALSE(Probe(Header(0, 2, 0, 4, 4, 12)));
  TMemoryStream headerOnly(Header(0, 2, 0, 4, 4, 24));
  EXPECT_FALSE(TTargaGraphic::ProbeStream(headerOnly));
}

// A 4-bit bitmap with a palette of its own colours, none of them in the
// 8-bit default palette.
void MakeFourBit(TBitmap& bitmap) {
  bitmap.SetPixelLayout(pl4Bit);
  bitmap.AssignPalette(CreatePalette({{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}));
  bitmap.ResizeWidth(3);
  bitmap.ResizeHeight(2);
  bitmap.RowPointer(0)[0] = 0x01, bitmap.RowPointer(0)[1] = 0x20;
  bitmap.RowPointer(1)[0] = 0x22, bitmap.RowPointer(1)[1] = 0x10;
}

TEST(TargaGraphicTest, WriterKeepsTheIndicesAndPaletteOfAFourBitBitmap) {
  TTargaGraphic graphic;
  MakeFourBit(graphic);
  TMemoryStream stream;
  graphic.SaveStream(stream);
  EXPECT_EQ(graphic.PixelLayoutOf(), pl4Bit);  // the bitmap is left as it was
  const Bytes& data = stream.Data();
  ASSERT_EQ(data.size(), 18u + 768 + 8);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 18), (Bytes{0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0x20}));
  EXPECT_EQ(Bytes(data.begin() + 18, data.begin() + 27), (Bytes{30, 20, 10, 60, 50, 40, 90, 80, 70}));
  EXPECT_EQ(Bytes(data.begin() + 27, data.begin() + 18 + 768), Bytes(768 - 9, 0));  // past the palette: zeros
  EXPECT_EQ(Bytes(data.begin() + 18 + 768, data.end()), (Bytes{0x02, 0, 1, 2, 0x81, 2, 0x00, 1}));

  TMemoryStream raw;
  graphic.WriteTarga(raw, false);
  ASSERT_EQ(raw.Data().size(), 18u + 768 + 6);
  EXPECT_EQ(raw.Data()[2], 1);
  EXPECT_EQ(Bytes(raw.Data().end() - 6, raw.Data().end()), (Bytes{0, 1, 2, 2, 2, 1}));

  TTargaGraphic back;
  stream.SetPosition(0);
  back.LoadStream(stream);
  ASSERT_EQ(back.PixelLayoutOf(), pl8Bit);
  EXPECT_EQ(Bytes(back.ConstRowPointer(1), back.ConstRowPointer(1) + 3), (Bytes{2, 2, 1}));
  EXPECT_EQ(back.EffectivePalette()[2], (TPaletteEntry{70, 80, 90, 0}));
}

// Grey, 3 x 3, top-down, run-length coded: one raw packet fills the first
// row, then the data end.
Bytes ReadCutGreyRows(uint8_t depth) {
  Bytes file = Header(0, 11, 0, 3, 3, depth);
  const Bytes row = depth == 8 ? Bytes{2, 100, 150, 200} : Bytes{2, 100, 255, 150, 255, 200, 255};
  file.insert(file.end(), row.begin(), row.end());
  TMemoryStream stream(file);
  TTargaGraphic graphic;
  graphic.LoadStream(stream);
  EXPECT_EQ(graphic.PixelLayoutOf(), pl8Bit);
  Bytes rows;
  for (int32_t y = 0; y < 3; ++y) rows.insert(rows.end(), graphic.ConstRowPointer(y), graphic.ConstRowPointer(y) + 3);
  return rows;
}

TEST(TargaGraphicTest, GreyAndAlphaRowsPastTheDataAreLeftLikePlainGrey) {
  const Bytes grey = ReadCutGreyRows(8);
  EXPECT_EQ(Bytes(grey.begin(), grey.begin() + 3), (Bytes{100, 150, 200}));
  EXPECT_NE(Bytes(grey.begin() + 3, grey.begin() + 6), (Bytes{100, 150, 200}));
  EXPECT_EQ(ReadCutGreyRows(16), grey);
}

TEST(TargaGraphicTest, WriterDepthOfEachLayout) {
  for (auto [layout, depth] : {std::pair{pl1Bit, 8}, {pl8Bit, 8}, {pl15Bit, 16}, {pl16Bit, 24}, {pl24Bit, 24},
                               {pl32Bit, 32}, {plDevice, 32}}) {
    TTargaGraphic graphic;
    graphic.SetPixelLayout(layout);
    graphic.ResizeWidth(5);
    graphic.ResizeHeight(3);
    TMemoryStream stream;
    graphic.SaveStream(stream);
    ASSERT_GT(stream.Data().size(), 18u) << PixelLayoutName(layout);
    EXPECT_EQ(stream.Data()[16], depth) << PixelLayoutName(layout);
    EXPECT_EQ(stream.Data()[2], depth == 8 ? 9 : 10) << PixelLayoutName(layout);
  }
  TTargaGraphic empty;
  TMemoryStream stream;
  empty.SaveStream(stream);
  EXPECT_TRUE(stream.Data().empty());
}

// Takes the first limit bytes written, then refuses.
class TShortStream : public TMemoryStream {
public:
  explicit TShortStream(size_t limit) : FLimit(limit) {}
  size_t Write(const void* buffer, size_t count) override {
    if (Data().size() + count > FLimit) return 0;
    return TMemoryStream::Write(buffer, count);
  }

private:
  size_t FLimit;
};

TEST(TargaGraphicTest, EveryFailedWriteIsReported) {
  for (size_t limit : {0u, 18u, 18u + 768u, 18u + 768u + 4u}) {
    TTargaGraphic graphic;
    MakeFourBit(graphic);
    TShortStream stream(limit);
    try {
      graphic.SaveStream(stream);
      ADD_FAILURE() << "no error after " << limit << " bytes";
    } catch (const EWriteError& e) {
      EXPECT_EQ(std::string(e.what()), "Stream write error");
    }
  }
}

}  // namespace
}  // namespace tolvane
