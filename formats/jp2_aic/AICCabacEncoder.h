// The AIC arithmetic encoder: the engine, the binarisation of prediction
// modes and of 8x8 coefficient blocks, and the stream's tail.
#pragma once

#include <array>
#include <cstdint>

#include "AICCabac.h"

namespace tolvane {

class TAICCabacEncoder : public TAICCabac {
  TOLVANE_CLASS(TAICCabacEncoder)
public:
  // Starts the engine; nothing is written before the first byte is full.
  TAICCabacEncoder(uint8_t quality, TStream& stream);
  // Flushes when Flush has not run; a failure to write is lost here, so the
  // owner flushes explicitly on its success path.
  ~TAICCabacEncoder() override;

  void EncodeDecision(int bin, TAICContext& context);
  void EncodeBypass(int bin);
  // -1 for the predicted mode, otherwise the remainder 0..7.
  void EncodeMode(int m);
  // The 64 quantised coefficients of a block of channel 0..2, raster order.
  void EncodeBlock(int channel, const std::array<int32_t, 64>& coefficients);
  // Ends the stream on a byte boundary and writes the buffered bytes.
  void Flush();

  int32_t Outstanding = 0;

private:
  void Renormalise();
  void PutBit(int bit);
  void WriteBit(int bit);
  void StoreByte(uint8_t byte);
  void EncodeLevelRemainder(uint32_t v, TAICContext& context);
  void EncodeExpGolomb(uint32_t v);

  bool FFlushed = false;
};

}  // namespace tolvane
