// The PNG reader on hand-made files: what a loaded graphic holds beyond its
// pixels (properties, layout, palette, transparency, progress) and reuse of
// one graphic for several files. The pixels of the conformance set, the chunk
// rules and the messages are checked by png_reference.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <zlib.h>

#include "graphics/GraphicFormats.h"
#include "picture/ByteOrder.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BigEndian(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

// A PNG file chunk by chunk.
struct TPng {
  Bytes Data{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

  TPng& Chunk(const std::string& type, const Bytes& data) {
    const Bytes body = [&] {
      Bytes b(type.begin(), type.end());
      b.insert(b.end(), data.begin(), data.end());
      return b;
    }();
    const Bytes length = BigEndian(static_cast<uint32_t>(data.size()));
    const Bytes crc = BigEndian(static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
    for (const Bytes* part : {&length, &body, &crc}) Data.insert(Data.end(), part->begin(), part->end());
    return *this;
  }
  TPng& Header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace = 0) {
    Bytes d = BigEndian(width);
    const Bytes h = BigEndian(height);
    d.insert(d.end(), h.begin(), h.end());
    d.insert(d.end(), {depth, colorType, 0, 0, interlace});
    return Chunk("IHDR", d);
  }
  // Rows with their filter bytes.
  TPng& Image(const Bytes& raw, const std::string& type = "IDAT") { return Chunk(type, Deflate(raw)); }
  TPng& End() { return Chunk("IEND", {}); }
};

void Load(TPNGGraphic& graphic, const TPng& png) {
  TMemoryStream stream(png.Data);
  graphic.LoadStream(stream);
}

// Three RGB pixels in one row, filter 0.
TPng ThreePixels(const Bytes& extraChunkType = {}, const Bytes& extra = {}) {
  TPng png;
  png.Header(3, 1, 8, 2);
  if (!extraChunkType.empty()) png.Chunk(std::string(extraChunkType.begin(), extraChunkType.end()), extra);
  png.Image({0, 10, 20, 30, 64, 64, 64, 200, 100, 50});
  return png.End(), png;
}

TEST(PNGGraphicTest, ProbeAndHeader) {
  TPng png;
  png.Header(5, 7, 16, 6, 1).Chunk("tEXt", {'a', 0, 'b'}).Chunk("gAMA", BigEndian(45455)).End();
  TMemoryStream stream(png.Data);
  stream.SetPosition(0);
  EXPECT_TRUE(TPNGGraphic::StaticClass().ProbeStream(stream));
  EXPECT_EQ(stream.Position(), 0);
  TMemoryStream signatureOnly(Bytes(png.Data.begin(), png.Data.begin() + 8));
  EXPECT_FALSE(TPNGGraphic::StaticClass().ProbeStream(signatureOnly));

  TPNGGraphic graphic;
  ASSERT_TRUE(graphic.ReadImageInfo(stream, 0));
  const TImageProperties& p = graphic.ImageProperties;
  EXPECT_EQ(p.Width, 5u);
  EXPECT_EQ(p.Height, 7u);
  EXPECT_EQ(p.ColorScheme, ckRGBA);
  EXPECT_EQ(p.SamplesPerPixel, 4);
  EXPECT_EQ(p.BitsPerPixel, 64);
  EXPECT_EQ(p.Compression, icLZ77);
  EXPECT_TRUE(p.Interlaced);
  EXPECT_TRUE(p.HasAlpha);
  EXPECT_TRUE(p.Options & optBigEndian);
  EXPECT_FLOAT_EQ(p.Gamma, 0.45455f);
  // Zero sizes and a header chunk of the wrong length are no PNG image.
  TPng zero;
  zero.Header(0, 7, 8, 0).End();
  TMemoryStream zeroStream(zero.Data);
  EXPECT_FALSE(graphic.ReadImageInfo(zeroStream, 0));
  TPng longHeader;
  longHeader.Chunk("IHDR", Bytes(14, 1)).End();
  TMemoryStream longStream(longHeader.Data);
  EXPECT_FALSE(graphic.ReadImageInfo(longStream, 0));
}

TEST(PNGGraphicTest, LayoutsAndPalettes) {
  TPNGGraphic graphic;
  // 2-bit grey becomes a 4-bit bitmap whose palette spreads the four levels.
  Load(graphic, TPng().Header(4, 1, 2, 0).Image({0, 0b00011011}).End());
  EXPECT_EQ(graphic.PixelLayoutOf(), pl4Bit);
  EXPECT_EQ(PaletteEntryCount(graphic.PaletteOf()), 16u);
  for (int x = 0; x < 4; ++x) {
    const auto grey = static_cast<uint8_t>(85 * x);
    EXPECT_EQ(graphic.PixelColor(x, 0), RGBColor(grey, grey, grey));
  }
  // A palette of 768 bytes has 256 entries.
  Bytes palette(768);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i / 3);
  Load(graphic, TPng().Header(2, 1, 8, 3).Chunk("PLTE", palette).Image({0, 7, 255}).End());
  EXPECT_EQ(graphic.PixelLayoutOf(), pl8Bit);
  EXPECT_EQ(PaletteEntryCount(graphic.PaletteOf()), 256u);
  EXPECT_EQ(graphic.PixelColor(1, 0), RGBColor(255, 255, 255));
  // RGB with alpha keeps its alpha in the fourth byte; 16-bit samples are
  // scaled down from big-endian.
  Load(graphic, TPng().Header(1, 1, 16, 6).Image({0, 0xFF, 0xFF, 0x01, 0x01, 0x80, 0x00, 0x12, 0x34}).End());
  EXPECT_EQ(graphic.PixelLayoutOf(), pl32Bit);
  const uint8_t* row = graphic.ConstRowPointer(0);
  EXPECT_EQ(Bytes(row, row + 4), (Bytes{127, 1, 255, 0x12}));
}

