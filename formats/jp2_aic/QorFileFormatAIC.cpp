#include "QorFileFormatAIC.h"

#include "AICDecoder.h"
#include "AICEncoder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TQorAICFileFormat, TQorBitmapFileFormat)

void TQorAICFileFormat::LoadStream(TStream& stream) {
  TQorBitmapFileFormat::LoadStream(stream);
  TAICDecoder::Decode(stream, *Bitmap);
}

void TQorAICFileFormat::SaveStream(TStream& stream) {
  TQorBitmapFileFormat::SaveStream(stream);
  TAICEncoder::Encode(*Bitmap, stream, Quality);
}

void InitializeQorFileFormatAICUnit() {
  BitmapFileFormatList().Add("Advanced Image Coding", ".aic", "AIC", 0, 1, &TQorAICFileFormat::StaticClass());
}

}  // namespace tolvane
