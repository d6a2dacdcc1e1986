// The AIC arithmetic decoder. Stream bytes are hostile: a stream that ends
// before the picture does, a start that no encoder writes, or a level code
// longer than any coefficient raise EAICError instead of decoding on.
#pragma once

#include <array>
#include <cstdint>

#include "AICCabac.h"

namespace tolvane {

class TAICCabacDecoder : public TAICCabac {
  TOLVANE_CLASS(TAICCabacDecoder)
public:
  // Starts the engine, which reads the first nine bits of the stream.
  TAICCabacDecoder(uint8_t quality, TStream& stream);

  int DecodeDecision(TAICContext& context);
  int DecodeBypass();
  // -1 for the predicted mode, otherwise the remainder 0..7.
  int DecodeMode();
  // The 64 coefficients of a block of channel 0..2, raster order.
  void DecodeBlock(int channel, std::array<int32_t, 64>& coefficients);

  int32_t Value = 0;

private:
  int NextBit();
  uint8_t NextByte();
  int64_t DecodeLevelRemainder(TAICContext& context);
  int64_t DecodeExpGolomb();

  int32_t FBufferEnd = 0;  // bytes of Buffer that the last read delivered
};

}  // namespace tolvane
