#include "AICCabacDecoder.h"

#include <algorithm>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICCabacDecoder, TAICCabac)

namespace {

// The longest exp-Golomb prefix that a coefficient of 32 bits can need.
constexpr int kMaxExpGolombPrefix = 30;

}  // namespace

TAICCabacDecoder::TAICCabacDecoder(uint8_t quality, TStream& stream) : TAICCabac(quality, stream) {
  BitsLeft = 0;
  Value = 0;
  BufferPos = 0;
  for (int i = 0; i < 9; ++i) Value = Value * 2 + NextBit();
  Range = 510;
  // An encoder keeps the offset below the range; a start of 510 or 511
  // would let the offset grow without bound.
  if (Value >= Range) RaiseAICError(AICConst::SInvalidFile);
}

uint8_t TAICCabacDecoder::NextByte() {
  if (BufferPos >= FBufferEnd) {
    // The encoder ends its stream after the last bit the decoder needs, so
    // running out of bytes means the file was cut short.
    FBufferEnd = static_cast<int32_t>(Stream->Read(Buffer.data(), kAICBufferSize));
    BufferPos = 0;
    if (FBufferEnd <= 0) RaiseAICError(AICConst::SInvalidFile);
  }
  return Buffer[static_cast<size_t>(BufferPos++)];
}

int TAICCabacDecoder::NextBit() {
  if (--BitsLeft < 0) {
    BitBuffer = NextByte();
    BitsLeft = 7;
  }
  return static_cast<int>((BitBuffer >> BitsLeft) & 1);
}

int TAICCabacDecoder::DecodeDecision(TAICContext& context) {
  const int32_t lps = kRangeTabLPS[context.State][(Range >> 6) & 3];
  Range -= lps;
  int bin;
  if (Value >= Range) {
    bin = 1 - context.MPS;
    Value -= Range;
    Range = lps;
    if (context.State == 0) context.MPS = 1 - context.MPS;
    context.State = kTransIdxLPS[context.State];
  } else {
    bin = context.MPS;
    context.State = kTransIdxMPS[context.State];
  }
  while (Range < 256) {
    Range *= 2;
    Value = Value * 2 + NextBit();
  }
  return bin;
}

int TAICCabacDecoder::DecodeBypass() {
  Value = Value * 2 + NextBit();
  if (Value >= Range) {
    Value -= Range;
    return 1;
  }
  return 0;
}

int TAICCabacDecoder::DecodeMode() {
  if (DecodeDecision(Contexts[AICContexts::kModeFlag])) return -1;
  int m = 0;
  for (int b = 0; b < 3; ++b) m |= DecodeDecision(Contexts[AICContexts::kModeBits]) << b;
  return m;
}

int64_t TAICCabacDecoder::DecodeExpGolomb() {
  int k = 0;
  int64_t v = 0;
  while (DecodeBypass()) {
    if (k == kMaxExpGolombPrefix) RaiseAICError(AICConst::SInvalidFile);
    v += int64_t{1} << k;
    ++k;
  }
  int64_t suffix = 0;
  while (k-- > 0) suffix = suffix * 2 + DecodeBypass();
  return v + suffix;
}

int64_t TAICCabacDecoder::DecodeLevelRemainder(TAICContext& context) {
  if (!DecodeDecision(context)) return 0;
  for (int j = 1; j <= 12; ++j)
    if (!DecodeDecision(context)) return j;
  return 13 + DecodeExpGolomb();
}

void TAICCabacDecoder::DecodeBlock(int channel, std::array<int32_t, 64>& coefficients) {
  using namespace AICContexts;
  coefficients.fill(0);
  if (!DecodeDecision(Contexts[kCodedBlock])) return;

  std::array<bool, 64> marked{};
  int i = 0;
  for (; i < 63; ++i) {
    if (!DecodeDecision(Contexts[static_cast<size_t>(Significance(channel, i))])) continue;
    marked[static_cast<size_t>(i)] = true;
    if (DecodeDecision(Contexts[static_cast<size_t>(Last(channel, i))])) break;
  }
  if (i == 63) marked[63] = true;

  int g1 = 1, g2 = 0;
  for (int p = 63; p >= 0; --p) {
    if (!marked[static_cast<size_t>(p)]) continue;
    int64_t a = 1 + DecodeDecision(Contexts[static_cast<size_t>(GreaterThanOne(channel, std::min(g1, 4)))]);
    if (a == 1) {
      if (g1 > 0) ++g1;
    } else {
      a += DecodeLevelRemainder(Contexts[static_cast<size_t>(Level(channel, std::min(g2, 4)))]);
      g1 = 0;
      ++g2;
    }
    // No encoder writes a magnitude beyond the 32-bit range.
    if (a > INT32_MAX) RaiseAICError(AICConst::SInvalidFile);
    const auto magnitude = static_cast<int32_t>(a);
    coefficients[static_cast<size_t>(p)] = DecodeBypass() ? -magnitude : magnitude;
  }
}

}  // namespace tolvane
