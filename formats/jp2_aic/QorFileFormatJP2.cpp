#include "QorFileFormatJP2.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TQorJP2FileFormat, TQorBitmapFileFormat)

void TQorJP2FileFormat::LoadStream(TStream& stream) {
  TQorBitmapFileFormat::LoadStream(stream);
  RaiseError("Unable to decode image");
}

void TQorJP2FileFormat::SaveStream(TStream& stream) {
  TQorBitmapFileFormat::SaveStream(stream);
  RaiseError("Unable to encode image");
}

void InitializeQorFileFormatJP2Unit() {
  // Bytes 4..7 of a JP2 file are the type of its signature box; a raw code
  // stream has none, so ".jpc" files are found by extension only.
  BitmapFileFormatList().Add("JPEG 2000", ".jp2", "jP  ", 4, 1, &TQorJP2FileFormat::StaticClass());
  BitmapFileFormatList().Add("JPEG 2000", ".jpc", "jP  ", 4, 1, &TQorJP2FileFormat::StaticClass());
}

}  // namespace tolvane
