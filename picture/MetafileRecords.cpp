// The record walk of the metafile graphic and what it keeps of long records
// (see MetafileRecords.h). The rules below follow the fields the player
// reads from each kind of record: whatever it may read is kept, at the
// offsets where it will look for it.
#include "MetafileRecords.h"

#include <algorithm>
#include <initializer_list>

#include "picture/ByteOrder.h"
#include "picture/DibReader.h"
#include "picture/Graphics.h"

namespace tolvane {

namespace {

constexpr uint64_t Limit = MetafileRecordLimit;
constexpr size_t WindowSize = 4096;
constexpr uint64_t HeaderPeek = 2048;  // more than any bitmap header with its masks

// Appends up to count bytes of the stream to data, a block at a time so that
// a length the file does not hold reserves nothing; false at the stream's end.
bool AppendFromStream(TStream& stream, std::vector<uint8_t>& data, uint64_t count) {
  constexpr uint64_t Block = uint64_t{1} << 20;
  while (count) {
    const size_t n = static_cast<size_t>(std::min(count, Block)), old = data.size();
    data.resize(old + n);
    const size_t got = stream.Read(data.data() + old, n);
    data.resize(old + got);
    if (got < n) return false;
    count -= n;
  }
  return true;
}

// Room for count more bytes and a few small records after them, grown at
// least geometrically so that many long records cost linear time: one large
// record is then read into its place and held once.
void Reserve(std::vector<uint8_t>& data, uint64_t count) {
  if (count <= data.capacity() - data.size()) return;
  data.reserve(static_cast<size_t>(std::max<uint64_t>(data.size() + count + Limit, 2 * uint64_t{data.capacity()})));
}

// A record longer than the limit while it is read. What is kept of it lies
// in data from at on; its fields can be read anywhere in the whole record,
// those past the kept bytes through a small window on the stream.
class TLongRecord {
public:
  // data holds the record's first `have` bytes, the stream stands behind them.
  TLongRecord(TStream& stream, std::vector<uint8_t>& data, size_t at, uint64_t length, size_t have, size_t alignment)
      : FStream(stream), FData(data), FAt(at), FStart(stream.Position() - static_cast<int64_t>(have)),
        FLength(length), FAlignment(alignment) {
    KeepPrefix(Limit);
  }

  uint64_t Length() const { return FLength; }
  uint64_t Kept() const { return FData.size() - FAt; }
  bool Fits(uint64_t offset, uint64_t count) const { return offset <= FLength && count <= FLength - offset; }

