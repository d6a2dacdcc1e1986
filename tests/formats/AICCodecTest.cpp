// The AIC codec: quantiser, transforms, colour conversion, prediction, the
// file header, round trips on pictures made by ImageMagick, damaged files.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "AICTestSupport.h"
#include "formats/jp2_aic/AICDecoder.h"
#include "formats/jp2_aic/AICEncoder.h"
#include "formats/jp2_aic/AICFwdColorConversion.h"
#include "formats/jp2_aic/AICFwdDCT.h"
#include "formats/jp2_aic/AICInvColorConversion.h"
#include "formats/jp2_aic/AICInvDCT.h"
#include "formats/jp2_aic/QorGraphics.h"

namespace tolvane {
namespace {

std::unique_ptr<TBitmap> NewBitmap(int w, int h, TPixelLayout layout) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelLayout(layout);
  if (layout == pl8Bit) b->AssignPalette(TQorBitmapFileFormat::CreateGrayPalette());
  b->ResizeWidth(w);
  b->ResizeHeight(h);
  return b;
}

std::vector<uint8_t> Encode(TBitmap& bitmap, uint8_t quality) {
  TMemoryStream out;
  TAICEncoder::Encode(bitmap, out, quality);
  return out.Data();
}

std::vector<uint8_t> Header(uint8_t version, int w, int h, uint8_t colour, uint8_t quality) {
  return {'A', 'I', 'C', version, static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h),
          static_cast<uint8_t>(h >> 8), colour, quality};
}

// The message of the exception that decoding data raises ("" when none).
std::string DecodeError(const std::vector<uint8_t>& data) {
  TMemoryStream in(data);
  TBitmap bitmap;
  try {
    TAICDecoder::Decode(in, bitmap);
  } catch (const EAICError& e) {
    return e.what();
  } catch (const EReadError& e) {
    return e.what();
  }
  return "";
}

TEST(AICTransforms, QuantiserSteps) {
  for (auto [quality, step] : {std::pair{100, 1.0}, {99, 1.0}, {98, 1.22}, {75, 9.5}, {51, 18.14}, {50, 18.5},
                               {25, 36.5}, {1, 900.5}, {255, 1.0}}) {
    const int scale = quality <= 50 ? 5000 / quality : 200 - 2 * quality;
    EXPECT_DOUBLE_EQ(TAICBase::QuantiserStep(scale), step) << quality;
  }
  TAICQuantTable dequant, quant;
  TAICBase::BuildQuantTable(50, dequant, true);
  TAICBase::BuildQuantTable(50, quant, false);
  EXPECT_DOUBLE_EQ(quant[0], 1.0 / 76.0);
  EXPECT_NEAR(dequant[8 * 1 + 7], 9.5 * 1.387039845 * 0.275899379, 1e-12);
}

TEST(AICTransforms, RoundingTruncationAndSaturation) {
  // The inverse cuts toward zero: a DC-only block gives value / 8 everywhere.
  TAICQuantTable dequant;
  dequant.fill(1.0);
  for (auto [dc, expected] : {std::pair{-7.2, 0}, {63.92, 7}, {-63.92, -7}, {8.0, 1}}) {
    dequant[0] = dc;
    TAICBlock block{};
    block[0] = 1;
    InverseDCT(block, dequant);
    EXPECT_EQ(std::count(block.begin(), block.end(), expected), 64) << dc;
  }
  // The forward transform rounds halves upward; a flat residual r has DC 64 r.
  TAICQuantTable quant{};
  quant[0] = 1.0 / 128;
  for (auto [residual, expected] : {std::pair{-1, 0}, {1, 1}, {-3, -1}, {3, 2}}) {
    TAICBlock block;
    block.fill(residual);
    ForwardDCT(block, quant);
    EXPECT_EQ(block[0], expected) << residual;
    EXPECT_EQ(std::count(block.begin() + 1, block.end(), 0), 63);
  }
  // Out-of-range reals saturate instead of converting undefined.
  quant.fill(1e12);
  TAICBlock block;
  for (int i = 0; i < 64; ++i) block[i] = i % 3 ? 255 : -255;
  ForwardDCT(block, quant);
  EXPECT_GT(std::count(block.begin(), block.end(), INT32_MAX) + std::count(block.begin(), block.end(), -INT32_MAX), 0);
  dequant.fill(65534.0);
  InverseDCT(block, dequant);
  EXPECT_EQ(SaturatingTrunc(-1e30L), INT32_MIN);
}

