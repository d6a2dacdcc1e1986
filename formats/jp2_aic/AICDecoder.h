// The AIC decoder: reads the header and the coded stream and fills a
// bitmap with the picture, pl24Bit for colour files and pl8Bit with a grey
// palette for grey ones.
#pragma once

#include <memory>

#include "AICBase.h"
#include "AICCabacDecoder.h"
#include "picture/Graphics.h"

namespace tolvane {

class TAICDecoder : public TAICBase {
  TOLVANE_CLASS(TAICDecoder)
public:
  // Decodes the AIC data at the stream's position into bitmap.
  TAICDecoder(TStream& stream, TBitmap& bitmap);
  ~TAICDecoder() override;

  // Constructs a decoder, which does the whole job, and frees it.
  static void Decode(TStream& stream, TBitmap& bitmap);

  void ReadHeader();
  void DecodePlanes();

  std::unique_ptr<TAICCabacDecoder> Decoder;

private:
  void DecodeBlockAt(int channel, int32_t x, int32_t y);
  void WriteBitmap(TBitmap& bitmap) const;
};

}  // namespace tolvane
