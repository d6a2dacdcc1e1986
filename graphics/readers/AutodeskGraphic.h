// The Autodesk Animator cel reader.
#pragma once

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Autodesk Animator cels ("cel", "pic"): a 32-byte header, a palette of
// 6-bit colour values and raw 8-bit rows. Loading only.
class TAutodeskGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TAutodeskGraphic)
public:
  void LoadStream(TStream& stream) override;
  // More than 32 bytes left, the magic 0x9119, byte 10 = 8 and byte 11 = 0;
  // the position is restored.
  static bool ProbeStream(TStream& stream);
  // True when the magic is there.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
};

}  // namespace tolvane
