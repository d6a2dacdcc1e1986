// The decoder interface and the run-length decoders.
#include "graphics/GraphicCompression.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TDecoder, TObject)
TOLVANE_DEFINE_CLASS(TTargaRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TPackbitsRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TPCXRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TSGIRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TCUTRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TPSPRLEDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TRLADecoder, TDecoder)

void RaiseCompressionError(const std::string& message) { throw EGraphicCompression(message); }

namespace {

size_t SizeOf(int32_t size) { return size > 0 ? static_cast<size_t>(size) : 0; }

// The packed bytes of one call: reads never pass the end.
class TPackedInput {
public:
  TPackedInput(const uint8_t* data, int32_t size) : FData(data), FLeft(SizeOf(size)) {}
  bool Empty() const { return FLeft == 0; }
  size_t Left() const { return FLeft; }
  const uint8_t* Position() const { return FData; }
  uint8_t Next() {
    --FLeft;
    return *FData++;
  }
  // Steps over up to count bytes; returns how many there were.
  size_t Skip(size_t count) {
    count = std::min(count, FLeft);
    FData += count;
    FLeft -= count;
    return count;
  }

private:
  const uint8_t* FData;
  size_t FLeft;
};

// The output buffer of one call: writes past its end are dropped.
class TUnpackedOutput {
public:
  TUnpackedOutput(uint8_t* data, size_t size) : FData(data), FLeft(size) {}
  bool Full() const { return FLeft == 0; }
  size_t Left() const { return FLeft; }
  void Put(uint8_t value) {
    if (FLeft == 0) return;
    *FData++ = value;
    --FLeft;
  }
  void Fill(uint8_t value, size_t count) {
    count = std::min(count, FLeft);
    if (count == 0) return;  // an empty buffer may have no address
    std::memset(FData, value, count);
    FData += count;
    FLeft -= count;
  }
  // Copies a literal of count bytes: the input gives what it has, the output
  // keeps what fits.
  void CopyFrom(TPackedInput& input, size_t count) {
    const uint8_t* from = input.Position();
    count = input.Skip(count);
    const size_t kept = std::min(count, FLeft);
    if (kept == 0) return;
    std::memcpy(FData, from, kept);
    FData += kept;
    FLeft -= kept;
  }
  // The same for 128 bytes that both sides hold.
  void CopyFrom128(TPackedInput& input) {
    std::memcpy(FData, input.Position(), 128);
    input.Skip(128);
    FData += 128;
    FLeft -= 128;
  }
  // Writes the unit-byte sample at sample count times (whole samples only).
  void FillUnits(const uint8_t* sample, size_t unit, size_t count) {
    count = std::min(count, FLeft / unit);
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(FData, sample, unit);
      FData += unit;
    }
    FLeft -= count * unit;
  }

private:
  uint8_t* FData;
  size_t FLeft;
};

// Bytes of one Targa pixel; 0 for a depth that has none.
size_t TargaPixelSize(int32_t colorDepth) {
  switch (colorDepth) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
  }
}

}  // namespace

void TTargaRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  const size_t pixelSize = TargaPixelSize(ColorDepth);
  if (pixelSize == 0) return;
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize) * pixelSize);
  int64_t pixelsLeft = unpackedSize;
  while (pixelsLeft > 0 && !in.Empty()) {
    const uint8_t header = in.Next();
    const size_t count = (header & 0x7F) + 1u;
    if (header >= 128) {
      if (in.Left() < pixelSize) {
        in.Skip(pixelSize);
        break;
      }
      const uint8_t* pixel = in.Position();
      in.Skip(pixelSize);
      out.FillUnits(pixel, pixelSize, count);
    } else {
      out.CopyFrom(in, count * pixelSize);
    }
    pixelsLeft -= static_cast<int64_t>(count);
  }
  source = in.Position();
}

// A pixel that differs from both neighbours between two runs of two gets a
// raw packet of its own, so every pixel may cost a header byte.
size_t TTargaRLEDecoder::MaxEncodedSize(uint32_t count) const {
  return static_cast<size_t>(count) * (TargaPixelSize(ColorDepth) + 1);
}

