// The two LZW decoders. They differ in the bit order of their codes, the
// moment the code width grows, what an end code means and how a full table
// is handled; the TIFF one, which most strips of large pictures pass
// through, copies whole strings from its own output.
#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "picture/ByteOrder.h"

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

namespace {

// 0xFF bytes then 0 bytes: the eight at 8 - n select the first n bytes of a
// word in memory order.
constexpr uint8_t LeadingBytes[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// TIFF LZW keeps no string table of its own: every code's string already
// lies in the output, and each new entry is the previous string with the
// first byte after it, so an entry is a start and a length there, and a code
// is decoded by copying its whole string at once. A string cut off by the
// end of the output ends the call, so no later code refers past it.
class TTIFFStrings {
public:
  TTIFFStrings(uint8_t* out, size_t size) : FOut(out), FSize(size) { Reset(); }

  void Reset() {
    FFreeCode = FirstFree;
    FPrevious = NoCode;
  }
  uint32_t FreeCode() const { return FFreeCode; }
  bool OutputFull() const { return FPosition == FSize; }
  // A code past the table, or any code but a single byte to start a string,
  // cannot be decoded.
  bool Decodable(uint32_t code) const {
    return code <= FFreeCode && (FPrevious != NoCode || code < ClearCode);
  }

  // Writes the string of a decodable code and adds the entry it completes.
  void Decode(uint32_t code) {
    const size_t at = FPosition;
    uint32_t length;
    if (code < ClearCode) {
      length = 1;
      FOut[at] = static_cast<uint8_t>(code);
    } else if (code == FFreeCode) {
      // The string being defined: the previous one and its own first byte.
      length = FPreviousLength + 1u;
      const size_t kept = Copy(FPreviousStart, FPreviousLength);
      if (kept == FPreviousLength && at + kept < FSize) FOut[at + kept] = FOut[FPreviousStart];
    } else {
      length = FLength[code];
      Copy(FStart[code], length);
    }
    if (FPrevious != NoCode && FFreeCode < TableSize) {
      FStart[FFreeCode] = static_cast<uint32_t>(FPreviousStart);
      FLength[FFreeCode] = static_cast<uint16_t>(FPreviousLength + 1u);
      ++FFreeCode;
    }
    FPrevious = code;
    FPreviousStart = at;
    FPreviousLength = length;
    FPosition = std::min(at + length, FSize);
  }

private:
  static constexpr uint32_t ClearCode = 256;
  static constexpr uint32_t FirstFree = 258;

  // Copies an earlier stretch of the output to the current position, as
  // much as fits; the stretch always ends at or before that position.
  // Most strings are a few bytes long: with room for a whole word they are
  // merged into the word at the position, which keeps the bytes after the
  // string as they are and costs no loop whose end the processor would have
  // to guess.
  size_t Copy(size_t from, size_t count) {
    count = std::min(count, FSize - FPosition);
    uint8_t* to = FOut + FPosition;
    const uint8_t* source = FOut + from;
    if (count <= 8 && FSize - FPosition >= 8) {
      uint64_t word, string;
      std::memcpy(&word, to, 8);
      std::memcpy(&string, source, 8);
      uint64_t mask;
      std::memcpy(&mask, LeadingBytes + 8 - count, 8);
      word = (string & mask) | (word & ~mask);
      std::memcpy(to, &word, 8);
    } else if (count <= 8) {
      for (size_t i = 0; i < count; ++i) to[i] = source[i];
    } else {
      std::memcpy(to, source, count);
    }
    return count;
  }

  uint8_t* const FOut;
  const size_t FSize;
  size_t FPosition = 0;
  uint32_t FFreeCode = FirstFree;
  uint32_t FPrevious = NoCode;
  size_t FPreviousStart = 0;
  uint32_t FPreviousLength = 0;
  // Entries from FirstFree up to FreeCode - 1; the others are never read.
  uint32_t FStart[TableSize];
  uint16_t FLength[TableSize];
};

// The width bits at bit position pos, most significant bit first; bytes past
// the end read as 0.
uint32_t PeekCode(const uint8_t* data, size_t size, uint64_t pos, uint32_t width) {
  const size_t at = static_cast<size_t>(pos >> 3);
  uint32_t word;
  if (at + 4 <= size) {
    word = LoadBE32(data + at);
  } else {
    word = 0;
    for (size_t i = 0; i < 4; ++i) word = word << 8 | (at + i < size ? data[at + i] : 0u);
  }
  return word >> (32 - width - (pos & 7)) & ((1u << width) - 1);
}

}  // namespace

// Codes are taken as whole bytes arrive: a code is read once the bytes that
// hold its last bit are in, but a code that cannot be decoded holds the next
// one back until one more byte has come, so that near the end of the data
// a code that the bytes would hold may go unread.
void TTIFFLZWDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  constexpr uint32_t clearCode = 256, endCode = 257;
  const size_t inSize = packedSize > 0 ? static_cast<size_t>(packedSize) : 0;
  TTIFFStrings strings(dest, unpackedSize > 0 ? static_cast<size_t>(unpackedSize) : 0);
  uint32_t width = 9;
  uint64_t bitPosition = 0;
  uint64_t earliestByte = 0;  // bytes that must be in before the next code
  while (!strings.OutputFull()) {
    const uint64_t bytesIn = std::max((bitPosition + width + 7) / 8, earliestByte);
    if (bytesIn > inSize) break;
    const uint32_t code = PeekCode(source, inSize, bitPosition, width);
    bitPosition += width;
    if (code == endCode) return;
    if (code == clearCode) {
      strings.Reset();
      width = 9;
      continue;
    }
    if (!strings.Decodable(code)) {
      earliestByte = bytesIn + 1;
      continue;
    }
    strings.Decode(code);
    if (strings.FreeCode() == (1u << width) - 1 && width < MaxCodeWidth) ++width;
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
