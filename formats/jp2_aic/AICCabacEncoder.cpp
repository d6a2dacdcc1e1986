#include "AICCabacEncoder.h"

#include <algorithm>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TAICCabacEncoder, TAICCabac)

// Starting with nine bits to go drops the very first bit written, which
// stands for the first-bit flag of the H.264 engine.
TAICCabacEncoder::TAICCabacEncoder(uint8_t quality, TStream& stream) : TAICCabac(quality, stream) {
  Range = 510;
  Low = 0;
  Outstanding = 0;
  BitsLeft = 9;
  BitBuffer = 0;
  BufferPos = 0;
}

TAICCabacEncoder::~TAICCabacEncoder() {
  if (FFlushed) return;
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report the stream's failure.
  }
}

void TAICCabacEncoder::EncodeDecision(int bin, TAICContext& context) {
  const int32_t lps = kRangeTabLPS[context.State][(Range >> 6) & 3];
  Range -= lps;
  if (bin != context.MPS) {
    Low += Range;
    Range = lps;
    if (context.State == 0) context.MPS = 1 - context.MPS;
    context.State = kTransIdxLPS[context.State];
  } else {
    context.State = kTransIdxMPS[context.State];
  }
  Renormalise();
}

void TAICCabacEncoder::Renormalise() {
  while (Range < 256) {
    if (Low >= 512) {
      PutBit(1);
      Low -= 512;
    } else if (Low >= 256) {
      ++Outstanding;
      Low -= 256;
    } else {
      PutBit(0);
    }
    Low *= 2;
    Range *= 2;
  }
}

void TAICCabacEncoder::EncodeBypass(int bin) {
  Low *= 2;
  if (bin) Low += Range;
  if (Low >= 1024) {
    PutBit(1);
    Low -= 1024;
  } else if (Low >= 512) {
    ++Outstanding;
    Low -= 512;
  } else {
    PutBit(0);
  }
}

void TAICCabacEncoder::PutBit(int bit) {
  WriteBit(bit);
  for (; Outstanding > 0; --Outstanding) WriteBit(1 - bit);
}

void TAICCabacEncoder::WriteBit(int bit) {
  BitBuffer = (BitBuffer << 1) | static_cast<uint32_t>(bit);
  if (--BitsLeft == 0) {
    StoreByte(static_cast<uint8_t>(BitBuffer));
    BitBuffer = 0;
    BitsLeft = 8;
  }
}

void TAICCabacEncoder::StoreByte(uint8_t byte) {
  Buffer[static_cast<size_t>(BufferPos++)] = byte;
  if (BufferPos == static_cast<int32_t>(kAICBufferSize)) {
    Stream->WriteExact(Buffer.data(), kAICBufferSize);
    BufferPos = 0;
  }
}

void TAICCabacEncoder::Flush() {
  FFlushed = true;
  Range = 2;
  Renormalise();
  PutBit((Low >> 9) & 1);
  WriteBit((Low >> 8) & 1);
  WriteBit(1);
  while (BitsLeft != 8) WriteBit(0);
  Stream->WriteExact(Buffer.data(), static_cast<size_t>(BufferPos));
  BufferPos = 0;
}

void TAICCabacEncoder::EncodeMode(int m) {
  if (m < 0) {
    EncodeDecision(1, Contexts[AICContexts::kModeFlag]);
    return;
  }
  EncodeDecision(0, Contexts[AICContexts::kModeFlag]);
  for (int b = 0; b < 3; ++b) EncodeDecision((m >> b) & 1, Contexts[AICContexts::kModeBits]);
}

void TAICCabacEncoder::EncodeExpGolomb(uint32_t v) {
  int k = 0;
  while (v >= (uint32_t{1} << k)) {
    EncodeBypass(1);
    v -= uint32_t{1} << k;
    ++k;
  }
  EncodeBypass(0);
  while (k-- > 0) EncodeBypass((v >> k) & 1);
}

// v = magnitude - 2: up to 13 unary bins on one context, beyond that an
// exp-Golomb code in bypass bins.
void TAICCabacEncoder::EncodeLevelRemainder(uint32_t v, TAICContext& context) {
  const uint32_t ones = std::min<uint32_t>(v, 13);
  for (uint32_t i = 0; i < ones; ++i) EncodeDecision(1, context);
  if (v <= 12) EncodeDecision(0, context);
  else EncodeExpGolomb(v - 13);
}

void TAICCabacEncoder::EncodeBlock(int channel, const std::array<int32_t, 64>& coefficients) {
  using namespace AICContexts;
  int last = -1;
  for (int i = 0; i < 64; ++i)
    if (coefficients[static_cast<size_t>(i)] != 0) last = i;
  EncodeDecision(last >= 0, Contexts[kCodedBlock]);
  if (last < 0) return;

  for (int i = 0; i < 63; ++i) {
    const bool significant = coefficients[static_cast<size_t>(i)] != 0;
    EncodeDecision(significant, Contexts[static_cast<size_t>(Significance(channel, i))]);
    if (!significant) continue;
    EncodeDecision(i == last, Contexts[static_cast<size_t>(Last(channel, i))]);
    if (i == last) break;
  }

  int g1 = 1, g2 = 0;
  for (int i = 63; i >= 0; --i) {
    const int32_t coefficient = coefficients[static_cast<size_t>(i)];
    if (coefficient == 0) continue;
    // Magnitudes are at most 2^31 - 1 (the forward transform saturates).
    const uint32_t a = coefficient < 0 ? 0u - static_cast<uint32_t>(coefficient) : static_cast<uint32_t>(coefficient);
    EncodeDecision(a > 1, Contexts[static_cast<size_t>(GreaterThanOne(channel, std::min(g1, 4)))]);
    if (a == 1) {
      if (g1 > 0) ++g1;
    } else {
      EncodeLevelRemainder(a - 2, Contexts[static_cast<size_t>(Level(channel, std::min(g2, 4)))]);
      g1 = 0;
      ++g2;
    }
    EncodeBypass(coefficient < 0);
  }
}

}  // namespace tolvane