TEST(AICTransforms, ColourEquations) {
  auto bitmap = NewBitmap(3, 1, pl24Bit);
  bitmap->SetPixelColor(0, 0, RGBColor(255, 255, 255));
  bitmap->SetPixelColor(1, 0, RGBColor(255, 0, 0));
  bitmap->SetPixelColor(2, 0, RGBColor(10, 200, 30));
  TAICChannels planes;
  for (auto& p : planes) p.Allocate(8, 8);
  RGBToYCbCr(*bitmap, planes, 3, 1);
  // (10, 200, 30): Y = 124.31, Cb = 75.56, Cr = 47.32 before the shift cuts them.
  const int expected[3][3] = {{255, 128, 128}, {76, 85, 255}, {124, 75, 47}};
  for (int x = 0; x < 3; ++x)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(planes[c][0][x], expected[x][c]) << x << "," << c;
  planes[0][0][0] = 100, planes[1][0][0] = 20, planes[2][0][0] = 250;  // u = -108, v = 122
  YCbCrToRGB(planes, *bitmap, 1, 1);
  EXPECT_EQ(bitmap->PixelColor(0, 0), RGBColor(255, static_cast<uint8_t>(std::clamp(100 + ((22554 * 108 + 32768 - 46802 * 122) >> 16), 0, 255)), 0));
}

class AICPrediction : public ::testing::Test {
protected:
  void SetUp() override {
    Base.SetupImage(24, 16, 0, 50);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 24; ++x) Base.Planes[0][y][x] = static_cast<uint8_t>((x * 7 + y * 13) % 256);
  }
  bool Usable(int mode, int x, int y) { return Base.Predict(static_cast<TAICPredictionMode>(mode), Base.Planes[0], x, y, B); }
  TAICBase Base;
  TAICPredictionBlock B;
};

TEST_F(AICPrediction, UsabilityAndPredictedMode) {
  B.fill(7);
  EXPECT_FALSE(Usable(pmVert, 0, 0));  // leaves the block untouched
  EXPECT_EQ(B[0], 7);
  for (int m = 0; m <= 8; ++m) EXPECT_EQ(Usable(m, 0, 0), m == pmDC) << m;
  EXPECT_EQ(std::count(B.begin(), B.end(), 128), 64);
  for (int m = 0; m <= 8; ++m) EXPECT_EQ(Usable(m, 8, 0), m == pmHorz || m == pmDC || m == pmHorizontalUp) << m;
  // 16 pixels above reach to x = 8 of 24; the last block column never has them.
  EXPECT_TRUE(Usable(pmDiagonalDownLeft, 0, 8) && Usable(pmVerticalLeft, 8, 8));
  EXPECT_FALSE(Usable(pmDiagonalDownLeft, 16, 8) || Usable(pmVerticalLeft, 16, 8) || Usable(pmDiagonalDownRight, 0, 8));

  Base.ModeAt(0, 0) = pmHorizontalUp;
  Base.ModeAt(0, 1) = pmVert;
  EXPECT_EQ(Base.PredictedMode(1, 0), pmDC);  // a missing neighbour counts as DC
  EXPECT_EQ(Base.PredictedMode(2, 0), pmVert);
  EXPECT_EQ(Base.PredictedMode(1, 1), pmVert);
}

TEST_F(AICPrediction, RulesWorkedByHand) {
  auto A = [&](int k) { return int{Base.Planes[0][7][8 + k]}; };
  auto L = [&](int k) { return int{Base.Planes[0][8 + k][7]}; };
  ASSERT_TRUE(Usable(pmDiagonalDownLeft, 8, 8));
  EXPECT_EQ(B[63], (A(14) + 3 * A(15) + 2) >> 2);
  ASSERT_TRUE(Usable(pmDiagonalDownRight, 8, 8));
  EXPECT_EQ(B[8 * 4 + 4], (A(0) + 2 * A(-1) + L(0) + 2) >> 2);
  EXPECT_EQ(B[8 * 1 + 0], (L(-1) + 2 * L(0) + L(1) + 2) >> 2);
  ASSERT_TRUE(Usable(pmVerticalRight, 8, 8));
  EXPECT_EQ(B[8 * 1 + 0], (L(0) + 2 * A(-1) + A(0) + 2) >> 2);  // z = -1
  EXPECT_EQ(B[8 * 7 + 1], (L(5) + 2 * L(4) + L(3) + 2) >> 2);   // z < -1 indexes by i - j
  ASSERT_TRUE(Usable(pmHorizontalDown, 8, 8));
  EXPECT_EQ(B[8 * 1 + 7], (A(5) + 2 * A(4) + A(3) + 2) >> 2);   // z < -1 indexes by j - i
  ASSERT_TRUE(Usable(pmVerticalLeft, 8, 8));
  EXPECT_EQ(B[8 * 7 + 7], (A(10) + 2 * A(11) + A(12) + 2) >> 2);
  ASSERT_TRUE(Usable(pmHorizontalUp, 8, 8));
  EXPECT_EQ(B[8 * 6 + 1], (L(6) + 3 * L(7) + 2) >> 2);           // z = 13
  EXPECT_EQ(B[8 * 7 + 7], L(7));                                // z > 13
}

