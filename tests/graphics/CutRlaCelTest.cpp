// The Dr. Halo CUT, Alias/Wavefront RLA and Autodesk readers on hand-made
// files: what a picture's pixels alone do not show (palette blocks, probes,
// properties, layouts). Conformance and malformed files are checked by
// cut_rla_cel_reference.py.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "graphics/GraphicFormats.h"
#include "picture/ByteOrder.h"
#include "support/CountingStream.h"
#include "support/TempDir.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

void Write(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
}

// A palette file whose entry i is (i, 255 - i, i / 2), stored count given.
Bytes HaloPalette(uint16_t storedCount, size_t entries) {
  Bytes data(40);
  data[0] = 'A', data[1] = 'H';
  StoreLE16(&data[12], storedCount);
  size_t offset = 40;
  for (size_t i = 0; i < entries; ++i) {
    if (offset > 506) {
      data.resize(data.size() + 512 - offset);
      offset = 0;
    }
    for (size_t v : {i, 255 - i, i / 2}) AppendLE16(data, static_cast<uint16_t>(v));
    offset += 6;
  }
  data.resize((data.size() + 511) / 512 * 512);
  return data;
}

// A 4 x 1 CUT picture: a run of three 0x41 and a literal 0x10.
const Bytes SmallCut = {4, 0, 1, 0, 0, 0, 6, 0, 0x83, 0x41, 0x01, 0x10, 0x00};

TEST(CUTGraphic, PaletteBlocksCountsAndFallbacks) {
  const test::TTempDir dir;
  const std::string cut = dir / "a.cut", pal = dir / "a.pal";
  Write(cut, SmallCut);
  {
    // Stored count 99: 100 entries, 78 in the first block and 22 from the
    // start of the second.
    Write(pal, HaloPalette(99, 100));
    TCUTGraphic graphic;
    graphic.LoadFile(cut);
    EXPECT_EQ(graphic.PaletteFileName, pal);
    ASSERT_EQ(PaletteEntryCount(graphic.PaletteOf()), 100u);
    const auto& e = graphic.PaletteOf()->Entries;
    EXPECT_EQ(e[77].peRed, 77);
    EXPECT_EQ(e[78].peRed, 78);
    EXPECT_EQ(e[99].peGreen, 156);
    const uint8_t* row = graphic.RowPointer(0);
    EXPECT_EQ(Bytes(row, row + 4), (Bytes{0x41, 0x41, 0x41, 0x10}));
  }
  {
    // The largest stored count means a full palette, not an empty one.
    Write(pal, HaloPalette(65535, 256));
    TCUTGraphic graphic;
    graphic.LoadFile(cut);
    EXPECT_EQ(PaletteEntryCount(graphic.PaletteOf()), 256u);
  }
  {
    // A palette file shorter than the blocks its count needs.
    Bytes shortPalette = HaloPalette(200, 78);
    Write(pal, shortPalette);
    TCUTGraphic graphic;
    EXPECT_THROW(graphic.LoadFile(cut), EReadError);
  }
  {
    // Loaded from a stream alone: no palette file, so greys.
    TCUTGraphic graphic;
    TMemoryStream stream(SmallCut);
    graphic.LoadStream(stream);
    ASSERT_EQ(PaletteEntryCount(graphic.PaletteOf()), 256u);
    EXPECT_EQ(graphic.PaletteOf()->Entries[0x41].peBlue, 0x41);
  }
}

TEST(CUTGraphic, DataEndingEarlyLeavesLaterRowsAsResized) {
  Bytes data = {3, 0, 3, 0, 0, 0, 4, 0, 0x83, 0x07, 0x00, 9, 0, 0x02};
  TCUTGraphic graphic;
  TMemoryStream stream(data);
  graphic.LoadStream(stream);
  ASSERT_EQ(graphic.ImageHeight(), 3);
  EXPECT_EQ(graphic.RowPointer(0)[2], 7);
  // Rows the data never reach keep the fill of the resized bitmap.
  const uint8_t* row1 = graphic.RowPointer(1);
  const uint8_t* row2 = graphic.RowPointer(2);
  EXPECT_EQ(Bytes(row1, row1 + 3), Bytes(row2, row2 + 3));
  EXPECT_EQ(row2[0], row2[2]);
  EXPECT_FALSE(TCUTGraphic::StaticClass().ProbeStream(stream));
}