namespace {

// Targa packets hold at most this many pixels.
constexpr uint32_t MaxPacketPixels = 128;

bool SamePixel(const uint8_t* pixels, size_t pixelSize, uint32_t a, uint32_t b) {
  return std::memcmp(pixels + a * pixelSize, pixels + b * pixelSize, pixelSize) == 0;
}

// Pixels from first that precede the first pair of equal neighbours (all the
// remaining ones when there is no such pair), at most a packet's worth.
uint32_t CountDiffPixels(const uint8_t* pixels, size_t pixelSize, uint32_t first, uint32_t count) {
  uint32_t i = first;
  while (i + 1 < count && i - first < MaxPacketPixels && !SamePixel(pixels, pixelSize, i, i + 1)) ++i;
  if (i + 1 >= count) i = count;  // no equal pair before the end
  return std::min(i - first, MaxPacketPixels);
}

// Pixels from first equal to it (at least 1), at most a packet's worth.
uint32_t CountSamePixels(const uint8_t* pixels, size_t pixelSize, uint32_t first, uint32_t count) {
  uint32_t i = first + 1;
  while (i < count && i - first < MaxPacketPixels && SamePixel(pixels, pixelSize, first, i)) ++i;
  return i - first;
}

}  // namespace

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* dest, uint32_t count, uint32_t& bytesStored) {
  bytesStored = 0;
  const size_t pixelSize = TargaPixelSize(ColorDepth);
  if (pixelSize == 0) return;
  uint8_t* out = dest;
  uint32_t i = 0;
  while (i < count) {
    const uint32_t diff = CountDiffPixels(source, pixelSize, i, count);
    if (diff > 0) {
      *out++ = static_cast<uint8_t>(diff - 1);
      std::memcpy(out, source + i * pixelSize, diff * pixelSize);
      out += diff * pixelSize;
      i += diff;
    } else {
      const uint32_t same = CountSamePixels(source, pixelSize, i, count);
      *out++ = static_cast<uint8_t>((same - 1) | 0x80);
      std::memcpy(out, source + i * pixelSize, pixelSize);
      out += pixelSize;
      i += same;
    }
  }
  bytesStored = static_cast<uint32_t>(out - dest);
}

void TPackbitsRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize));
  while (!out.Full() && !in.Empty()) {
    const int header = static_cast<int8_t>(in.Next());
    if (header == 127 && in.Left() >= 128 && out.Left() >= 128) {
      // Photographs are mostly literals of the longest kind; a copy of a
      // size known here is a few register moves, where a copy of any size
      // up to 128 bytes is compiled into a slow string instruction.
      out.CopyFrom128(in);
    } else if (header >= 0) {
      out.CopyFrom(in, static_cast<size_t>(header) + 1);
    } else if (header != -128) {
      if (in.Empty()) break;
      out.Fill(in.Next(), static_cast<size_t>(1 - header));
    }
  }
}

void TPCXRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize));
  while (!out.Full() && !in.Empty()) {
    const uint8_t value = in.Next();
    if (value >= 0xC0) {
      if (in.Empty()) break;
      out.Fill(in.Next(), value & 0x3Fu);
    } else {
      out.Put(value);
    }
  }
}

void TSGIRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  // Counts, literals and run values all come in units of one sample; of a
  // 16-bit count word only the low byte counts.
  const size_t unit = SampleSize == 16 ? 2 : 1;
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize) / unit * unit);
  while (!out.Full() && in.Left() >= unit) {
    in.Skip(unit - 1);
    const uint8_t code = in.Next();
    const size_t count = code & 0x7Fu;
    if (count == 0) break;
    if (code & 0x80) {
      const size_t whole = std::min(count, in.Left() / unit);
      out.CopyFrom(in, whole * unit);
      if (whole < count) break;
    } else {
      if (in.Left() < unit) break;
      const uint8_t* sample = in.Position();
      in.Skip(unit);
      out.FillUnits(sample, unit, count);
    }
  }
}

void TCUTRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize));
  in.Skip(2);  // the row's stored length
  while (!in.Empty()) {
    const uint8_t code = in.Next();
    if (code == 0) break;
    const size_t count = code & 0x7Fu;
    if (code & 0x80) {
      if (in.Empty()) break;
      out.Fill(in.Next(), count);
    } else {
      out.CopyFrom(in, count);
    }
  }
  source = in.Position();
}

void TPSPRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize));
  while (!in.Empty() && !out.Full()) {
    const uint8_t code = in.Next();
    if (code < 128) {
      out.CopyFrom(in, code);
    } else {
      if (in.Empty()) break;
      out.Fill(in.Next(), code - 128u);
    }
  }
}

void TRLADecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TPackedInput in(source, packedSize);
  TUnpackedOutput out(dest, SizeOf(unpackedSize));
  while (!in.Empty() && !out.Full()) {
    const int code = static_cast<int8_t>(in.Next());
    if (code >= 0) {
      if (in.Empty()) break;
      out.Fill(in.Next(), static_cast<size_t>(code) + 1);
    } else {
      out.CopyFrom(in, static_cast<size_t>(-code));
    }
  }
}

}  // namespace tolvane
