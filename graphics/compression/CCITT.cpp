// The one-dimensional group 3 facsimile decoders: modified Huffman rows
// (byte- or word-aligned) and rows framed by end-of-line codes.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "graphics/GraphicCompression.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TCCITTDecoder, TDecoder)
TOLVANE_DEFINE_CLASS(TCCITTFax3Decoder, TCCITTDecoder)
TOLVANE_DEFINE_CLASS(TCCITTMHDecoder, TCCITTDecoder)

namespace {

struct TCode {
  uint32_t Code;
  uint32_t Length;
};

// The run-length codes of ITU-T T.4, in table order: white terminating codes
// for runs 0..63, white make-up codes for 64..1728 and the extended make-up
// codes for 1792..2560 (both colours share them); then the same for black.
// Terminating entry i stands for run i, make-up entry i for (i + 1) x 64.
constexpr TCode ExtendedMakeUp[13] = {
    {0b00000001000, 11},  {0b00000001100, 11},  {0b00000001101, 11},  {0b000000010010, 12}, {0b000000010011, 12},
    {0b000000010100, 12}, {0b000000010101, 12}, {0b000000010110, 12}, {0b000000010111, 12}, {0b000000011100, 12},
    {0b000000011101, 12}, {0b000000011110, 12}, {0b000000011111, 12},
};

constexpr TCode WhiteTerminating[64] = {
    {0b00110101, 8}, {0b000111, 6},  {0b0111, 4},     {0b1000, 4},     {0b1011, 4},     {0b1100, 4},
    {0b1110, 4},     {0b1111, 4},    {0b10011, 5},    {0b10100, 5},    {0b00111, 5},    {0b01000, 5},
    {0b001000, 6},   {0b000011, 6},  {0b110100, 6},   {0b110101, 6},   {0b101010, 6},   {0b101011, 6},
    {0b0100111, 7},  {0b0001100, 7}, {0b0001000, 7},  {0b0010111, 7},  {0b0000011, 7},  {0b0000100, 7},
    {0b0101000, 7},  {0b0101011, 7}, {0b0010011, 7},  {0b0100100, 7},  {0b0011000, 7},  {0b00000010, 8},
    {0b00000011, 8}, {0b00011010, 8}, {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8}, {0b00010100, 8},
    {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8}, {0b00101001, 8}, {0b00101010, 8},
    {0b00101011, 8}, {0b00101100, 8}, {0b00101101, 8}, {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8},
    {0b00001011, 8}, {0b01010010, 8}, {0b01010011, 8}, {0b01010100, 8}, {0b01010101, 8}, {0b00100100, 8},
    {0b00100101, 8}, {0b01011000, 8}, {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8},
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8},
};

constexpr TCode WhiteMakeUp[27] = {
    {0b11011, 5},     {0b10010, 5},     {0b010111, 6},    {0b0110111, 7},   {0b00110110, 8},  {0b00110111, 8},
    {0b01100100, 8},  {0b01100101, 8},  {0b01101000, 8},  {0b01100111, 8},  {0b011001100, 9}, {0b011001101, 9},
    {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9}, {0b011010101, 9}, {0b011010110, 9}, {0b011010111, 9},
    {0b011011000, 9}, {0b011011001, 9}, {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9}, {0b010011001, 9},
    {0b010011010, 9}, {0b011000, 6},    {0b010011011, 9},
};

constexpr TCode BlackTerminating[64] = {
    {0b0000110111, 10},   {0b010, 3},           {0b11, 2},            {0b10, 2},            {0b011, 3},
    {0b0011, 4},          {0b0010, 4},          {0b00011, 5},         {0b000101, 6},        {0b000100, 6},
    {0b0000100, 7},       {0b0000101, 7},       {0b0000111, 7},       {0b00000100, 8},      {0b00000111, 8},
    {0b000011000, 9},     {0b0000010111, 10},   {0b0000011000, 10},   {0b0000001000, 10},   {0b00001100111, 11},
    {0b00001101000, 11},  {0b00001101100, 11},  {0b00000110111, 11},  {0b00000101000, 11},  {0b00000010111, 11},
    {0b00000011000, 11},  {0b000011001010, 12}, {0b000011001011, 12}, {0b000011001100, 12}, {0b000011001101, 12},
    {0b000001101000, 12}, {0b000001101001, 12}, {0b000001101010, 12}, {0b000001101011, 12}, {0b000011010010, 12},
    {0b000011010011, 12}, {0b000011010100, 12}, {0b000011010101, 12}, {0b000011010110, 12}, {0b000011010111, 12},
    {0b000001101100, 12}, {0b000001101101, 12}, {0b000011011010, 12}, {0b000011011011, 12}, {0b000001010100, 12},
    {0b000001010101, 12}, {0b000001010110, 12}, {0b000001010111, 12}, {0b000001100100, 12}, {0b000001100101, 12},
    {0b000001010010, 12}, {0b000001010011, 12}, {0b000000100100, 12}, {0b000000110111, 12}, {0b000000111000, 12},
    {0b000000100111, 12}, {0b000000101000, 12}, {0b000001011000, 12}, {0b000001011001, 12}, {0b000000101011, 12},
    {0b000000101100, 12}, {0b000001011010, 12}, {0b000001100110, 12}, {0b000001100111, 12},
};

