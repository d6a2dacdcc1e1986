// The Dr. Halo CUT reader.
#pragma once

#include <string>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Dr. Halo CUT pictures ("cut"): 8-bit run-length coded rows whose colours
// live in a companion palette file beside the picture ("name.pal", else
// "name.PAL"); without one the picture is grey. The format has no
// signature, so the class never claims a stream by probing it. Loading only.
class TCUTGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TCUTGraphic)
public:
  // Remembers the companion palette's name, then loads the file.
  void LoadFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  // Always false: nothing in a CUT file identifies it.
  static bool ProbeStream(TStream& stream);
  // Width and height; always true.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
  // The palette from PaletteFileName, or 256 greys when there is no such file.
  void LoadPalette();

  // The companion palette file; empty for a graphic not loaded from a file.
  std::string PaletteFileName;
};

}  // namespace tolvane
