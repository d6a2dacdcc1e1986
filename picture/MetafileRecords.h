// What a metafile graphic keeps of its records, read through the stream.
//
// A record of up to MetafileRecordLimit bytes is kept whole. Of a longer one
// only what the player can draw from it is kept, and the rest is skipped by
// seeking:
// - kinds the player never draws (comments, escapes, kinds it does not
//   know, the end-of-file record, the enhanced header's description): their
//   first MetafileRecordLimit bytes;
// - kinds with counts (points, polygons, rectangles, colours, characters,
//   dash entries, scans): the bytes the counts name, or the first
//   MetafileRecordLimit bytes when they name more than the record holds,
//   which leaves it as malformed as it was;
// - bitmap records: their fields, MetafileRecordLimit bytes for the
//   bitmap's header and colours, and the pixel bytes the bitmap it declares
//   can take (none for a bitmap too large to be drawn). Parts of an
//   enhanced record that lie far apart are moved together; old-style
//   bitmaps lose the padding of rows wider than their pixels.
// A cut record gets its size, offsets and counts, and the header its
// totals, rewritten, so the kept bytes are a metafile of their own that the
// player draws as it would have drawn the whole one. Only bitmaps whose
// data run on past what their declared size can take, or whose header
// alone passes MetafileRecordLimit, lose what lies beyond.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Classes.h"

namespace tolvane {

inline constexpr uint64_t MetafileRecordLimit = uint64_t{1} << 16;

// Reads the rest of an enhanced metafile: data holds the header's first 88
// bytes, the stream stands behind them, and length is the metafile's size
// as the header gives it (no more than the stream holds). Reading ends
// after the end-of-file record, at a record head that gives no length, or
// at a record that runs past length. False when the stream ends inside the
// header record.
bool ReadEnhancedRecords(TStream& stream, std::vector<uint8_t>& data, uint64_t length);

// Reads the records of a Windows metafile whose 18-byte header is the last
// part of data (at headerAt); length is what belongs to the metafile,
// counted from data's first byte.
void ReadWindowsRecords(TStream& stream, std::vector<uint8_t>& data, size_t headerAt, uint64_t length);

}  // namespace tolvane