TEST(PNGGraphicTest, TransparentColourAndGamma) {
  TPNGGraphic graphic;
  Load(graphic, ThreePixels({'t', 'R', 'N', 'S'}, {0, 64, 0, 64, 0, 64}));
  EXPECT_TRUE(graphic.IsTransparentImage());
  EXPECT_EQ(graphic.TransparentKey(), RGBColor(64, 64, 64));
  // The next file on the same graphic is opaque again.
  Load(graphic, ThreePixels());
  EXPECT_FALSE(graphic.IsTransparentImage());
  EXPECT_FALSE(graphic.ImageProperties.Options & optFileGamma);
  // gAMA 45455 is the display's own gamma: the levels stay.
  Load(graphic, TPng().Header(1, 1, 8, 2).Chunk("gAMA", BigEndian(45455)).Image({0, 10, 128, 250}).End());
  EXPECT_TRUE(graphic.ImageProperties.Options & optFileGamma);
  EXPECT_EQ(graphic.PixelColor(0, 0), RGBColor(10, 128, 250));
  // Linear data are brightened, and the transparent colour with them, so
  // that it still meets its pixels.
  TPng linear;
  linear.Header(3, 1, 8, 2).Chunk("gAMA", BigEndian(100000)).Chunk("tRNS", {0, 64, 0, 64, 0, 64});
  linear.Image({0, 10, 20, 30, 64, 64, 64, 200, 100, 50}).End();
  Load(graphic, linear);
  const uint8_t lifted = graphic.ColorManager.GammaTable()[64];
  EXPECT_GT(lifted, 64);
  EXPECT_EQ(graphic.PixelColor(1, 0), RGBColor(lifted, lifted, lifted));
  EXPECT_EQ(graphic.TransparentKey(), graphic.PixelColor(1, 0));
}

