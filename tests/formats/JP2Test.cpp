// The JPEG 2000 codec: round trips through the writer, the mapping of
// library components to pixels (depth, sign, subsampling) on code streams
// made through the adapter with samples known by construction, and the
// messages for malformed, truncated and oversized files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include <sys/resource.h>

#include "formats/jp2_aic/LibOpenJpeg.h"
#include "formats/jp2_aic/QorFileFormatJP2.h"
#include "picture/ByteOrder.h"

namespace tolvane {
namespace {

const std::string kDecodeError = "Internal error (TQorJP2FileFormat): Unable to decode image";

std::vector<uint8_t> Save(TBitmap& bitmap, uint8_t quality) {
  auto codec = TQorBitmapFileFormat::Create(&TQorJP2FileFormat::StaticClass(), "JPEG 2000", bitmap);
  codec->Quality = quality;
  TMemoryStream out;
  codec->SaveStream(out);
  return out.Data();
}

void LoadInto(TBitmap& bitmap, TStream& stream) {
  auto codec = TQorBitmapFileFormat::Create(&TQorJP2FileFormat::StaticClass(), "JPEG 2000", bitmap);
  codec->LoadStream(stream);
}

std::unique_ptr<TBitmap> Load(const std::vector<uint8_t>& bytes) {
  auto bitmap = std::make_unique<TBitmap>();
  TMemoryStream in(bytes);
  LoadInto(*bitmap, in);
  return bitmap;
}

// The message of the EInvalidGraphicOperation that f raises, "" if none.
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EInvalidGraphicOperation& e) {
    return e.what();
  }
  return "";
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
  return ErrorOf([&] { Load(bytes); });
}

// A 24-bit picture with gradients in every channel.
std::unique_ptr<TBitmap> Colourful(int32_t w, int32_t h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelLayout(pl24Bit);
  b->ResizeWidth(w);
  b->ResizeHeight(h);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = b->RowPointer(y);
    for (int32_t x = 0; x < w; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 7 + y);
      row[3 * x + 1] = static_cast<uint8_t>(y * 5);
      row[3 * x + 2] = static_cast<uint8_t>((x ^ y) * 3);
    }
  }
  return b;
}

bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.ImageWidth() != b.ImageWidth() || a.ImageHeight() != b.ImageHeight()) return false;
  for (int32_t y = 0; y < a.ImageHeight(); ++y)
    for (int32_t x = 0; x < a.ImageWidth(); ++x)
      if (a.PixelColor(x, y) != b.PixelColor(x, y)) return false;
  return true;
}

// The raw code stream inside a JP2 file written by the codec (its last box).
std::vector<uint8_t> Codestream(const std::vector<uint8_t>& jp2) {
  const uint8_t soc[] = {0xFF, 0x4F, 0xFF, 0x51};
  auto at = std::search(jp2.begin(), jp2.end(), std::begin(soc), std::end(soc));
  return std::vector<uint8_t>(at, jp2.end());
}