TEST(CUTGraphic, RowsCodedAsSinglePixelRunsAreReadWhole) {
  // Every pixel a run of one: two bytes each, more than a literal costs.
  constexpr uint8_t width = 200, height = 3;
  Bytes data = {width, 0, height, 0, 0, 0};
  for (int y = 0; y < height; ++y) {
    AppendLE16(data, 2 * width + 1);
    for (int x = 0; x < width; ++x) data.insert(data.end(), {0x81, static_cast<uint8_t>(x ^ y)});
    data.push_back(0);
  }
  TCUTGraphic graphic;
  TMemoryStream stream(data);
  graphic.LoadStream(stream);
  ASSERT_EQ(graphic.ImageHeight(), height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) ASSERT_EQ(graphic.RowPointer(y)[x], x ^ y) << x << ", " << y;
}

// An RLA header with the fields the reader uses, followed by nothing.
Bytes RlaHeader(int16_t left, int16_t right, int16_t bottom, int16_t top, uint16_t mattes, const char* space) {
  Bytes h(740);
  StoreBE16(&h[8], static_cast<uint16_t>(left));
  StoreBE16(&h[10], static_cast<uint16_t>(right));
  StoreBE16(&h[12], static_cast<uint16_t>(bottom));
  StoreBE16(&h[14], static_cast<uint16_t>(top));
  StoreBE16(&h[20], 3);
  StoreBE16(&h[22], mattes);
  StoreBE16(&h[26], 0xFFFE);
  std::copy(space, space + std::strlen(space), h.begin() + 580);
  StoreBE16(&h[658], 8);
  return h;
}

