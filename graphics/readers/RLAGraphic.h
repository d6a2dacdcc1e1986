// The Alias/Wavefront RLA reader.
#pragma once

#include <cstdint>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Alias/Wavefront RLA pictures ("rla", "rpf"): a 740-byte big-endian header,
// a table of row offsets and run-length coded red, green, blue and matte
// channel rows of 8 bits. "xyz" pictures load as an empty graphic. Loading
// only.
class TRLAGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TRLAGraphic)
public:
  static constexpr size_t HeaderSize = 740;

  void LoadStream(TStream& stream) override;
  // More than 740 bytes left, revision 0xFFFE and the colour space "rgb" or
  // "xyz" (any case); the position is restored.
  static bool ProbeStream(TStream& stream);
  // False for "xyz" pictures; a short header raises EReadError. Gamma is
  // the reciprocal of the header's gamma field, 1.0 when it holds no number.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
  // Turns the numbers of a stored header into host order in place.
  static void SwapHeader(uint8_t* header);

private:
  void ReadChannel(TStream& stream, std::vector<uint8_t>& channel);
  void FreeLoadState() override;

  std::vector<uint8_t> FPacked;  // one channel's packed bytes, during a load
  float FDisplayGamma = 0;       // the header's gamma field; 0 when it gives none
};

}  // namespace tolvane
