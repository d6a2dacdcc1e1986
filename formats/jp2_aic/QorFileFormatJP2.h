// The JPEG 2000 codec of the codec registry: ".jp2" and ".jpc" files, and
// streams whose signature box type is "jP  ". It reads JP2 files and raw
// code streams (told apart by content) into 8-bit grey or 24-bit bitmaps and
// always writes JP2 files.
#pragma once

#include "QorGraphics.h"

namespace tolvane {

class TQorJP2FileFormat : public TQorBitmapFileFormat {
  TOLVANE_CLASS(TQorJP2FileFormat)
public:
  TQorJP2FileFormat() = default;
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
};

namespace JP2Const {
inline constexpr const char* SUnableToDecode = "Unable to decode image";
inline constexpr const char* SUnableToEncode = "Unable to encode image";
inline constexpr const char* SUnableToCreate = "Unable to create image";
inline constexpr const char* SColorSpaces = "Only RGB and grayscale output color spaces supported";
}  // namespace JP2Const

// The number of wavelet resolutions written for a width x height picture:
// six, or fewer when the smaller side cannot be halved that often.
uint32_t JP2ResolutionCount(int32_t width, int32_t height);

// Registers the codec for ".jp2", then ".jpc".
void InitializeQorFileFormatJP2Unit();

}  // namespace tolvane
