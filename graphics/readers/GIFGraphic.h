// The GIF reader.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Graphics Interchange Format ("gif", 87a and 89a): the first image of the
// file, with its global or local colour table, interlaced or not, into an
// 8-bit palette bitmap. Extensions are passed over and later images
// ignored; there is no transparency. Loading only; SaveStream writes the
// bitmap as BMP.
class TGIFGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TGIFGraphic)
public:
  void LoadStream(TStream& stream) override;
  // More than 22 bytes left and "GIF" (any case) first; the position is
  // restored.
  static bool ProbeStream(TStream& stream);
  // The header, the logical screen and the first image descriptor. Also
  // true for a file whose trailer comes before any image (Width and Height
  // stay 0).
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
  // Passes over extensions and stray bytes from SourceStream's position up
  // to an image separator or the trailer, and returns that byte (',' or
  // ';'). A file that ends first raises EReadError.
  uint8_t SkipExtensions();

private:
  void ReadColorTable(TStream& stream, uint8_t flags);
  void ReadImageData(TStream& stream);
  void TransferRows();
  void FreeLoadState() override;

  uint8_t FFirstBlock = 0;        // ',' or ';': what ReadImageInfo found behind the extensions
  int64_t FAfterExtensions = 0;   // and where that byte ends
  std::vector<uint8_t> FPacked;   // the image's LZW data, sub-blocks joined
  std::vector<uint8_t> FIndices;  // decoded colour indices, Width x Height
};

}  // namespace tolvane
