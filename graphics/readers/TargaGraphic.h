// The Targa reader and writer.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Truevision Targa ("tga", "vst", "vda", "icb", "win"): colour-mapped, true
// colour and grey images, raw or run-length coded, of 8, 15, 16, 24 and 32
// bits, with colour maps of 15-, 16-, 24- and 32-bit entries that may start
// at any first index, stored from the top or from the bottom, from the left
// or from the right. Pixels are copied or decoded straight into the
// bitmap (the file's blue-green-red order and 5-5-5 words are the bitmap's
// own); 16-bit grey (grey with alpha) loads as 8-bit grey. SaveStream writes
// the bitmap as a run-length coded Targa file.
class TTargaGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TTargaGraphic)
public:
  // A file that this class cannot read loads as an empty bitmap, without an
  // error; one shorter than its header raises EReadError.
  void LoadStream(TStream& stream) override;
  // WriteTarga with run-length coding.
  void SaveStream(TStream& stream) override;
  // More than 18 bytes left and a header of a kind this class reads; the
  // position is restored.
  static bool ProbeStream(TStream& stream);
  // The 18-byte header; always true.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
  // Writes the bitmap from the top row down: 1- to 8-bit bitmaps as 8-bit
  // colour-mapped images with a 256-entry 24-bit map, 5-5-5 ones as 16-bit,
  // 5-6-5 and 24-bit ones as 24-bit, 32-bit and device ones as 32-bit. An
  // empty bitmap writes nothing. A failed write raises EWriteError.
  void WriteTarga(TStream& stream, bool compressed);

  // The fields of the 18-byte header.
  struct TTargaHeader {
    uint8_t IdLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t ColorMapStart = 0;
    uint16_t ColorMapLength = 0;
    uint8_t ColorMapEntrySize = 0;
    uint16_t XOrigin = 0;
    uint16_t YOrigin = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PixelDepth = 0;
    uint8_t Descriptor = 0;
  };

private:
  TTargaHeader ReadHeader(TStream& stream);
  void ReadColorMap(TStream& stream, const TTargaHeader& header);
  void ReadRawRows(TStream& stream, const TTargaHeader& header);
  void ReadPackedRows(TStream& stream, const TTargaHeader& header);
  uint8_t* TargetRow(uint32_t fileRow, bool topDown);
  void FreeLoadState() override;

  std::vector<uint8_t> FInput;  // run-length data read ahead
  std::vector<uint8_t> FRow;    // one file row where it differs from the bitmap's
};

}  // namespace tolvane
