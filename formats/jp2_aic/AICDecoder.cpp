#include "AICDecoder.h"

#include <algorithm>
#include <cstring>

#include "AICInvColorConversion.h"
#include "AICInvDCT.h"
#include "QorGraphics.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICDecoder, TAICBase)

namespace {

constexpr uint8_t kMaxVersion = 10;

}  // namespace

TAICDecoder::TAICDecoder(TStream& stream, TBitmap& bitmap) {
  Stream = &stream;
  ReadHeader();
  Decoder = std::make_unique<TAICCabacDecoder>(Quality, stream);
  DecodePlanes();
  WriteBitmap(bitmap);
}

TAICDecoder::~TAICDecoder() = default;

void TAICDecoder::Decode(TStream& stream, TBitmap& bitmap) { TAICDecoder decoder(stream, bitmap); }

void TAICDecoder::ReadHeader() {
  uint8_t header[10];
  Stream->ReadExact(header, sizeof header);
  if (std::memcmp(header, "AIC", 3) != 0) RaiseAICError(AICConst::SInvalidFile);
  if (header[3] > kMaxVersion) RaiseAICError(AICConst::SUnknownVersion);
  const int32_t width = LoadLE16(header + 4);
  const int32_t height = LoadLE16(header + 6);
  // A file cannot carry quality 0; refuse it before anything is allocated.
  if (header[9] == 0) RaiseAICError(AICConst::SInvalidFile);
  SetupImage(width, height, header[8], header[9]);
}

void TAICDecoder::DecodeBlockAt(int channel, int32_t x, int32_t y) {
  const int32_t q = x / 8, r = y / 8;
  TAICPredictionMode mode;
  if (channel == 0) {
    const TAICPredictionMode predicted = PredictedMode(q, r);
    const int m = Decoder->DecodeMode();
    mode = m < 0 ? predicted : static_cast<TAICPredictionMode>(m < predicted ? m : m + 1);
    ModeAt(r, q) = mode;
  } else {
    mode = ModeAt(r, q);
  }
  TAICChannel& plane = Planes[static_cast<size_t>(channel)];
  TAICPredictionBlock prediction;
  // A damaged stream can name a mode that this position cannot use; such a
  // block is predicted flat, like a block without neighbours.
  if (!Predict(mode, plane, x, y, prediction)) prediction.fill(128);
  TAICBlock block;
  Decoder->DecodeBlock(channel, block);
  InverseDCT(block, Dequant);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      plane[y + i][x + j] = AICClamp(int64_t{prediction[static_cast<size_t>(8 * i + j)]} + block[static_cast<size_t>(8 * i + j)]);
}

void TAICDecoder::DecodePlanes() {
  for (int c = 0; c <= LastChannel; ++c)
    for (int32_t y = 0; y < PaddedHeight; y += 8)
      for (int32_t x = 0; x < PaddedWidth; x += 8) DecodeBlockAt(c, x, y);
}

void TAICDecoder::WriteBitmap(TBitmap& bitmap) const {
  // The previous picture is neither converted nor kept while the new size
  // is set up, so a bitmap that is loaded again never holds both.
  bitmap.ReplaceHandle(0);
  if (Colour == 1) {
    bitmap.SetPixelLayout(pl24Bit);
    bitmap.ResizeWidth(Width);
    bitmap.ResizeHeight(Height);
    YCbCrToRGB(Planes, bitmap, Width, Height);
    return;
  }
  bitmap.SetPixelLayout(pl8Bit);
  bitmap.AssignPalette(TQorBitmapFileFormat::CreateGrayPalette());
  bitmap.ResizeWidth(Width);
  bitmap.ResizeHeight(Height);
  // copy_n, unlike memcpy, accepts the null rows of a plane 0 pixels wide.
  for (int32_t y = 0; y < Height; ++y) std::copy_n(Planes[0][y], Width, bitmap.RowPointer(y));
}

}  // namespace tolvane
