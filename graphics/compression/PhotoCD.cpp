// The Photo CD residual decoder: Huffman tables at the head of the data,
// then rows of codes, each row introduced by a sync marker that names its
// plane and row number.
#include <array>
#include <vector>

#include "graphics/GraphicColor.h"
#include "graphics/GraphicCompression.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TPCDDecoder, TDecoder)

namespace {

constexpr size_t SectorSize = 2048;
// Twelve one bits inside the window announce a sync marker; the marker
// itself is 23 one bits and a zero at the top of the window.
constexpr uint32_t SyncAhead = 0x00FFF000;
constexpr uint32_t SyncMask = 0xFFFFFF00;
constexpr uint32_t SyncMarker = 0xFFFFFE00;

using TTable = std::vector<TPCDDecoder::PCDTableEntry>;

// A 32-bit window over the stream, its oldest bits at the top, refilled a
// byte at a time whenever fewer than 25 valid bits remain.
class TBitWindow {
public:
  explicit TBitWindow(TStream& stream) : FStream(stream) {}

  uint32_t Bits() const { return FWindow; }

  void GetBits(unsigned count) {
    FWindow = count >= 32 ? 0 : FWindow << count;
    FValid -= static_cast<int>(count);
    while (FValid < 25) {
      FWindow |= static_cast<uint32_t>(NextByte()) << (24 - FValid);
      FValid += 8;
    }
  }

  // Moves to the next sync marker: whole bytes up to the twelve one bits,
  // then single bits up to the marker.
  void SkipToSync() {
    while ((FWindow & SyncAhead) != SyncAhead) GetBits(8);
    while ((FWindow & SyncMask) != SyncMarker) GetBits(1);
  }

private:
  uint8_t NextByte() {
    if (FUsed == SectorSize) {
      FStream.ReadExact(FSector.data(), SectorSize);
      FUsed = 0;
    }
    return FSector[FUsed++];
  }

  TStream& FStream;
  std::array<uint8_t, SectorSize> FSector{};
  size_t FUsed = SectorSize;  // the first read fills the sector
  uint32_t FWindow = 0;
  int FValid = 32;
};

// Reads one table; false when an entry is longer than 16 bits.
bool ReadTable(TBitWindow& bits, TTable& table) {
  bits.GetBits(8);
  const unsigned count = (bits.Bits() & 0xFF) + 1;
  table.resize(count);
  for (TPCDDecoder::PCDTableEntry& entry : table) {
    bits.GetBits(8);
    const unsigned length = (bits.Bits() & 0xFF) + 1;
    if (length > 16) return false;
    entry.Length = static_cast<uint8_t>(length);
    bits.GetBits(16);
    entry.Sequence = (bits.Bits() & 0xFFFF) << 16;
    bits.GetBits(8);
    entry.Key = static_cast<uint8_t>(bits.Bits() & 0xFF);
    entry.Mask = ~uint32_t{0} << (32 - length);
  }
  return true;
}

const TPCDDecoder::PCDTableEntry* FindCode(const TTable* table, uint32_t window) {
  if (!table) return nullptr;
  for (const TPCDDecoder::PCDTableEntry& entry : *table)
    if ((window & entry.Mask) == entry.Sequence) return &entry;
  return nullptr;
}

}  // namespace

void TPCDDecoder::Decode(const uint8_t*& source, uint8_t*&, int32_t packedSize, int32_t unpackedSize) {
  if (!source || packedSize <= 0 || unpackedSize <= 0) return;
  uint8_t* const* planes = reinterpret_cast<uint8_t* const*>(source);
  DecodePlanes(planes[0], planes[1], planes[2], static_cast<uint32_t>(packedSize),
               static_cast<uint32_t>(unpackedSize));
}

void TPCDDecoder::DecodePlanes(uint8_t* luminance, uint8_t* chroma1, uint8_t* chroma2, uint32_t rowWidth,
                               uint32_t rows) {
  TBitWindow bits(FStream);
  std::array<TTable, 3> tables;
  const size_t tableCount = rowWidth <= 1536 ? 1 : 3;
  for (size_t i = 0; i < tableCount; ++i)
    if (!ReadTable(bits, tables[i])) return;

  bits.GetBits(16);
  bits.GetBits(16);
  bits.SkipToSync();
  uint8_t* row = nullptr;  // the row that codes go to; null: codes are dropped
  uint32_t column = 0;
  const TTable* table = nullptr;
  for (;;) {
    // Only a whole marker at the top ends a row: the codes before it may
    // carry runs of one bits, and the marker may follow the last code
    // directly.
    if ((bits.Bits() & SyncMask) == SyncMarker) {
      bits.GetBits(16);
      const uint32_t number = (bits.Bits() >> 9) & 0x1FFF;
      if (number == rows) return;
      bits.GetBits(8);
      const uint32_t plane = bits.Bits() >> 30;
      bits.GetBits(16);
      if (plane == 1) throw EAbort(SysConst::SOperationAborted);
      const size_t index = plane == 0 ? 0 : plane - 1;
      uint8_t* const base = plane == 0 ? luminance : plane == 2 ? chroma1 : chroma2;
      const uint32_t planeRow = plane == 0 ? number : number / 2;
      // A row past the planes' end is read and dropped.
      row = number < rows && base ? base + size_t{planeRow} * rowWidth : nullptr;
      table = index < tableCount ? &tables[index] : nullptr;
      column = 0;
      continue;
    }
    const PCDTableEntry* entry = FindCode(table, bits.Bits());
    if (!entry) {
      bits.SkipToSync();
      continue;
    }
    if (row && column < rowWidth)
      row[column] = ClampByte(row[column] + static_cast<int8_t>(entry->Key));
    ++column;
    bits.GetBits(entry->Length);
  }
}

}  // namespace tolvane