TEST(PNGGraphicTest, GammaOfAPaletteDoesNotDependOnTheFileLoadedBefore) {
  auto paletteFile = [] {
    return TPng().Header(1, 1, 8, 3).Chunk("gAMA", BigEndian(200000)).Chunk("PLTE", {128, 128, 128}).Image({0, 0}).End();
  };
  TPNGGraphic fresh, reused;
  Load(fresh, paletteFile());
  Load(reused, TPng().Header(4, 1, 2, 0).Image({0, 0x1B}).End());
  Load(reused, paletteFile());
  EXPECT_GT(GetRValue(fresh.PixelColor(0, 0)), 128);
  EXPECT_EQ(reused.PixelColor(0, 0), fresh.PixelColor(0, 0));
}

TEST(PNGGraphicTest, EveryAdam7PassStartsFromAZeroPriorLine) {
  // 3 x 3 grey: pass 1 (0,0), pass 4 (2,0), pass 5 (0,2) (2,2), pass 6
  // (1,0) and (1,2), pass 7 row 1; passes 2 and 3 are empty. Every row uses
  // the Up filter, so a prior line left over from the pass before would show.
  const Bytes raw = {2, 10, 2, 20, 2, 30, 40, 2, 50, 2, 60, 2, 70, 80, 90};
  TPNGGraphic graphic;
  Load(graphic, TPng().Header(3, 3, 8, 0, 1).Image(raw).End());
  const uint8_t expected[3][3] = {{10, 50, 20}, {70, 80, 90}, {30, 110, 40}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(GetRValue(graphic.PixelColor(x, y)), expected[y][x]) << x << "," << y;
}

TEST(PNGGraphicTest, ProgressStagesInOrder) {
  TPNGGraphic graphic;
  std::vector<std::string> stages;
  graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string& msg) {
    stages.push_back(stage == TProgressStage::psStarting ? "start " + msg
                     : stage == TProgressStage::psEnding ? "end"
                                                         : std::to_string(percent));
  };
  Load(graphic, TPng().Header(1, 4, 8, 0).Image({0, 1, 0, 2, 0, 3, 0, 4}).End());
  EXPECT_EQ(stages, (std::vector<std::string>{"start Preparing...", "end", "start Transfering...", "0", "25", "50",
                                              "75", "end"}));
}

// A memory stream that notes the largest read asked of it: the reader's
// buffers are no larger.
class TLargestReadStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* buffer, size_t count) override {
    Largest = std::max(Largest, count);
    return TMemoryStream::Read(buffer, count);
  }
  size_t Largest = 0;
};

std::string LoadError(const Bytes& file) {
  TPNGGraphic graphic;
  TMemoryStream stream(file);
  try {
    graphic.LoadStream(stream);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

TEST(PNGGraphicTest, LongChunksAreReadInBoundedPartsAndStillChecked) {
  // 400 x 300 grey noise: its zlib stream (about 120 KB) lies in one IDAT
  // chunk; an IDAT chunk after the stream's end is read and checked.
  Bytes raw;
  uint32_t seed = 1;
  for (int y = 0; y < 300; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 400; ++x) raw.push_back(static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24));
  }
  const Bytes z = Deflate(raw);
  ASSERT_GT(z.size(), 100000u);
  TPng png;
  png.Header(400, 300, 8, 0).Chunk("IDAT", z).Chunk("IDAT", Bytes(200000)).End();
  TLargestReadStream stream(png.Data);
  TPNGGraphic graphic;
  graphic.LoadStream(stream);
  EXPECT_EQ(GetRValue(graphic.PixelColor(399, 299)), raw.back());
  EXPECT_LE(stream.Largest, size_t{64 * 1024});

  const std::string crc = "Cannot load image. CRC error found in PNG file.";
  Bytes damaged = png.Data;
  damaged[damaged.size() - 12 - 4 - 1000] ^= 1;  // in the chunk after the stream
  EXPECT_EQ(LoadError(damaged), crc);
  // A damaged chunk is reported by its CRC, even where its first bytes
  // already fail to inflate.
  damaged = png.Data;
  damaged[8 + 25 + 8] ^= 0x40;  // the zlib header
  EXPECT_EQ(LoadError(damaged), crc);
  Bytes badHeader = z;
  badHeader[0] ^= 0x40;
  EXPECT_EQ(LoadError(TPng().Header(400, 300, 8, 0).Chunk("IDAT", badHeader).End().Data),
            "Cannot load image. Compression error found in PNG file.");
}

