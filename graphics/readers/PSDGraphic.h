// The Photoshop reader.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Photoshop images ("psd", "pdd"): the merged composite that follows the
// layers, stored raw or PackBits-coded, one channel after another. Bitmap,
// grey, duotone and indexed images load into 1- or 8-bit bitmaps, RGB,
// multichannel, CMYK and L*a*b* images into 24-bit ones (32-bit with alpha
// for RGB with four or more channels). 16-bit samples are reduced to 8 bits.
// Layers, masks and image resources are skipped. Loading only.
class TPSDGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPSDGraphic)
public:
  TPSDGraphic();
  ~TPSDGraphic() override;

  void LoadStream(TStream& stream) override;
  // More than 26 bytes left, "8BPS" in any letter case, version 1; the
  // position is restored.
  static bool ProbeStream(TStream& stream);
  // The header and the three sections up to the compression code. False
  // for anything but "8BPS", for the large-document version 2 and for
  // compression codes other than raw (0) and PackBits (1).
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

private:
  // The channel planes that make up the pixels (the rest are passed over).
  uint32_t PlanesInUse() const;
  void CheckImage() const;
  void SetUpColors();
  void ReadColorModeData(TStream& stream);
  void SkipSection(TStream& stream);
  void ReadRowCounts(TStream& stream, uint32_t planes);
  std::vector<int64_t> PlaneStarts(uint32_t planes) const;
  void ReadRows(TStream& stream, uint32_t planes);
  void FreeLoadState() override;

  uint32_t FRowBytes = 0;               // bytes of one stored row of one channel
  HPALETTE FPalette;                    // the palette the bitmap gets
  std::vector<uint16_t> FRowCounts;     // PackBits: packed bytes of each row of the planes in use
  int64_t FDataStart = 0;               // where the first channel's image data begin
};

}  // namespace tolvane