constexpr TCode BlackMakeUp[27] = {
    {0b0000001111, 10},    {0b000011001000, 12},  {0b000011001001, 12},  {0b000001011011, 12},
    {0b000000110011, 12},  {0b000000110100, 12},  {0b000000110101, 12},  {0b0000001101100, 13},
    {0b0000001101101, 13}, {0b0000001001010, 13}, {0b0000001001011, 13}, {0b0000001001100, 13},
    {0b0000001001101, 13}, {0b0000001110010, 13}, {0b0000001110011, 13}, {0b0000001110100, 13},
    {0b0000001110101, 13}, {0b0000001110110, 13}, {0b0000001110111, 13}, {0b0000001010010, 13},
    {0b0000001010011, 13}, {0b0000001010100, 13}, {0b0000001010101, 13}, {0b0000001011010, 13},
    {0b0000001011011, 13}, {0b0000001100100, 13}, {0b0000001100101, 13},
};

// The end-of-line code, and the all-zero prefixes that no code continues:
// with them every bit sequence ends in a leaf.
constexpr TCode EndOfLine = {0b000000000001, 12};
constexpr TCode InvalidCodes[4] = {{0b000000001, 9}, {0b0000000001, 10}, {0b00000000001, 11}, {0b000000000000, 12}};

constexpr std::array<uint8_t, 256> ReversedBytes = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (unsigned b = 0; b < 8; ++b)
      if (i & (1u << b)) r |= 0x80u >> b;
    table[i] = static_cast<uint8_t>(r);
  }
  return table;
}();

// Keeps sums of make-up codes far from overflow; any such run fills its
// row anyway.
constexpr int64_t MaxRunSum = std::numeric_limits<int32_t>::max();

}  // namespace

TCCITTDecoder::TCCITTDecoder(uint32_t faxOptions, bool swapBits, bool wordAligned, uint32_t rowWidth)
    : FaxOptions(faxOptions), SwapBits(swapBits), WordAligned(wordAligned), RowWidth(rowWidth) {
  BuildCodeTrees();
}

void TCCITTDecoder::AddCode(TStateArray& tree, uint32_t code, uint32_t length, int32_t run) {
  size_t state = 0;
  for (uint32_t i = length; i-- > 0;) {
    const bool one = (code >> i & 1) != 0;
    int32_t next = one ? tree[state].NextState1 : tree[state].NextState0;
    if (next == 0) {
      next = static_cast<int32_t>(tree.size());
      tree.emplace_back();
      (one ? tree[state].NextState1 : tree[state].NextState0) = next;
    }
    state = static_cast<size_t>(next);
  }
  tree[state].RunLength = run;
}

void TCCITTDecoder::BuildCodeTrees() {
  auto build = [](TStateArray& tree, const TCode (&terminating)[64], const TCode (&makeUp)[27]) {
    tree.assign(1, CodeState{});
    for (int32_t i = 0; i < 64; ++i) AddCode(tree, terminating[i].Code, terminating[i].Length, i);
    for (int32_t i = 0; i < 27; ++i) AddCode(tree, makeUp[i].Code, makeUp[i].Length, (i + 1) * 64);
    for (int32_t i = 0; i < 13; ++i) AddCode(tree, ExtendedMakeUp[i].Code, ExtendedMakeUp[i].Length, (i + 28) * 64);
    AddCode(tree, EndOfLine.Code, EndOfLine.Length, RunEOL);
    for (const TCode& c : InvalidCodes) AddCode(tree, c.Code, c.Length, RunInvalid);
  };
  build(FWhiteStates, WhiteTerminating, WhiteMakeUp);
  build(FBlackStates, BlackTerminating, BlackMakeUp);
}

bool TCCITTDecoder::StartDecoding(const uint8_t* source, int32_t packedSize, uint8_t* dest, int32_t unpackedSize) {
  FSource = source;
  FSourceSize = FSourceLeft = packedSize > 0 && source ? static_cast<size_t>(packedSize) : 0;
  FBitsLeft = 0;
  FCurrentByte = 0;
  FDest = dest;
  FDestSize = unpackedSize > 0 && dest ? static_cast<size_t>(unpackedSize) : 0;
  FRowBytes = (size_t{RowWidth} + 7) / 8;
  FRowStart = 0;
  FColumn = 0;
  IsWhite = true;
  if (FDestSize == 0) return false;
  std::memset(FDest, 0, FDestSize);
  return FRowBytes > 0;
}