  // Fields of the whole record; 0 where it ends.
  uint16_t U16(uint64_t offset) {
    const uint8_t b[2] = {U8(offset), U8(offset + 1)};
    return LoadLE16(b);
  }
  int16_t I16(uint64_t offset) { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(uint64_t offset) {
    const uint8_t b[4] = {U8(offset), U8(offset + 1), U8(offset + 2), U8(offset + 3)};
    return LoadLE32(b);
  }

  // Up to count bytes of the record from offset (fewer where it ends).
  std::vector<uint8_t> Bytes(uint64_t offset, uint64_t count) {
    std::vector<uint8_t> out(static_cast<size_t>(Fits(offset, 0) ? std::min(count, FLength - offset) : 0));
    out.resize(ReadAt(offset, out.data(), out.size()));
    return out;
  }

  // Keeps the record's first n bytes (at most its length), rounded up to its
  // alignment; fewer than are kept gives back the rest.
  void KeepPrefix(uint64_t n) {
    n = std::min(FLength, Aligned(n));
    if (n <= Kept()) FData.resize(FAt + static_cast<size_t>(n));
    else KeepCopy(Kept(), n - Kept());
    FPrefix = n;
  }

  // Appends count bytes of the record from offset to what is kept; gives
  // where they now begin in the kept record.
  uint64_t KeepCopy(uint64_t offset, uint64_t count) {
    const uint64_t to = Kept();
    Reserve(FData, count);
    FStream.SetPosition(FStart + static_cast<int64_t>(offset));
    if (!AppendFromStream(FStream, FData, count)) FShort = true;
    return to;
  }

  void Put16(uint64_t offset, uint16_t value) { StoreLE16(FData.data() + FAt + offset, value); }
  void Put32(uint64_t offset, uint32_t value) { StoreLE32(FData.data() + FAt + offset, value); }

  // Pads what is kept to the alignment, stores its size through setLength
  // and leaves the stream at the record's end. False, with nothing
  // rewritten, when the stream ended inside the record.
  bool Finish(void (*setLength)(uint8_t* head, uint64_t length)) {
    if (FShort) return false;
    if (Aligned(Kept()) < FLength) FData.resize(FAt + static_cast<size_t>(Aligned(Kept())));
    if (Kept() != FLength) setLength(FData.data() + FAt, Kept());
    FStream.SetPosition(FStart + static_cast<int64_t>(FLength));
    return true;
  }

private:
  uint64_t Aligned(uint64_t n) const { return (n + FAlignment - 1) / FAlignment * FAlignment; }

  uint8_t U8(uint64_t offset) {
    if (offset < FPrefix) return FData[FAt + static_cast<size_t>(offset)];
    if (offset >= FLength) return 0;
    if (offset < FWindowAt || offset - FWindowAt >= FWindow.size()) {
      FWindow.resize(static_cast<size_t>(std::min<uint64_t>(WindowSize, FLength - offset)));
      FWindow.resize(ReadAt(offset, FWindow.data(), FWindow.size()));
      FWindowAt = offset;
      if (FWindow.empty()) return 0;
    }
    return FWindow[static_cast<size_t>(offset - FWindowAt)];
  }

  size_t ReadAt(uint64_t offset, uint8_t* out, size_t count) {
    if (!count) return 0;
    FStream.SetPosition(FStart + static_cast<int64_t>(offset));
    return FStream.Read(out, count);
  }

  TStream& FStream;
  std::vector<uint8_t>& FData;
  const size_t FAt;
  const int64_t FStart;
  const uint64_t FLength;
  const size_t FAlignment;
  uint64_t FPrefix = 0;  // kept bytes that lie where they lie in the record
  std::vector<uint8_t> FWindow;
  uint64_t FWindowAt = 0;
  bool FShort = false;
};

// A record whose counts name its first `need` bytes keeps them; counts
// that name more than the record holds leave it cut at the limit, where it
// is as malformed as it was.
void KeepCounted(TLongRecord& r, uint64_t need) { r.KeepPrefix(need <= r.Length() ? std::max(need, Limit) : Limit); }

// Pixel bytes a device-independent bitmap whose first bytes are head can
// take: none when it cannot be drawn.
uint64_t DibPixelBytes(const std::vector<uint8_t>& head) {
  const auto header = TDibReader::PeekHeader(head.data(), head.size());
  if (!header || int64_t{header->Width} * header->Height > MaxMetafileBitmapPixels) return 0;
  return TDibReader::PixelBytesBound(*header);
}

// ---- Enhanced metafiles ----

enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_EOF = 14,
  EMR_CREATEPALETTE = 49, EMR_SETPALETTEENTRIES = 50, EMR_POLYDRAW = 56, EMR_FILLRGN = 71, EMR_FRAMERGN = 72,
  EMR_INVERTRGN = 73, EMR_PAINTRGN = 74, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77,
  EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90, EMR_POLYPOLYGON16 = 91,
  EMR_POLYDRAW16 = 92, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94, EMR_EXTCREATEPEN = 95,
  EMR_SMALLTEXTOUT = 108, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116, EMR_GRADIENTFILL = 118,
};
constexpr uint32_t PS_USERSTYLE = 7, BS_NULL = 1, ETO_PDY = 0x2000;

// A part of an enhanced record that an offset field points at: Size bytes
// in the record, of which Kept are needed; SizeField (0: none) holds Size.
struct TSpan {
  uint64_t OffsetField, SizeField;
  uint64_t Offset, Size, Kept;
};

// Keeps the spans: in place when they lie near the record's start, else
// moved behind its first bytes. Sizes that shrink are rewritten.
void KeepSpans(TLongRecord& r, std::initializer_list<TSpan> spans) {
  for (const TSpan& s : spans)
    if (!r.Fits(s.Offset, s.Size)) return r.KeepPrefix(Limit);  // the player refuses the record as it is
  uint64_t end = Limit, bytes = 0;
  for (const TSpan& s : spans) end = std::max(end, s.Offset + s.Kept), bytes += s.Kept;
  if (end <= 2 * Limit + bytes) {
    r.KeepPrefix(end);
  } else {
    r.KeepPrefix(Limit);
    for (const TSpan& s : spans)
      if (s.Offset + s.Kept > Limit) r.Put32(s.OffsetField, static_cast<uint32_t>(r.KeepCopy(s.Offset, s.Kept)));
  }
  for (const TSpan& s : spans)
    if (s.SizeField && s.Kept < s.Size) r.Put32(s.SizeField, static_cast<uint32_t>(s.Kept));
}

// A bitmap whose offsets and sizes (header, bits) are the four fields at
// `fields`; checked tells whether the player looks at an empty header.
void KeepEnhancedBitmap(TLongRecord& r, uint64_t fields, bool checked) {
  const uint32_t offBmi = r.U32(fields), cbBmi = r.U32(fields + 4), offBits = r.U32(fields + 8),
                 cbBits = r.U32(fields + 12);
  if (cbBmi == 0 && !checked) return r.KeepPrefix(Limit);
  // The player reads the bitmap from its header followed by its bits, so
  // masks that a writer left out of the header's size come from the bits.
  std::vector<uint8_t> head = r.Bytes(offBmi, std::min<uint64_t>(cbBmi, Limit));
  const std::vector<uint8_t> bits = r.Bytes(offBits, std::min<uint64_t>(cbBits, HeaderPeek));
  head.insert(head.end(), bits.begin(), bits.end());
  const uint64_t pixels = DibPixelBytes(head);
  KeepSpans(r, {{fields, fields + 4, offBmi, cbBmi, std::min<uint64_t>(cbBmi, Limit)},
                {fields + 8, fields + 12, offBits, cbBits, std::min<uint64_t>(cbBits, pixels + Limit)}});
}

void KeepEnhancedText(TLongRecord& r, uint32_t type) {
  const uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52), offDx = r.U32(72);
  const uint64_t text = uint64_t{count} * (type == EMR_EXTTEXTOUTW ? 2 : 1);
  const uint64_t dx = offDx != 0 && count > 0 ? uint64_t{count} * (options & ETO_PDY ? 8 : 4) : 0;
  if (dx) KeepSpans(r, {{48, 0, offString, text, text}, {72, 0, offDx, dx, dx}});
  else KeepSpans(r, {{48, 0, offString, text, text}});
}

uint64_t EnhancedNeed(uint32_t type, TLongRecord& r) {
  const uint64_t count = r.U32(24);
  if (type >= EMR_POLYBEZIER && type <= EMR_POLYLINETO) return 28 + 8 * count;
  if (type >= EMR_POLYBEZIER16 && type <= EMR_POLYLINETO16) return 28 + 4 * count;
  switch (type) {
    case EMR_POLYDRAW: return 28 + 9 * count;
    case EMR_POLYDRAW16: return 28 + 5 * count;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: return 32 + 4 * count + 8 * uint64_t{r.U32(28)};
    case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: return 32 + 4 * count + 4 * uint64_t{r.U32(28)};
    case EMR_CREATEPALETTE: return 16 + 4 * uint64_t{r.U16(14)};
    case EMR_SETPALETTEENTRIES: return 20 + 4 * uint64_t{r.U32(16)};
    case EMR_EXTCREATEPEN:
      return (r.U32(28) & 0xF) == PS_USERSTYLE && r.U32(36) != BS_NULL ? 52 + 4 * uint64_t{r.U32(48)} : 0;
    case EMR_FILLRGN: return 32 + count;
    case EMR_FRAMERGN: return 40 + count;
    case EMR_INVERTRGN: case EMR_PAINTRGN: return 28 + count;
    case EMR_EXTSELECTCLIPRGN: return 16 + uint64_t{r.U32(8)};
    case EMR_GRADIENTFILL: {
      const uint32_t mode = r.U32(32);
      if (mode > 2) return 0;
      return 36 + 16 * count + uint64_t{r.U32(28)} * 4 * (mode == 2 ? 3 : 2);
    }
    case EMR_SMALLTEXTOUT: {
      const uint32_t options = r.U32(20);
      return (options & 0x100 ? 36 : 52) + uint64_t{r.U32(16)} * (options & 0x200 ? 1 : 2);
    }
    default: return 0;
  }
}

void KeepEnhanced(uint32_t type, TLongRecord& r) {
  switch (type) {
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
      return KeepEnhancedBitmap(r, 84, false);
    case EMR_SETDIBITSTODEVICE: case EMR_STRETCHDIBITS: return KeepEnhancedBitmap(r, 48, false);
    case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT: return KeepEnhancedBitmap(r, 16, true);
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: return KeepEnhancedText(r, type);
    default: return KeepCounted(r, EnhancedNeed(type, r));
  }
}

// The header keeps its fixed fields; a description or pixel format that
// no longer fits is shortened or dropped.
void KeepEnhancedHeader(TLongRecord& r) {
  r.KeepPrefix(Limit);
  const uint64_t kept = r.Kept(), nDescription = r.U32(60), offDescription = r.U32(64);
  if (offDescription + 2 * nDescription > kept) {
    const uint64_t fits = offDescription < kept ? (kept - offDescription) / 2 : 0;
    r.Put32(60, static_cast<uint32_t>(fits));
    if (!fits) r.Put32(64, 0);
  }
  if (uint64_t{r.U32(92)} + r.U32(88) > kept) r.Put32(88, 0), r.Put32(92, 0);
}

void SetEnhancedLength(uint8_t* head, uint64_t length) { StoreLE32(head + 4, static_cast<uint32_t>(length)); }

// ---- Windows metafiles ----

enum : uint16_t {
  META_SETPALENTRIES = 0x0037, META_CREATEPALETTE = 0x00F7, META_DIBCREATEPATTERNBRUSH = 0x0142,
  META_CREATEPATTERNBRUSH = 0x01F9, META_POLYGON = 0x0324, META_POLYLINE = 0x0325, META_ANIMATEPALETTE = 0x0436,
  META_TEXTOUT = 0x0521, META_POLYPOLYGON = 0x0538, META_CREATEREGION = 0x06FF, META_BITBLT = 0x0922,
  META_DIBBITBLT = 0x0940, META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23, META_DIBSTRETCHBLT = 0x0B41,
  META_SETDIBTODEV = 0x0D33, META_STRETCHDIB = 0x0F43,
};
constexpr uint64_t P = 6;  // parameters start after the size and function fields

// A device-independent bitmap that fills the record from offset on.
void KeepWindowsDib(TLongRecord& r, uint64_t offset) {
  r.KeepPrefix(offset + Limit + DibPixelBytes(r.Bytes(offset, Limit)));
}

// An old device-dependent bitmap: its 10-byte header at header, its rows at
// bits. Rows padded far beyond their pixels are kept at the width the
// pixels need.
void KeepBitmap16(TLongRecord& r, uint64_t header, uint64_t bits) {
  const int64_t width = r.I16(header + 2), height = r.I16(header + 4), widthBytes = r.I16(header + 6);
  const uint8_t planes = static_cast<uint8_t>(r.U16(header + 8)), bpp = static_cast<uint8_t>(r.U16(header + 8) >> 8);
  if (width <= 0 || height <= 0 || planes != 1 || (bpp != 1 && bpp != 24 && bpp != 32) ||
      widthBytes * 8 < width * bpp || width * height > MaxMetafileBitmapPixels)
    return r.KeepPrefix(Limit);  // the player draws no such bitmap
  const uint64_t rows = static_cast<uint64_t>(widthBytes) * static_cast<uint64_t>(height);
  const int64_t stride = (width * bpp + 15) / 16 * 2;
  if (!r.Fits(bits, rows) || widthBytes <= stride || rows <= Limit) return KeepCounted(r, bits + rows);
  r.KeepPrefix(bits);
  for (int64_t y = 0; y < height; ++y) r.KeepCopy(bits + static_cast<uint64_t>(y * widthBytes), static_cast<uint64_t>(stride));
  r.Put16(header + 6, static_cast<uint16_t>(stride));
}

uint64_t PolyPolygonNeed(TLongRecord& r) {
  const uint16_t polygons = r.U16(P);
  uint64_t points = 0;
  if (!r.Fits(P + 2, 2 * uint64_t{polygons})) return UINT64_MAX;
  for (uint16_t i = 0; i < polygons; ++i) points += r.U16(P + 2 + 2 * uint64_t{i});
  return P + 2 + 2 * uint64_t{polygons} + 4 * points;
}

// Scans of count, top, bottom, the x values and the count again; the
// player reads each up to its last x value.
uint64_t RegionNeed(TLongRecord& r) {
  const int16_t scans = r.I16(P + 10);
  uint64_t at = P + 22, need = at;
  for (int16_t i = 0; i < scans; ++i) {
    if (!r.Fits(at, 6)) return UINT64_MAX;
    need = at + 6 + 2 * uint64_t{r.U16(at)};
    at = need + 2;
  }
  return need;
}

uint64_t ExtTextNeed(TLongRecord& r) {
  const uint64_t length = r.U16(P + 4);
  const uint64_t at = P + 8 + (r.U16(P + 6) & 6 ? 8 : 0), dx = at + ((length + 1) & ~uint64_t{1});
  return length > 0 && r.Fits(dx, 2 * length) ? dx + 2 * length : at + length;
}

void KeepWindows(uint32_t function, TLongRecord& r) {
  switch (function) {
    case META_POLYLINE: case META_POLYGON: return KeepCounted(r, P + 2 + 4 * uint64_t{r.U16(P)});
    case META_POLYPOLYGON: return KeepCounted(r, PolyPolygonNeed(r));
    case META_CREATEREGION: return KeepCounted(r, RegionNeed(r));
    case META_CREATEPALETTE: case META_SETPALENTRIES: case META_ANIMATEPALETTE:
      return KeepCounted(r, P + 4 + 4 * uint64_t{r.U16(P + 2)});
    case META_TEXTOUT: return KeepCounted(r, P + 2 + ((uint64_t{r.U16(P)} + 1) & ~uint64_t{1}) + 4);
    case META_EXTTEXTOUT: return KeepCounted(r, ExtTextNeed(r));
    case META_DIBCREATEPATTERNBRUSH: return KeepWindowsDib(r, P + 4);
    case META_DIBBITBLT: return KeepWindowsDib(r, P + 16);
    case META_SETDIBTODEV: return KeepWindowsDib(r, P + 18);
    case META_DIBSTRETCHBLT: return KeepWindowsDib(r, P + 20);
    case META_STRETCHDIB: return KeepWindowsDib(r, P + 22);
    case META_CREATEPATTERNBRUSH: return KeepBitmap16(r, P, P + 32);
    case META_BITBLT: return KeepBitmap16(r, P + 16, P + 26);
    case META_STRETCHBLT: return KeepBitmap16(r, P + 20, P + 30);
    default: return KeepCounted(r, 0);
  }
}

void SetWindowsLength(uint8_t* head, uint64_t length) { StoreLE32(head, static_cast<uint32_t>(length / 2)); }

// ---- The walk ----

// How one kind of metafile frames its records.
struct TRecordFrame {
  size_t HeadSize, Alignment;
  uint64_t (*LengthOf)(const uint8_t* head);
  uint32_t (*KindOf)(const uint8_t* head);
  bool (*IsEnd)(const uint8_t* head);
  void (*SetLength)(uint8_t* head, uint64_t length);
  void (*Keep)(uint32_t kind, TLongRecord& record);
};

const TRecordFrame EnhancedFrame{
    8, 4, [](const uint8_t* h) { return uint64_t{LoadLE32(h + 4)}; }, [](const uint8_t* h) { return LoadLE32(h); },
    [](const uint8_t* h) { return LoadLE32(h) == EMR_EOF; }, SetEnhancedLength, KeepEnhanced};
const TRecordFrame WindowsFrame{
    6, 2, [](const uint8_t* h) { return uint64_t{LoadLE32(h)} * 2; }, [](const uint8_t* h) { return uint32_t{LoadLE16(h + 4)}; },
    [](const uint8_t* h) { return LoadLE16(h + 4) == 0; }, SetWindowsLength, KeepWindows};

struct TKept {
  uint64_t Removed = 0;  // bytes of the file's records that were not kept
  uint64_t Largest = 0;  // the largest record as kept
};

// Reads records from the stream into data until end, a length counted in
// the file from the metafile's first byte, of which pos are read. A record
// that runs past end is kept as far as it goes, up to the limit, and ends
// reading like the end-of-file record and a head that gives no length, so
// padding after the records is never read.
TKept ReadRecords(TStream& stream, std::vector<uint8_t>& data, uint64_t pos, uint64_t end, const TRecordFrame& f) {
  TKept kept;
  while (pos + f.HeadSize <= end) {
    const size_t at = data.size();
    if (!AppendFromStream(stream, data, f.HeadSize)) return kept;
    const uint64_t length = f.LengthOf(data.data() + at);
    if (length < f.HeadSize) {
      data.resize(at);
      return kept;
    }
    if (length > end - pos) {
      AppendFromStream(stream, data, std::min(end - pos, Limit) - f.HeadSize);
      return kept;
    }
    const bool last = f.IsEnd(data.data() + at);
    if (length <= Limit) {
      if (!AppendFromStream(stream, data, length - f.HeadSize)) return kept;
      kept.Largest = std::max(kept.Largest, length);
    } else {
      TLongRecord record(stream, data, at, length, f.HeadSize, f.Alignment);
      f.Keep(f.KindOf(data.data() + at), record);
      if (!record.Finish(f.SetLength)) return kept;
      kept.Removed += length - record.Kept();
      kept.Largest = std::max(kept.Largest, record.Kept());
    }
    pos += length;
    if (last) return kept;
  }
  AppendFromStream(stream, data, end - pos);  // a tail shorter than a record head
  return kept;
}

}  // namespace

