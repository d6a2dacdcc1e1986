#include "AICEncoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>

#include "AICFwdColorConversion.h"
#include "AICFwdDCT.h"
#include "AICInvDCT.h"
#include "QorGraphics.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICEncoder, TAICBase)

namespace {

constexpr uint8_t kVersion = 10;
constexpr int32_t kMaxDimension = 65535;  // the header holds 16 bits

}  // namespace

TAICEncoder::TAICEncoder(TBitmap& bitmap, TStream& stream, uint8_t quality) {
  Stream = &stream;
  if (bitmap.ImageWidth() > kMaxDimension || bitmap.ImageHeight() > kMaxDimension)
    RaiseAICError(AICConst::SImageTooLarge);
  if (quality == 0) RaiseAICError(AICConst::SInvalidQuality);
  TakeSource(bitmap, quality);
  PadPlanes();
  WriteHeader();
  Encoder = std::make_unique<TAICCabacEncoder>(Quality, stream);
  EncodePlanes();
}

TAICEncoder::~TAICEncoder() = default;

void TAICEncoder::Encode(TBitmap& bitmap, TStream& stream, uint8_t quality) {
  TAICEncoder encoder(bitmap, stream, quality);
  encoder.FinishStream();
}

void TAICEncoder::FinishStream() {
  if (Encoder) Encoder->Flush();
}

void TAICEncoder::SetQuantiser(int32_t scale) {
  TAICBase::SetQuantiser(scale);
  BuildQuantTable(scale, Quant, false);
}

void TAICEncoder::TakeSource(TBitmap& bitmap, uint8_t quality) {
  const int32_t width = bitmap.ImageWidth(), height = bitmap.ImageHeight();
  if (bitmap.PixelLayoutOf() == pl8Bit && TQorBitmapFileFormat::IsGrayPalette(bitmap.PaletteOf())) {
    SetupImage(width, height, 0, quality);
    // copy_n, unlike memcpy, accepts the null rows of a plane 0 pixels wide.
    for (int32_t y = 0; y < height; ++y) std::copy_n(bitmap.ConstRowPointer(y), width, Planes[0][y]);
    return;
  }
  if (bitmap.PixelLayoutOf() == pl24Bit) {
    SetupImage(width, height, 1, quality);
    RGBToYCbCr(bitmap, Planes, width, height);
    return;
  }
  TBitmap copy;
  copy.CopyFrom(&bitmap);
  copy.SetPixelLayout(pl24Bit);
  SetupImage(width, height, 1, quality);
  RGBToYCbCr(copy, Planes, width, height);
}

void TAICEncoder::PadPlanes() {
  if (Width == 0 || Height == 0) return;
  for (int c = 0; c <= LastChannel; ++c) {
    TAICChannel& plane = Planes[static_cast<size_t>(c)];
    if (Width != PaddedWidth)
      for (int32_t y = 0; y < Height; ++y) std::memset(plane[y] + Width, plane[y][Width - 1], static_cast<size_t>(PaddedWidth - Width));
    for (int32_t y = Height; y < PaddedHeight; ++y) std::memcpy(plane[y], plane[Height - 1], static_cast<size_t>(PaddedWidth));
  }
}

void TAICEncoder::WriteHeader() {
  uint8_t header[10] = {'A', 'I', 'C', kVersion, 0, 0, 0, 0, Colour, Quality};
  StoreLE16(header + 4, static_cast<uint16_t>(Width));
  StoreLE16(header + 6, static_cast<uint16_t>(Height));
  Stream->WriteExact(header, sizeof header);
}

// The usable mode whose prediction lies closest to the block's source
// pixels (sum of absolute differences); ties keep the lower mode number.
TAICPredictionMode TAICEncoder::ChooseMode(int32_t x, int32_t y) const {
  const TAICChannel& plane = Planes[0];
  int32_t bestCost = INT32_MAX;
  TAICPredictionMode best = pmVert;
  TAICPredictionBlock prediction;
  for (int m = pmVert; m <= pmHorizontalUp; ++m) {
    const auto mode = static_cast<TAICPredictionMode>(m);
    if (!Predict(mode, plane, x, y, prediction)) continue;
    int32_t cost = 0;
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) cost += std::abs(int{plane[y + i][x + j]} - int{prediction[static_cast<size_t>(8 * i + j)]});
    if (cost < bestCost) {
      bestCost = cost;
      best = mode;
    }
  }
  return best;
}

void TAICEncoder::EncodeBlockAt(int channel, int32_t x, int32_t y) {
  const int32_t q = x / 8, r = y / 8;
  TAICPredictionMode mode;
  if (channel == 0) {
    mode = ChooseMode(x, y);
    const TAICPredictionMode predicted = PredictedMode(q, r);
    ModeAt(r, q) = mode;
    Encoder->EncodeMode(mode == predicted ? -1 : mode < predicted ? int{mode} : int{mode} - 1);
  } else {
    mode = ModeAt(r, q);
  }
  TAICChannel& plane = Planes[static_cast<size_t>(channel)];
  TAICPredictionBlock prediction;
  Predict(mode, plane, x, y, prediction);
  TAICBlock block;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      block[static_cast<size_t>(8 * i + j)] = int32_t{plane[y + i][x + j]} - prediction[static_cast<size_t>(8 * i + j)];
  ForwardDCT(block, Quant);
  Encoder->EncodeBlock(channel, block);
  InverseDCT(block, Dequant);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      plane[y + i][x + j] = AICClamp(int64_t{prediction[static_cast<size_t>(8 * i + j)]} + block[static_cast<size_t>(8 * i + j)]);
}

void TAICEncoder::EncodePlanes() {
  for (int c = 0; c <= LastChannel; ++c)
    for (int32_t y = 0; y < PaddedHeight; y += 8)
      for (int32_t x = 0; x < PaddedWidth; x += 8) EncodeBlockAt(c, x, y);
}

}  // namespace tolvane
