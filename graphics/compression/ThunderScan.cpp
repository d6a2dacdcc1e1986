// The ThunderScan 4-bit decoder: runs, 2-bit and 3-bit deltas from the last
// pixel, and raw pixels, one code per byte.
#include <algorithm>

#include "graphics/GraphicCompression.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TThunderDecoder, TDecoder)

namespace {

constexpr int TwoBitDeltas[4] = {0, 1, 0, -1};                 // field 2 writes nothing
constexpr int ThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};  // field 4 writes nothing
constexpr unsigned TwoBitSkip = 2, ThreeBitSkip = 4;

// One row of 4-bit pixels, the first in the high nibble. Pixels past the
// row's end are dropped.
class TNibbleRow {
public:
  TNibbleRow(uint8_t* row, size_t pixels) : FRow(row), FPixels(pixels) {}
  bool Full() const { return FCount >= FPixels; }
  int Last() const { return FLast; }

  void SetNibble(int value) {
    FLast = value & 0x0F;
    if (Full()) return;
    uint8_t& target = FRow[FCount / 2];
    if (FCount % 2 == 0)
      target = static_cast<uint8_t>(FLast << 4);
    else
      target = static_cast<uint8_t>(target | FLast);
    ++FCount;
  }

  // A run repeats the last pixel: it completes a half-filled byte first,
  // writes whole bytes of two pixels, and leaves an odd last pixel alone in
  // the high nibble of its byte.
  void Run(size_t count) {
    count = std::min(count, FPixels - FCount);
    if (count > 0 && FCount % 2 == 1) {
      SetNibble(FLast);
      --count;
    }
    const uint8_t doubled = static_cast<uint8_t>(FLast * 0x11);
    std::fill_n(FRow + FCount / 2, count / 2, doubled);
    FCount += count / 2 * 2;
    if (count % 2 == 1) SetNibble(FLast);
  }

private:
  uint8_t* FRow;
  size_t FPixels;
  size_t FCount = 0;
  int FLast = 0;
};

}  // namespace

void TThunderDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  const size_t rowBytes = (static_cast<size_t>(RowWidth) + 1) / 2;
  if (rowBytes == 0) return;
  const uint8_t* in = source;
  size_t inLeft = packedSize > 0 ? static_cast<size_t>(packedSize) : 0;
  size_t outLeft = unpackedSize > 0 ? static_cast<size_t>(unpackedSize) : 0;
  for (size_t offset = 0; outLeft > 0 && inLeft > 0; offset += rowBytes) {
    const size_t bytes = std::min(rowBytes, outLeft);
    TNibbleRow pixels(dest + offset, std::min<size_t>(RowWidth, bytes * 2));
    while (inLeft > 0 && !pixels.Full()) {
      const uint8_t code = *in++;
      --inLeft;
      switch (code >> 6) {
        case 0:
          pixels.Run(code & 0x3Fu);
          break;
        case 1:
          for (unsigned shift : {4u, 2u, 0u}) {
            const unsigned field = code >> shift & 3u;
            if (field != TwoBitSkip) pixels.SetNibble(pixels.Last() + TwoBitDeltas[field]);
          }
          break;
        case 2:
          for (unsigned shift : {3u, 0u}) {
            const unsigned field = code >> shift & 7u;
            if (field != ThreeBitSkip) pixels.SetNibble(pixels.Last() + ThreeBitDeltas[field]);
          }
          break;
        default:
          pixels.SetNibble(code);
          break;
      }
    }
    outLeft -= bytes;
  }
}

}  // namespace tolvane