bool ReadEnhancedRecords(TStream& stream, std::vector<uint8_t>& data, uint64_t length) {
  const uint64_t headerSize = LoadLE32(data.data() + 4);
  uint64_t removed = 0;
  if (headerSize <= Limit) {
    if (!AppendFromStream(stream, data, headerSize - data.size())) return false;
  } else {
    TLongRecord header(stream, data, 0, headerSize, data.size(), EnhancedFrame.Alignment);
    KeepEnhancedHeader(header);
    if (!header.Finish(SetEnhancedLength)) return false;
    removed = headerSize - header.Kept();
  }
  removed += ReadRecords(stream, data, headerSize, length, EnhancedFrame).Removed;
  if (removed) StoreLE32(data.data() + 48, static_cast<uint32_t>(LoadLE32(data.data() + 48) - removed));
  return true;
}

void ReadWindowsRecords(TStream& stream, std::vector<uint8_t>& data, size_t headerAt, uint64_t length) {
  const TKept kept = ReadRecords(stream, data, data.size(), length, WindowsFrame);
  if (!kept.Removed) return;
  uint8_t* header = data.data() + headerAt;
  StoreLE32(header + 6, static_cast<uint32_t>(LoadLE32(header + 6) - kept.Removed / 2));
  StoreLE32(header + 12, std::min(LoadLE32(header + 12), static_cast<uint32_t>(kept.Largest / 2)));
}

}  // namespace tolvane