struct TEncoded {
  std::vector<uint8_t> Data;
  TAICChannels Planes;
  std::vector<TAICPredictionMode> Modes;
};

TEncoded EncodeKeepingPlanes(TBitmap& bitmap, uint8_t quality) {
  TEncoded r;
  TMemoryStream out;
  TAICEncoder encoder(bitmap, out, quality);
  encoder.FinishStream();
  r.Planes = encoder.Planes;
  r.Modes = encoder.Modes;
  r.Data = out.Data();
  return r;
}

// Decodes what the encoder wrote; its planes (padding included) must equal
// the encoder's reconstruction and its bitmap their conversion.
std::unique_ptr<TBitmap> CheckExactRoundTrip(TBitmap& source, uint8_t quality) {
  TEncoded r = EncodeKeepingPlanes(source, quality);
  TMemoryStream in(r.Data);
  auto decoded = std::make_unique<TBitmap>();
  TAICDecoder decoder(in, *decoded);
  EXPECT_EQ(decoder.Modes, r.Modes);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(decoder.Planes[c].Data(), r.Planes[c].Data()) << c;
  const int w = source.ImageWidth(), h = source.ImageHeight();
  auto expected = NewBitmap(w, h, decoder.Colour ? pl24Bit : pl8Bit);
  if (decoder.Colour) YCbCrToRGB(r.Planes, *expected, w, h);
  else
    for (int y = 0; y < h; ++y) std::copy_n(r.Planes[0][y], w, expected->RowPointer(y));
  EXPECT_EQ(decoded->PixelLayoutOf(), expected->PixelLayoutOf());
  EXPECT_EQ(decoded->PaletteOf() != nullptr, !decoder.Colour);
  EXPECT_EQ(testing::Psnr(*decoded, *expected), std::numeric_limits<double>::infinity());
  return decoded;
}

TEST(AICRoundTrip, MagickPictures) {
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  testing::TScratchDir dir;
  for (auto [args, grey] : {std::pair{"rose:", false}, {"logo: -resize 203x157!", false},
                            {"-size 61x45 -seed 3 plasma:fractal", false}, {"-size 61x45 -seed 3 plasma:fractal", true},
                            {"rose: -crop 37x21+9+5 +repage", true}}) {
    SCOPED_TRACE(std::string(args) + (grey ? " (grey)" : ""));
    std::unique_ptr<TBitmap> source = testing::MagickPicture(args, grey, dir);
    double previous = 0;
    for (uint8_t quality : std::initializer_list<uint8_t>{5, 30, 60, 90, 100}) {
      const double psnr = testing::Psnr(*source, *CheckExactRoundTrip(*source, quality));
      EXPECT_GT(psnr, previous) << "quality " << int{quality};
      previous = psnr;
    }
    EXPECT_GE(previous, 40.0);
  }
}

TEST(AICRoundTrip, SmallSizesAndModeChoice) {
  // 1 x 1 grey: one block in mode DC; a 1 x 1 pl8Bit grey bitmap back.
  auto one = NewBitmap(1, 1, pl8Bit);
  one->RowPointer(0)[0] = 77;
  EXPECT_EQ(EncodeKeepingPlanes(*one, 90).Modes, std::vector<TAICPredictionMode>{pmDC});
  EXPECT_EQ(CheckExactRoundTrip(*one, 90)->ConstRowPointer(0)[0], 77);
  // 17 x 9 colour: 3 x 2 blocks per plane.
  auto odd = NewBitmap(17, 9, pl24Bit);
  odd->SetPixelColor(16, 8, RGBColor(0, 255, 0));
  EXPECT_EQ(EncodeKeepingPlanes(*odd, 75).Modes.size(), 6u);
  CheckExactRoundTrip(*odd, 75);
  // 0 x 0: the header and the two closing bytes; an empty bitmap back.
  TBitmap empty;
  EXPECT_EQ(Encode(empty, 50).size(), 12u);
  EXPECT_TRUE(CheckExactRoundTrip(empty, 50)->IsBlank());
  // One side 0: no blocks and no pixels, in either layout.
  for (TPixelLayout layout : {pl8Bit, pl24Bit}) {
    auto thin = NewBitmap(0, 5, layout);
    EXPECT_EQ(Encode(*thin, 50).size(), 12u);
    EXPECT_EQ(CheckExactRoundTrip(*thin, 50)->ImageWidth(), 0);
  }
  // A flat picture: equal costs keep the lower mode (vertical over DC).
  auto flat = NewBitmap(16, 16, pl8Bit);
  for (int y = 0; y < 16; ++y) std::fill_n(flat->RowPointer(y), 16, 100);
  TEncoded r = EncodeKeepingPlanes(*flat, 100);
  EXPECT_EQ(r.Modes, (std::vector<TAICPredictionMode>{pmDC, pmHorz, pmVert, pmVert}));
  EXPECT_EQ(std::count(r.Planes[0].Data().begin(), r.Planes[0].Data().end(), 100), 256);
}

