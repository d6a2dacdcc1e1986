// The AIC encoder: turns a bitmap into the 10-byte header and the coded
// stream, block by block. The planes end up holding the decoder's exact
// reconstruction, which is what later blocks are predicted from.
#pragma once

#include <memory>

#include "AICBase.h"
#include "AICCabacEncoder.h"
#include "picture/Graphics.h"

namespace tolvane {

class TAICEncoder : public TAICBase {
  TOLVANE_CLASS(TAICEncoder)
public:
  // Encodes bitmap into stream at quality; the coded stream is complete
  // when the encoder is destroyed (or FinishStream has run). A picture
  // wider or higher than 65535 pixels, or quality 0, raises EAICError
  // before anything is written.
  TAICEncoder(TBitmap& bitmap, TStream& stream, uint8_t quality);
  ~TAICEncoder() override;

  // Constructs an encoder, which does the whole job, and frees it.
  static void Encode(TBitmap& bitmap, TStream& stream, uint8_t quality);

  // Ends the coded stream (the arithmetic coder's tail), reporting write errors.
  void FinishStream();

  void SetQuantiser(int32_t scale) override;
  // Repeats the last column and the last row into the padding.
  void PadPlanes();
  void WriteHeader();
  void EncodePlanes();

  TAICQuantTable Quant{};
  std::unique_ptr<TAICCabacEncoder> Encoder;

private:
  void TakeSource(TBitmap& bitmap, uint8_t quality);
  TAICPredictionMode ChooseMode(int32_t x, int32_t y) const;
  void EncodeBlockAt(int channel, int32_t x, int32_t y);
};

}  // namespace tolvane