// A JP2 file of components made by `sample(c, x, y)` on their own grids,
// written losslessly through the adapter.
struct TComponentShape {
  uint32_t Dx = 1, Dy = 1, Precision = 8;
  bool Signed = false;
};
std::vector<uint8_t> SyntheticJp2(uint32_t w, uint32_t h, const std::vector<TComponentShape>& shapes,
                                  const std::function<int32_t(size_t, uint32_t, uint32_t)>& sample) {
  std::vector<opj_image_cmptparm_t> parms(shapes.size());
  for (size_t c = 0; c < shapes.size(); ++c) {
    parms[c] = {};
    parms[c].dx = shapes[c].Dx;
    parms[c].dy = shapes[c].Dy;
    parms[c].w = (w + shapes[c].Dx - 1) / shapes[c].Dx;
    parms[c].h = (h + shapes[c].Dy - 1) / shapes[c].Dy;
    parms[c].prec = shapes[c].Precision;
    parms[c].sgnd = shapes[c].Signed;
  }
  const auto count = static_cast<uint32_t>(shapes.size());
  TOpjImage image(opj_image_create(count, parms.data(), count >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
  EXPECT_TRUE(image);
  image->x1 = w;
  image->y1 = h;
  for (size_t c = 0; c < shapes.size(); ++c)
    for (uint32_t y = 0; y < parms[c].h; ++y)
      for (uint32_t x = 0; x < parms[c].w; ++x) image->comps[c].data[y * parms[c].w + x] = sample(c, x, y);
  TOpjEncodeOptions options;
  options.Resolutions = 3;
  TMemoryStream out;
  EXPECT_TRUE(EncodeJp2(*image, out, options));
  return out.Data();
}

TEST(JP2Writer, RoundTripsAndComponentCounts) {
  // Quality 100 keeps every bit, also from the middle of a stream.
  auto colour = Colourful(37, 19);
  TMemoryStream shifted;
  shifted.WriteExact("prefix", 6);
  {
    auto codec = TQorBitmapFileFormat::Create(&TQorJP2FileFormat::StaticClass(), "JPEG 2000", *colour);
    codec->SaveStream(shifted);
  }
  shifted.SetPosition(6);
  TBitmap loaded;
  LoadInto(loaded, shifted);
  EXPECT_EQ(loaded.PixelLayoutOf(), pl24Bit);
  EXPECT_TRUE(SamePixels(loaded, *colour));

  // An 8-bit bitmap with the grey ramp is one component and comes back grey.
  TBitmap grey;
  grey.SetPixelLayout(pl8Bit);
  grey.AssignPalette(TQorBitmapFileFormat::CreateGrayPalette());
  grey.ResizeWidth(16);
  grey.ResizeHeight(8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 16; ++x) grey.RowPointer(y)[x] = static_cast<uint8_t>(x * 16 + y);
  auto back = Load(Save(grey, 100));
  EXPECT_EQ(back->PixelLayoutOf(), pl8Bit);
  EXPECT_TRUE(TQorBitmapFileFormat::IsGrayPalette(back->PaletteOf()));
  EXPECT_TRUE(SamePixels(*back, grey));

  // Another palette, 1-bit and 32-bit bitmaps go through a 24-bit copy; the
  // caller's bitmap keeps its layout.
  TBitmap tinted;
  tinted.SetPixelLayout(pl8Bit);
  tinted.ResizeWidth(5);
  tinted.ResizeHeight(3);
  tinted.SetPixelColor(2, 1, 0x0000FF);
  for (TPixelLayout layout : {pl1Bit, pl32Bit}) {
    TBitmap other;
    other.CopyFrom(colour.get());
    other.SetPixelLayout(layout);
    auto result = Load(Save(other, 100));
    EXPECT_EQ(result->PixelLayoutOf(), pl24Bit);
    EXPECT_TRUE(SamePixels(*result, other));
    EXPECT_EQ(other.PixelLayoutOf(), layout);
  }
  auto result = Load(Save(tinted, 100));
  EXPECT_EQ(result->PixelLayoutOf(), pl24Bit);
  EXPECT_TRUE(SamePixels(*result, tinted));
  EXPECT_EQ(tinted.PixelLayoutOf(), pl8Bit);
}

TEST(JP2Writer, QualitySizesAndResolutions) {
  auto photo = Colourful(200, 120);
  const size_t raw = 200 * 120 * 3, slack = 400;
  const size_t lossless = Save(*photo, 100).size();
  EXPECT_LE(Save(*photo, 75).size(), raw * 3 / 4 + slack);
  EXPECT_LE(Save(*photo, 10).size(), raw / 10 + slack);
  EXPECT_LT(Save(*photo, 10).size(), lossless);
  // Quality 0 counts as 1 rather than dividing by zero; 255 is lossless.
  EXPECT_LE(Save(*photo, 0).size(), raw / 100 + slack);
  EXPECT_EQ(Save(*photo, 255).size(), lossless);

  EXPECT_EQ(JP2ResolutionCount(4000, 3000), 6u);
  EXPECT_EQ(JP2ResolutionCount(16, 8), 4u);
  EXPECT_EQ(JP2ResolutionCount(33, 32), 6u);
  EXPECT_EQ(JP2ResolutionCount(31, 64), 5u);
  EXPECT_EQ(JP2ResolutionCount(1, 1), 1u);
  // Small and thin pictures are written (the library refuses more
  // resolutions than the smaller side allows).
  for (auto [w, h] : {std::pair{16, 8}, {1, 1}, {1, 300}, {7, 2}}) {
    auto small = Colourful(w, h);
    auto again = Load(Save(*small, 100));
    EXPECT_TRUE(SamePixels(*again, *small)) << w << "x" << h;
  }

  TBitmap empty;
  empty.SetPixelLayout(pl24Bit);
  EXPECT_EQ(ErrorOf([&] { Save(empty, 75); }), "Internal error (TQorJP2FileFormat): Unable to create image");
}

TEST(JP2Reader, SamplesScaledByPrecisionAndSign) {
  // Grey samples of every depth: value v of precision p shows as v scaled to
  // 0..255 (shifted down above 8 bits, stretched below), signed ones offset.
  struct TCase {
    uint32_t Precision;
    bool Signed;
    int32_t Sample;
    uint8_t Shown;
  };
  const TCase cases[] = {{8, false, 200, 200},  {16, false, 256, 1},    {16, false, 65535, 255},
                         {12, false, 4095, 255}, {1, false, 1, 255},     {4, false, 5, 85},
                         {8, true, -128, 0},     {8, true, 0, 128},      {8, true, 127, 255},
                         {16, true, -32768, 0},  {16, true, 32767, 255}, {2, false, 2, 170}};
  for (const TCase& t : cases) {
    auto bytes = SyntheticJp2(9, 5, {{1, 1, t.Precision, t.Signed}}, [&](size_t, uint32_t, uint32_t) { return t.Sample; });
    auto b = Load(bytes);
    ASSERT_EQ(b->PixelLayoutOf(), pl8Bit);
    EXPECT_EQ(b->ConstRowPointer(4)[8], t.Shown) << t.Precision << (t.Signed ? " signed " : " ") << t.Sample;
  }
}

TEST(JP2Reader, SubsampledComponentsSampledNearest) {
  // Full-size luma-like first component, chroma at half width and height, and
  // odd sizes so that the last column and row fall past the halves.
  const uint32_t w = 13, h = 7;
  auto bytes = SyntheticJp2(w, h, {{1, 1, 8, false}, {2, 2, 8, false}, {2, 1, 8, false}},
                            [](size_t c, uint32_t x, uint32_t y) {
                              return static_cast<int32_t>(c == 0 ? x * 10 + y : c == 1 ? x * 40 + y * 3 : 200 - x * 9 - y);
                            });
  auto b = Load(bytes);
  ASSERT_EQ(b->PixelLayoutOf(), pl24Bit);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = b->ConstRowPointer(static_cast<int32_t>(y)) + 3 * x;
      EXPECT_EQ(p[2], x * 10 + y);
      EXPECT_EQ(p[1], (x / 2) * 40 + (y / 2) * 3);
      EXPECT_EQ(p[0], 200 - (x / 2) * 9 - y);
    }
}

TEST(JP2Reader, ComponentCountsAndMalformedFiles) {
  auto one = [](size_t, uint32_t x, uint32_t) { return static_cast<int32_t>(x); };
  for (size_t count : {2u, 4u}) {
    std::vector<TComponentShape> shapes(count);
    EXPECT_EQ(LoadError(SyntheticJp2(6, 4, shapes, one)),
              "Internal error (TQorJP2FileFormat): Only RGB and grayscale output color spaces supported");
  }

  const std::vector<uint8_t> jp2 = Save(*Colourful(40, 30), 50);
  const std::vector<uint8_t> j2k = Codestream(jp2);
  // A raw code stream is read by content, whatever the registry chose.
  auto raw = Load(j2k);
  EXPECT_EQ(raw->ImageWidth(), 40);
  EXPECT_TRUE(SamePixels(*raw, *Load(jp2)));

  // Unknown content, empty streams and every truncation end in the message.
  EXPECT_EQ(LoadError({}), kDecodeError);
  EXPECT_EQ(LoadError({'B', 'M', 0, 0}), kDecodeError);
  EXPECT_EQ(LoadError({0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10}), kDecodeError);
  for (const auto* file : {&jp2, &j2k})
    for (size_t cut = 0; cut < file->size(); cut += std::max<size_t>(1, cut / 8))
      EXPECT_EQ(LoadError(std::vector<uint8_t>(file->begin(), file->begin() + static_cast<long>(cut))), kDecodeError)
          << "cut at " << cut << " of " << file->size();

  // Declared sizes beyond the limits are refused before decoding: 2^32 x 1
  // pixels, and 2^28 pixels of three components (3 GiB of samples).
  auto withSize = [&](uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = j2k;
    StoreBE32(&b[8], width);
    StoreBE32(&b[12], height);
    StoreBE32(&b[24], width);  // one tile, so that the header itself is sound
    StoreBE32(&b[28], height);
    return b;
  };
  EXPECT_EQ(LoadError(withSize(0xFFFFFFFFu, 1)), kDecodeError);
  EXPECT_EQ(LoadError(withSize(16384, 16384)), kDecodeError);
  EXPECT_EQ(LoadError(withSize(40, 0)), kDecodeError);

  // Damaged bytes: a picture or the codec's message, nothing else.
  std::mt19937 random(21);
  for (int round = 0; round < 150; ++round) {
    std::vector<uint8_t> damaged = round % 2 ? jp2 : j2k;
    for (int k = 0; k < 4; ++k) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
    std::string message = LoadError(damaged);
    EXPECT_TRUE(message.empty() || message == kDecodeError ||
                message.find("Only RGB and grayscale") != std::string::npos)
        << message;
  }
}

long PeakMemoryKB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TOpjHeaderFacts FactsOf(const std::vector<uint8_t>& bytes) {
  TMemoryStream in(bytes);
  return OpjHeaderFactsOf(in, OpjContentOf(bytes.data(), bytes.size()));
}

// A box of `size` zero bytes.
std::vector<uint8_t> Box(const char* type, size_t size) {
  std::vector<uint8_t> box(8 + size);
  StoreBE32(box.data(), static_cast<uint32_t>(box.size()));
  std::copy(type, type + 4, box.begin() + 4);
  return box;
}

// jp2 with `boxes` inserted before its code-stream box.
std::vector<uint8_t> WithBoxes(const std::vector<uint8_t>& jp2, const std::vector<uint8_t>& boxes) {
  const size_t at = static_cast<size_t>(std::search(jp2.begin(), jp2.end(), std::begin("jp2c"), std::end("jp2c") - 1) -
                                        jp2.begin()) - 4;
  std::vector<uint8_t> out(jp2.begin(), jp2.begin() + static_cast<long>(at));
  out.insert(out.end(), boxes.begin(), boxes.end());
  out.insert(out.end(), jp2.begin() + static_cast<long>(at), jp2.end());
  return out;
}

// The library sets up every tile while it reads the headers and reads a
// JP2 file's header boxes whole, before anything else could judge them.
TEST(JP2Reader, HeadersAreJudgedBeforeTheLibraryReadsThem) {
  const std::vector<uint8_t> jp2 = Save(*Colourful(40, 30), 50);
  const std::vector<uint8_t> j2k = Codestream(jp2);
  TOpjHeaderFacts facts = FactsOf(j2k);
  EXPECT_TRUE(facts.Found);
  EXPECT_EQ(facts.Width, 40u);
  EXPECT_EQ(facts.Height, 30u);
  EXPECT_EQ(facts.Components, 3u);
  EXPECT_EQ(facts.Tiles, 1u);
  EXPECT_FALSE(facts.Transform);
  EXPECT_EQ(FactsOf(jp2).MainHeaderBytes, facts.MainHeaderBytes);
  const uint64_t headerBoxes = FactsOf(jp2).WholeBoxBytes;
  EXPECT_GT(headerBoxes, 0u);

  // Tiles of one pixel: 255 x 255 of them would take the library 770 MB
  // to set up for a picture of 190 KB.
  std::vector<uint8_t> tiny = j2k;
  StoreBE32(&tiny[8], 255);
  StoreBE32(&tiny[12], 255);
  StoreBE32(&tiny[24], 1);
  StoreBE32(&tiny[28], 1);
  EXPECT_EQ(FactsOf(tiny).Tiles, 255u * 255u);
  const long before = PeakMemoryKB();
  EXPECT_EQ(LoadError(tiny), kDecodeError);
  EXPECT_LT(PeakMemoryKB() - before, 64 * 1024);

  // Boxes the library skips cost nothing; header boxes outside the header
  // box are read whole like it; a code-stream box that claims more than
  // the file holds runs to its end.
  EXPECT_EQ(FactsOf(WithBoxes(jp2, Box("xml ", 1 << 20))).WholeBoxBytes, headerBoxes);
  EXPECT_EQ(FactsOf(WithBoxes(jp2, Box("colr", 1000))).WholeBoxBytes, headerBoxes + 1000);
  std::vector<uint8_t> longer = jp2;
  const size_t codestreamBox = jp2.size() - j2k.size() - 8;
  StoreBE32(&longer[codestreamBox], 0x7FFFFFFF);
  EXPECT_TRUE(FactsOf(longer).Found);
  EXPECT_TRUE(SamePixels(*Load(longer), *Load(jp2)));

  // More boxes before the code stream than are visited, or a code stream
  // whose main header never ends in a tile-part, are refused.
  std::vector<uint8_t> empties;
  for (int i = 0; i < 1100; ++i) {
    const std::vector<uint8_t> box = Box("free", 0);
    empties.insert(empties.end(), box.begin(), box.end());
  }
  EXPECT_FALSE(FactsOf(WithBoxes(jp2, empties)).Found);
  EXPECT_EQ(LoadError(WithBoxes(jp2, empties)), kDecodeError);
  const size_t firstTile = static_cast<size_t>(facts.MainHeaderBytes);
  EXPECT_FALSE(FactsOf(std::vector<uint8_t>(j2k.begin(), j2k.begin() + static_cast<long>(firstTile))).Found);
}

// A stream that fails its writes after a given number of bytes.
class TBrokenStream : public TMemoryStream {
public:
  explicit TBrokenStream(size_t limit) : FLimit(limit) {}
  size_t Write(const void* buffer, size_t count) override {
    if (Size() + static_cast<int64_t>(count) > static_cast<int64_t>(FLimit)) throw EWriteError("Stream write error");
    return TMemoryStream::Write(buffer, count);
  }

private:
  size_t FLimit;
};

TEST(JP2Writer, StreamFailuresBecomeTheCodecMessage) {
  auto photo = Colourful(64, 64);
  for (size_t limit : {0u, 40u, 3000u}) {
    TBrokenStream out(limit);
    auto codec = TQorBitmapFileFormat::Create(&TQorJP2FileFormat::StaticClass(), "JPEG 2000", *photo);
    EXPECT_EQ(ErrorOf([&] { codec->SaveStream(out); }), "Internal error (TQorJP2FileFormat): Unable to encode image");
  }
}

}  // namespace
}  // namespace tolvane
