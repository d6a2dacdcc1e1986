// TXBMImage: X Bitmap files, monochrome pictures kept as C source text (a
// width line, a height line and an array of hexadecimal bytes). The picture
// is an ordinary 1-bit bitmap, so drawing, sizing and copying are the
// bitmap's own; only named files are read and written.
#pragma once

#include <string>

#include "picture/Graphics.h"

namespace tolvane {

class TXBMImage : public TBitmap {
  TOLVANE_CLASS(TXBMImage)
public:
  TXBMImage();

  // Reads an X Bitmap. A file that does not start with the width and height
  // lines, or whose size is negative or too large, raises Exception "Not a
  // valid XBM file"; a width or height of 0 raises EInvalidGraphic "Scan line
  // index out of range"; a number that is not one, EConvertError.
  void LoadFile(const std::string& fileName) override;
  // Writes the picture as 1 bit, dark pixels as set bits, lines ending in CR LF.
  void SaveFile(const std::string& fileName) override;
  // Only named files: raise Exception "Not supported!".
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
};

// The 8 bits of a byte in reverse order.
uint8_t ReverseBits(uint8_t value);

// Registers "xbm" with the picture registry / removes the class again.
void InitializeXBMImageUnit();
void FinalizeXBMImageUnit();

}  // namespace tolvane