void TCCITTDecoder::LoadByte() {
  const uint8_t byte = *FSource++;
  --FSourceLeft;
  FCurrentByte = SwapBits ? ReversedBytes[byte] : byte;
  FBitsLeft = 8;
}

bool TCCITTDecoder::NextBit() {
  if (FBitsLeft == 0) {
    if (FSourceLeft == 0) return false;
    LoadByte();
  }
  --FBitsLeft;
  return (FCurrentByte >> FBitsLeft & 1) != 0;
}

int32_t TCCITTDecoder::FindCode(const TStateArray& tree) {
  size_t state = 0;
  int64_t sum = 0;
  for (;;) {
    const CodeState& s = tree[state];
    const bool leaf = s.NextState0 == 0 && s.NextState1 == 0;
    if (InputExhausted() && !leaf) return static_cast<int32_t>(sum);
    int32_t next = 0;
    bool bit = false;
    if (!InputExhausted()) {
      if (FBitsLeft == 0) LoadByte();
      bit = (FCurrentByte >> (FBitsLeft - 1) & 1) != 0;
      next = bit ? s.NextState1 : s.NextState0;
    }
    if (next != 0) {
      --FBitsLeft;
      state = static_cast<size_t>(next);
      continue;
    }
    // A leaf: end of line and invalid codes are reported as such, whatever
    // make-up codes came before them.
    if (s.RunLength < 0) return s.RunLength;
    sum = std::min(sum + s.RunLength, MaxRunSum);
    if (s.RunLength < 64 || InputExhausted()) return static_cast<int32_t>(sum);
    // The bit looked at begins the code that follows the make-up code.
    --FBitsLeft;
    state = static_cast<size_t>(bit ? tree[0].NextState1 : tree[0].NextState0);
  }
}

bool TCCITTDecoder::FillRun(uint32_t run) {
  const uint32_t n = std::min(run, RowWidth - FColumn);
  if (!IsWhite && n > 0) {
    // The last row may be cut short by the output size.
    const size_t available = std::min(FRowBytes, FDestSize - FRowStart);
    uint8_t* row = FDest + FRowStart;
    size_t c = FColumn;
    const size_t end = std::min<size_t>(size_t{FColumn} + n, available * 8);
    for (; c < end && (c & 7) != 0; ++c) row[c >> 3] |= static_cast<uint8_t>(0x80u >> (c & 7));
    if (c < end) {
      const size_t bytes = (end - c) / 8;
      std::memset(row + c / 8, 0xFF, bytes);
      c += bytes * 8;
    }
    for (; c < end; ++c) row[c >> 3] |= static_cast<uint8_t>(0x80u >> (c & 7));
  }
  FColumn += n;
  return FColumn == RowWidth;
}

bool TCCITTDecoder::NextRow() {
  FRowStart += FRowBytes;
  FColumn = 0;
  return !OutputFull();
}

void TCCITTDecoder::AlignInput() {
  // A byte loaded only to look at its first bit has not been started.
  if (FBitsLeft < 8) FBitsLeft = 0;
  if (!WordAligned) return;
  const size_t nextOffset = FSourceSize - FSourceLeft - (FBitsLeft == 8 ? 1 : 0);
  if (nextOffset % 2 == 0) return;
  if (FBitsLeft == 8) FBitsLeft = 0;
  else if (FSourceLeft > 0) ++FSource, --FSourceLeft;
}

void TCCITTFax3Decoder::SynchronizeOnEOL(uint32_t eolCount) {
  // After a row that ended on its end-of-line code the next row's codes
  // follow at once; otherwise the end of line (after any fill bits) is
  // searched for.
  if (eolCount > 0) return;
  uint32_t zeros = 0;
  while (!InputExhausted()) {
    if (NextBit()) zeros = 0;
    else if (++zeros == 11) break;
  }
  while (!InputExhausted())
    if (NextBit()) break;
}

void TCCITTFax3Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  if (!StartDecoding(source, packedSize, dest, unpackedSize)) return;
  uint32_t eolCount = 0;
  do {
    SynchronizeOnEOL(eolCount);
    eolCount = 0;
    IsWhite = true;
    while (!InputExhausted()) {
      const int32_t run = FindRun();
      if (run >= 0) {
        if (FillRun(static_cast<uint32_t>(run))) break;
        IsWhite = !IsWhite;
        continue;
      }
      if (run == RunEOL) ++eolCount;
      break;  // an invalid code ends the row too
    }
  } while (NextRow() && !InputExhausted());
}

void TCCITTMHDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  if (!StartDecoding(source, packedSize, dest, unpackedSize)) return;
  while (!InputExhausted() && !OutputFull()) {
    const int32_t run = FindRun();
    if (run > 0 && FillRun(static_cast<uint32_t>(run))) {
      AlignInput();
      NextRow();
      IsWhite = true;
      continue;
    }
    // Zero runs, end-of-line and invalid codes only change the colour.
    IsWhite = !IsWhite;
  }
}

}  // namespace tolvane
