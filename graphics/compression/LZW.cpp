// The two LZW decoders. They share the string table and differ in the bit
// order of their codes, the moment the code width grows, what an end code
// means and how a full table is handled.
#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TTIFFLZWDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TGIFLZWDecoder, TDecoder)

namespace {

constexpr uint32_t TableSize = 4096;
constexpr uint32_t NoCode = TableSize;
constexpr uint32_t MaxCodeWidth = 12;

// The string table of one Decode call, with the stack on which a string is
// assembled back to front. Every entry added refers to an older entry, so a
// chain walk always ends; the stack bound guards the walk all the same.
class TLZWTable {
public:
  TLZWTable(uint32_t clearCode, uint8_t* dest, int32_t unpackedSize)
      : FClearCode(clearCode), FOut(dest), FOutLeft(unpackedSize > 0 ? static_cast<size_t>(unpackedSize) : 0) {
    for (uint32_t i = 0; i < TableSize; ++i) {
      FPrefix[i] = static_cast<uint16_t>(NoCode);
      FSuffix[i] = static_cast<uint8_t>(i < clearCode ? i : 0);
    }
    Reset();
  }

  void Reset() {
    FFreeCode = FClearCode + 2;
    FPrevious = NoCode;
  }
  uint32_t FreeCode() const { return FFreeCode; }
  bool OutputFull() const { return FOutLeft == 0; }

  // Decodes one code and writes its string. Returns false for a code that
  // cannot be decoded (it is dropped and the table stays as it was).
  bool DecodeCode(uint32_t code) {
    FAdded = false;
    if (FPrevious == NoCode) {
      if (code >= FClearCode) return false;  // only a single byte can start a string
      FFirstByte = FSuffix[code];
      FPrevious = code;
      Write(&FFirstByte, 1);
      return true;
    }
    size_t top = 0;
    uint32_t walk = code;
    if (code == FFreeCode) {  // the string being defined: previous string plus its first byte
      FStack[top++] = FFirstByte;
      walk = FPrevious;
    }
    while (walk > FClearCode) {
      if (walk >= TableSize || top >= TableSize) return false;
      FStack[top++] = FSuffix[walk];
      walk = FPrefix[walk];
    }
    if (top >= TableSize) return false;
    FFirstByte = FSuffix[walk];
    FStack[top++] = FFirstByte;
    if (FFreeCode < TableSize) {
      FPrefix[FFreeCode] = static_cast<uint16_t>(FPrevious);
      FSuffix[FFreeCode] = FFirstByte;
      FAdded = true;
    }
    FPrevious = code;
    WriteReversed(top);
    return true;
  }

  // Whether the last DecodeCode added an entry (at FreeCode).
  bool Added() const { return FAdded; }
  void Advance() { ++FFreeCode; }

private:
  void Write(const uint8_t* data, size_t count) {
    count = std::min(count, FOutLeft);
    if (count == 0) return;  // an empty buffer may have no address
    std::memcpy(FOut, data, count);
    FOut += count;
    FOutLeft -= count;
  }
  // Pops the stack (the string back to front) into the output, keeping
  // what fits.
  void WriteReversed(size_t top) {
    const size_t count = std::min(top, FOutLeft);
    for (size_t i = 0; i < count; ++i) FOut[i] = FStack[top - 1 - i];
    FOut += count;
    FOutLeft -= count;
  }

  uint16_t FPrefix[TableSize];
  uint8_t FSuffix[TableSize];
  uint8_t FStack[TableSize];
  const uint32_t FClearCode;
  uint32_t FFreeCode = 0;
  uint32_t FPrevious = NoCode;
  uint8_t FFirstByte = 0;
  bool FAdded = false;
  uint8_t* FOut;
  size_t FOutLeft;
};

}  // namespace

void TTIFFLZWDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  constexpr uint32_t clearCode = 256, endCode = 257;
  TLZWTable table(clearCode, dest, unpackedSize);
  uint32_t width = 9;
  uint32_t buffer = 0, bits = 0;
  const uint8_t* in = source;
  for (int32_t left = packedSize; left > 0 && !table.OutputFull(); --left) {
    buffer = (buffer << 8 | *in++) & 0xFFFFFu;  // never more than 19 bits are pending
    bits += 8;
    while (bits >= width && !table.OutputFull()) {
      const uint32_t code = buffer >> (bits - width) & ((1u << width) - 1);
      bits -= width;
      if (code == endCode) return;
      if (code == clearCode) {
        table.Reset();
        width = 9;
        continue;
      }
      // A code past the table cannot be decoded: its bits are spent and the
      // next code starts after the next byte.
      if (code > table.FreeCode() || !table.DecodeCode(code)) break;
      if (table.Added()) table.Advance();
      if (table.FreeCode() == (1u << width) - 1 && width < MaxCodeWidth) ++width;
    }
  }
}

void TGIFLZWDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  if (InitialCodeSize >= MaxCodeWidth) return;
  const uint32_t clearCode = 1u << InitialCodeSize, endCode = clearCode + 1;
  TLZWTable table(clearCode, dest, unpackedSize);
  uint32_t width = InitialCodeSize + 1u;
  uint64_t buffer = 0;
  uint32_t bits = 0;
  const uint8_t* in = source;
  for (int32_t left = packedSize; left > 0 && !table.OutputFull(); --left) {
    buffer |= static_cast<uint64_t>(*in++) << bits;
    bits += 8;
    while (bits >= width && !table.OutputFull()) {
      const uint32_t code = static_cast<uint32_t>(buffer) & ((1u << width) - 1);
      buffer >>= width;
      bits -= width;
      if (code == clearCode) {
        table.Reset();
        width = InitialCodeSize + 1u;
        continue;
      }
      // An end code, or a code past the table, pauses decoding until the
      // next byte; data after it still decode. Codes narrower than a byte
      // could pile bits up faster than bytes bring them, so with a buffer
      // that holds 32 bits the pause is skipped.
      if (code == endCode || code > table.FreeCode() || !table.DecodeCode(code)) {
        if (bits < 32) break;
        continue;
      }
      if (!table.Added()) continue;  // a full table takes no further entries
      if (table.FreeCode() == (1u << width) - 1 && width < MaxCodeWidth) ++width;
      table.Advance();
    }
  }
}

}  // namespace tolvane
