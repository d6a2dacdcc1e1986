// The TIFF reader.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

class TDecoder;

// Tagged Image File Format ("tiff", "tif", "fax"): the first image of the
// file, in either byte order, stored in strips (interleaved or as separate
// planes), uncompressed or compressed with PackBits, LZW, modified Huffman
// (byte- or word-aligned), one-dimensional group 3, deflate, JPEG (grey,
// RGB, YCbCr and CMYK strips) or ThunderScan, with the horizontal
// predictor; bilevel, grey, palette, RGB(A), CMYK, CIE L*a*b* and YCbCr.
// Tiled images, two-dimensional fax and old-style JPEG are refused as not
// supported. SaveStream writes nothing.
class TTIFFGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TTIFFGraphic)
public:
  TTIFFGraphic();
  ~TTIFFGraphic() override;

  void LoadStream(TStream& stream) override;
  // Writing TIFF is not offered: the stream receives nothing.
  void SaveStream(TStream& stream) override;
  // More than 8 bytes left, "II" or "MM", version 42 and a first directory
  // inside the stream; the position is restored.
  static bool ProbeStream(TStream& stream);
  // Header and directory imageIndex (0 = the first).
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

  // One directory entry in host order. For values inside the entry, element
  // i lies at bit 8 x size x i of Offset, whatever the file's byte order.
  struct TTIFFEntry {
    uint16_t Tag = 0;
    uint16_t DataType = 0;
    uint32_t DataLength = 0;  // value count
    uint32_t Offset = 0;      // the values, or their offset
  };

  // The entries of the directory read last, sorted by tag (stable: the
  // first of duplicate tags is found).
  std::vector<TTIFFEntry> DirectoryEntries;
  std::vector<float> YCbCrCoefficients;

  // Directory readers.
  const TTIFFEntry* FindTag(uint16_t tag) const;
  uint32_t TagInteger(uint16_t tag, uint32_t defaultValue) const;
  // Absent, not a single number, or a rational with denominator 0: the
  // default.
  float TagFloat(TStream& stream, uint16_t tag, float defaultValue);
  // count elements from the entry or its offset; absent: empty. At most
  // maxCount elements are read; an array that runs past the end of the
  // stream raises the format message.
  std::vector<uint32_t> ReadTagCardinals(TStream& stream, uint16_t tag, uint32_t maxCount = 0xFFFFFFFF);
  std::vector<uint8_t> ReadTagBytes(TStream& stream, uint16_t tag, uint32_t maxCount = 0xFFFFFFFF);
  std::vector<float> ReadTagFloats(TStream& stream, uint16_t tag, uint32_t maxCount = 0xFFFFFFFF);

private:
  struct TLoadState;
  struct TStripPlane;

  bool BigEndian() const { return (ImageProperties.Options & optBigEndian) != 0; }
  bool ReadDirectory(TStream& stream, uint32_t imageIndex);
  bool ReadFields(TStream& stream);
  bool SchemeIsUsable() const;
  std::vector<uint8_t> TagData(TStream& stream, const TTIFFEntry& entry, uint32_t count, uint32_t size);
  std::vector<uint32_t> TagValues(TStream& stream, uint16_t tag, uint32_t maxCount, bool fractions,
                                  std::vector<float>* floats);

  void CheckSupported() const;
  void SetUpColors();
  void ReadStripTables(TStream& stream);
  void SizeBitmap(TStream& stream);
  void ChooseDirectRows();
  void ReadColorMap(TStream& stream);
  std::unique_ptr<TDecoder> CreateDecoder() const;
  void ReadStrips(TStream& stream);
  void ReadRowsInPlace(TStream& stream);
  int64_t RowPosition(uint32_t strip, uint32_t r) const;
  uint32_t StripRows(uint32_t strip, uint32_t firstRow) const;
  uint64_t StripLength(size_t index, uint32_t rows, int64_t start) const;
  uint64_t ReadAhead(uint32_t plane, uint32_t nextStrip, uint32_t nextRow, int64_t end, uint64_t bytes) const;
  void StartStrip(TStream& stream, uint32_t plane, uint32_t strip, uint32_t rows, TStripPlane& sp);
  void DecodeStrip(std::span<const uint8_t> data, std::span<uint8_t> rows);
  void DecodeRowInPlace(std::span<const uint8_t> data, TStripPlane& sp);
  void DecodeIntoBitmap(std::span<const uint8_t> data, uint32_t rows, TStripPlane& sp);
  uint8_t* PlaneRow(TStream& stream, uint32_t plane, TStripPlane& sp, uint32_t r, uint32_t rows);
  uint8_t* FileRow(TStream& stream, uint32_t plane, TStripPlane& sp, uint32_t r, uint32_t rows);
  void TransferRows(TStream& stream, uint32_t rows);
  void ConvertStripRow(TStream& stream, uint32_t r, uint32_t rows);
  void FreeLoadState() override;

  std::unique_ptr<TLoadState> FLoad;
};

}  // namespace tolvane

#define TOLVANE_TIFF_GRAPHIC_COMPLETE
#include "graphics/readers/EPSGraphic.h"