TEST(AICEncoder, SourcesAndRefusals) {
  TBitmap halftone;  // a grey-looking palette that is not the exact ramp
  halftone.SetPixelLayout(pl8Bit);
  halftone.ResizeWidth(9);
  halftone.ResizeHeight(3);
  EXPECT_EQ(Encode(halftone, 50)[8], 1);
  EXPECT_EQ(Encode(*NewBitmap(9, 3, pl8Bit), 50)[8], 0);
  TBitmap mono;  // other layouts go through a private 24-bit copy
  mono.SetPixelLayout(pl1Bit);
  mono.ResizeWidth(10);
  mono.ResizeHeight(10);
  const std::vector<uint8_t> data = Encode(mono, 100);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 10), Header(10, 10, 10, 1, 100));
  EXPECT_EQ(mono.PixelLayoutOf(), pl1Bit);

  // Nothing is written for sizes the header cannot hold or for quality 0.
  TMemoryStream out;
  EXPECT_THROW(TAICEncoder::Encode(*NewBitmap(65536, 1, pl24Bit), out, 50), EAICError);
  EXPECT_THROW(TAICEncoder::Encode(*NewBitmap(8, 8, pl24Bit), out, 0), EAICError);
  EXPECT_EQ(out.Size(), 0);
}

TEST(AICDecoder, Header) {
  std::vector<uint8_t> data = Encode(*NewBitmap(5, 4, pl8Bit), 80);
  for (uint8_t version : std::initializer_list<uint8_t>{0, 10}) {
    data[3] = version;
    EXPECT_EQ(DecodeError(data), "");
  }
  data[3] = 11;
  EXPECT_EQ(DecodeError(data), "Unknown AIC file version");
  data[3] = 10;
  data[0] = 'a';
  EXPECT_EQ(DecodeError(data), "Invalid AIC file");
  data[0] = 'A';
  data[9] = 0;  // quality 0 would divide by zero
  EXPECT_EQ(DecodeError(data), "Invalid AIC file");
  EXPECT_EQ(DecodeError(std::vector<uint8_t>(data.begin(), data.begin() + 9)), "Stream read error");
  // Planes beyond the picture limits are refused before they are allocated.
  for (auto [w, h, colour] : {std::tuple{65535, 65535, 1}, {65535, 4097, 0}}) {
    data = Header(10, w, h, static_cast<uint8_t>(colour), 50);
    data.resize(200, 0x55);
    EXPECT_EQ(DecodeError(data), "Invalid AIC file");
  }
}

TEST(AICDecoder, UnusableModePredictsFlat128) {
  // The first block of a grey picture names vertical, which it cannot use.
  TMemoryStream stream;
  const std::vector<uint8_t> header = Header(10, 8, 8, 0, 100);
  stream.WriteExact(header.data(), header.size());
  {
    TAICCabacEncoder encoder(100, stream);
    encoder.EncodeMode(pmVert);
    encoder.EncodeBlock(0, TAICBlock{});
  }
  stream.SetPosition(0);
  TBitmap out;
  TAICDecoder::Decode(stream, out);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(std::count(out.ConstRowPointer(y), out.ConstRowPointer(y) + 8, 128), 8);
}

TEST(AICDecoder, TruncatedAndRandomStreams) {
  std::mt19937 rng(2024);
  auto picture = NewBitmap(24, 16, pl24Bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x) picture->SetPixelColor(x, y, RGBColor(static_cast<uint8_t>(x * 10), static_cast<uint8_t>(y * 15), static_cast<uint8_t>(rng())));
  const std::vector<uint8_t> valid = Encode(*picture, 60);
  // Only the closing byte, whose first bit is the stop bit, may be missing.
  for (size_t size = 0; size + 1 < valid.size(); ++size)
    EXPECT_NE(DecodeError(std::vector<uint8_t>(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(size))), "");
  // Damaged and random data end in a picture or an exception.
  for (int round = 0; round < 150; ++round) {
    std::vector<uint8_t> damaged = valid;
    for (int k = 0; k < 3; ++k) damaged[10 + rng() % (damaged.size() - 10)] ^= static_cast<uint8_t>(1 + rng() % 255);
    DecodeError(damaged);
  }
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> data = Header(10, static_cast<int>(1 + rng() % 300), static_cast<int>(1 + rng() % 300), static_cast<uint8_t>(rng() % 3),
                                           static_cast<uint8_t>(1 + rng() % 255));
    for (size_t i = rng() % 2000; i > 0; --i) data.push_back(static_cast<uint8_t>(rng()));
    DecodeError(data);
  }
}

}  // namespace
}  // namespace tolvane