TEST(RLAGraphic, HeaderPropertiesAndProbe) {
  {
    Bytes h = RlaHeader(10, 19, 0, 479, 1, "RGB");
    h.push_back(0);
    TMemoryStream stream(h);
    EXPECT_TRUE(TRLAGraphic::StaticClass().ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TRLAGraphic graphic;
    ASSERT_TRUE(graphic.ReadImageInfo(stream, 0));
    const TImageProperties& p = graphic.ImageProperties;
    EXPECT_EQ(p.Width, 10u);
    EXPECT_EQ(p.Height, 480u);
    EXPECT_TRUE(p.RlaBottomUp);
    EXPECT_EQ(p.ColorScheme, ckRGBA);
    EXPECT_EQ(p.SamplesPerPixel, 4);
  }
  {
    Bytes h = RlaHeader(0, 0, 479, 0, 0, "rgb");
    TMemoryStream stream(h);
    EXPECT_FALSE(TRLAGraphic::StaticClass().ProbeStream(stream));  // nothing beyond the header
    TRLAGraphic graphic;
    ASSERT_TRUE(graphic.ReadImageInfo(stream, 0));
    EXPECT_FALSE(graphic.ImageProperties.RlaBottomUp);
    EXPECT_EQ(graphic.ImageProperties.ColorScheme, ckRGB);
    EXPECT_EQ(graphic.ImageProperties.SamplesPerPixel, 3);
  }
  Bytes other = RlaHeader(0, 0, 0, 0, 0, "cmy");
  other.push_back(0);
  TMemoryStream stream(other);
  EXPECT_FALSE(TRLAGraphic::StaticClass().ProbeStream(stream));
}

// A 2 x 1 RLA picture of one grey level with the gamma text given.
Bytes GreyRla(const std::string& gamma, uint8_t level) {
  Bytes file = RlaHeader(0, 1, 0, 0, 0, "rgb");
  std::copy(gamma.begin(), gamma.end(), file.begin() + 28);
  AppendBE32(file, 744);
  for (int channel = 0; channel < 3; ++channel) {
    AppendBE16(file, 2);
    file.insert(file.end(), {0x01, level});  // a run of two
  }
  return file;
}

TEST(RLAGraphic, GammaFieldIsTheDisplayGammaTheSamplesWereMadeFor) {
  struct TCase {
    std::string Text;
    uint8_t Shown;  // level 128 on screen
    float Gamma;    // the image gamma
  };
  // Made for a display like ours, or no number at all: the samples as they
  // stand. Linear samples are brightened by 1/2.2, those made for a display
  // of 4.4 darkened by 2.
  const TCase cases[] = {{"2.2", 128, 1 / 2.2f}, {" 2.20 ", 128, 1 / 2.2f}, {"", 128, 1}, {"2,2", 128, 1},
                         {"-2.2", 128, 1}, {"0", 128, 1}, {"inf", 128, 1}, {"nan", 128, 1},
                         {"1e-30", 128, 1}, {"1e30", 128, 1}, {"1.0", 186, 1}, {"1", 186, 1},
                         {"4.4", 64, 1 / 4.4f}};
  TRLAGraphic graphic;
  for (const TCase& c : cases) {
    TMemoryStream stream(GreyRla(c.Text, 128));
    graphic.LoadStream(stream);
    ASSERT_EQ(graphic.ImageWidth(), 2) << c.Text;
    EXPECT_EQ(graphic.PixelColor(1, 0), RGBColor(c.Shown, c.Shown, c.Shown)) << '"' << c.Text << '"';
    EXPECT_FLOAT_EQ(graphic.ImageProperties.Gamma, c.Gamma) << '"' << c.Text << '"';
    EXPECT_EQ((graphic.ImageProperties.Options & optFileGamma) != 0, c.Shown != 128) << '"' << c.Text << '"';
  }
}

TEST(RLAGraphic, ChannelCountsThatDisagreeWithTheSchemeAreRefused) {
  for (const auto& [colours, mattes] : {std::pair<uint16_t, uint16_t>{3, 2}, {1, 0}, {4, 0}, {2, 1}}) {
    Bytes h = RlaHeader(0, 7, 0, 3, mattes, "rgb");
    StoreBE16(&h[20], colours);
    h.resize(h.size() + 4 * 4 + 64);
    TMemoryStream stream(h);
    TRLAGraphic graphic;
    EXPECT_THROW(graphic.LoadStream(stream), EColorConversionError) << colours << " colours, " << mattes << " mattes";
  }
}

using test::TCountingStream;

TEST(RLAGraphic, RowsSharingLongChannelsReadOnlyWhatTheWidthUses) {
  // A 1 x 4096 picture whose rows all point at one row of four channels,
  // each declared 65535 bytes long: a gray pixel, then filler.
  constexpr uint32_t height = 4096;
  Bytes file = RlaHeader(0, 0, 0, static_cast<int16_t>(height - 1), 1, "rgb");
  const uint32_t rowOffset = 740 + 4 * height;
  for (uint32_t i = 0; i < height; ++i) AppendBE32(file, rowOffset);
  for (int channel = 0; channel < 4; ++channel) {
    AppendBE16(file, 0xFFFF);
    file.insert(file.end(), {0x00, 0x7F});
    file.resize(file.size() + 0xFFFF - 2);
  }
  TCountingStream stream(file);
  TRLAGraphic graphic;
  graphic.LoadStream(stream);
  ASSERT_EQ(graphic.ImageHeight(), static_cast<int32_t>(height));
  EXPECT_EQ(Bytes(graphic.RowPointer(7), graphic.RowPointer(7) + 4), Bytes({0x7F, 0x7F, 0x7F, 0x7F}));
  EXPECT_LT(stream.BytesRead, uint64_t{1} << 20);

  // A channel longer than what is left of the file is still a file cut short.
  file.resize(file.size() - 1);
  TMemoryStream shortStream(file);
  EXPECT_THROW(graphic.LoadStream(shortStream), EReadError);
}

TEST(AutodeskGraphic, PaletteScaleProbeAndShortFiles) {
  Bytes cel = {0x19, 0x91, 3, 0, 2, 0, 0, 0, 0, 0, 8, 0};
  cel.resize(32);
  for (int i = 0; i < 256; ++i) cel.insert(cel.end(), {0x3F, static_cast<uint8_t>(i & 0x3F), 0x41});
  const Bytes pixels = {0, 1, 2, 3, 4, 5};
  cel.insert(cel.end(), pixels.begin(), pixels.end());
  ASSERT_EQ(cel.size(), 806u);
  TMemoryStream stream(cel);
  EXPECT_TRUE(TAutodeskGraphic::StaticClass().ProbeStream(stream));
  TAutodeskGraphic graphic;
  graphic.LoadStream(stream);
  ASSERT_EQ(graphic.ImageWidth(), 3);
  const auto& e = graphic.PaletteOf()->Entries;
  EXPECT_EQ(e[0].peRed, 0xFC);
  EXPECT_EQ(e[2].peGreen, 8);
  EXPECT_EQ(e[0].peBlue, 4);  // the top bits of a value above 63 are lost
  EXPECT_EQ(graphic.RowPointer(1)[2], 5);

  // A file cut inside the pixels keeps the resized bitmap's fill there.
  cel.resize(803);
  TMemoryStream shortStream(cel);
  graphic.LoadStream(shortStream);
  EXPECT_EQ(graphic.RowPointer(0)[2], 2);
  const uint8_t* row = graphic.RowPointer(1);
  EXPECT_TRUE(row[0] == row[1] && row[1] == row[2]);
  EXPECT_NE(row[2], 5);
}

}  // namespace
}  // namespace tolvane
