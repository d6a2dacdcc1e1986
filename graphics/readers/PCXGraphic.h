// The ZSoft Paintbrush reader.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Paintbrush images and screen captures ("pcx", "pcc", "scr"): 1, 2, 4 or
// 8 bits in one plane, three or four 1-bit planes (8 or 16 colours), or
// three 8-bit planes (true colour); run-length coded or raw. A file whose
// first byte is neither 10 nor 205 loads as an empty image.
class TPCXGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPCXGraphic)
public:
  void LoadStream(TStream& stream) override;
  // More than 128 bytes left and a header with manufacturer 10 or 12,
  // version 0, 2, 3 or 5 and encoding 0 or 1; the position is restored.
  static bool ProbeStream(TStream& stream);
  // The 128-byte header; false unless its first byte is 10 or 205.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

private:
  // How the planes of a line become a bitmap row.
  enum class TRowKind { Indexed, Planes1Bit, RGB };

  TRowKind CheckLayout(TPixelLayout& layout) const;
  void SetUpColors(TRowKind kind);
  void AssignPcxPalette(TStream& stream, TPixelLayout layout, uint64_t& dataSize);
  void ReadRawLines(TStream& stream, uint64_t dataSize, TRowKind kind);
  void ReadRLELines(TStream& stream, uint64_t dataSize, TRowKind kind);
  void TransferLine(const uint8_t* line, int32_t y, TRowKind kind);
  void FreeLoadState() override;

  uint8_t FVersion = 0;
  uint8_t FPlanes = 0;
  uint16_t FBytesPerLine = 0;
  uint16_t FPaletteInfo = 0;
  bool FBoundsValid = false;
  uint8_t FHeaderPalette[48] = {};
  std::vector<uint8_t> FPixels;  // one decoded or raw line
};

}  // namespace tolvane