TEST(PNGGraphicTest, PaletteBackgroundAndTransparencyBeyondAnyUseAreNotRead) {
  // Longer than any image can use: bKGD and tRNS are passed over unread
  // (their CRC is not checked), a palette of more than 256 entries is
  // refused for an indexed image and passed over for any other.
  Bytes key = {0, 64, 0, 64, 0, 64};
  key.resize(300);
  TPNGGraphic graphic;
  Load(graphic, ThreePixels({'t', 'R', 'N', 'S'}, key));
  EXPECT_FALSE(graphic.IsTransparentImage());
  Bytes background = ThreePixels({'b', 'K', 'G', 'D'}, Bytes(8, 0x40)).Data;
  background[8 + 25 + 8 + 8] ^= 1;  // its CRC
  EXPECT_EQ(LoadError(background), "");
  const Bytes palette(771, 0x80);
  EXPECT_EQ(LoadError(TPng().Header(2, 1, 8, 3).Chunk("PLTE", palette).Image({0, 7, 255}).End().Data),
            "Cannot load image. Palette in PNG file is invalid.");
  Load(graphic, ThreePixels({'P', 'L', 'T', 'E'}, palette));
  EXPECT_EQ(graphic.PixelColor(2, 0), RGBColor(200, 100, 50));
}

// An icon keeps a copy of its PNG entry for saving: without the ancillary
// chunks beyond 64 KiB, which the picture does not need.
TEST(PNGGraphicTest, IconEntryIsSavedWithoutLongAncillaryChunks) {
  TPicture::RegisterExtension("png", "Portable network graphics", &TPNGGraphic::StaticClass());
  // The entry that an icon of one PNG entry saves, once it has loaded.
  auto savedEntry = [](const Bytes& png) {
    Bytes icon = {0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 32, 0};
    AppendLE32(icon, static_cast<uint32_t>(png.size()));
    AppendLE32(icon, 22);
    icon.insert(icon.end(), png.begin(), png.end());
    TMemoryStream stream(icon);
    TIcon loaded;
    loaded.LoadStream(stream);
    TMemoryStream saved;
    loaded.SaveStream(saved);
    saved.SetPosition(0);
    TIcon again;
    again.LoadStream(saved);
    EXPECT_EQ(again.IconImage()->XorBgra, loaded.IconImage()->XorBgra);
    EXPECT_EQ(LoadLE32(saved.Data().data() + 14), saved.Data().size() - 22);
    return Bytes(saved.Data().begin() + 22, saved.Data().end());
  };
  TPng kept, png;
  for (TPng* p : {&kept, &png}) p->Header(2, 2, 8, 2);
  png.Chunk("tEXt", Bytes(64 * 1024 + 1, 'a'));
  const Bytes rows = {0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};
  for (TPng* p : {&kept, &png}) p->Chunk("zTXt", Bytes(64 * 1024, 'z')).Image(rows);
  png.Chunk("iTXt", Bytes(100000, 'i'));
  for (TPng* p : {&kept, &png}) p->End();
  EXPECT_EQ(savedEntry(png.Data), kept.Data);
  // An entry that ends without the CRC of its end chunk is kept as it is.
  const Bytes cut(kept.Data.begin(), kept.Data.end() - 4);
  EXPECT_EQ(savedEntry(cut), cut);
  TPicture::UnregisterGraphicKind(&TPNGGraphic::StaticClass());
}

}  // namespace
}  // namespace tolvane
