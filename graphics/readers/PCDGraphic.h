// The Photo CD reader.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Photo CD image packs ("pcd"): always the Base resolution, 768 x 512 (512 x
// 768 when the pack says the picture is turned a quarter), from the
// uncompressed Photo YCC planes, converted to 24-bit pixels. Overview packs
// are read from their fifth sector with the same geometry. A file without
// either signature loads as an empty image.
class TPCDGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPCDGraphic)
public:
  void LoadStream(TStream& stream) override;
  // More than 6144 bytes left and "PCD_OPA" at 0 or "PCD" at 2048; the
  // position is restored.
  static bool ProbeStream(TStream& stream);
  // The first three sectors; the size is that of resolution imageIndex
  // (0 to 5, larger indices mean 5), overview packs at index 0.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

private:
  void ReadPlanes(TStream& stream);
  void TransferRows();
  void FreeLoadState() override;

  std::vector<uint8_t> FLuma, FChroma1, FChroma2;  // Base-sized planes
  std::vector<uint8_t> FLine;                      // one converted row of a turned picture
};

}  // namespace tolvane
