// The JPEG 2000 codec of the codec registry: ".jp2" and ".jpc" files, and
// streams whose signature box type is "jP  ". Until the codec is built it
// refuses every load and save with the framework's error, so that callers
// treat such files as unreadable.
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

// Registers the codec for ".jp2", then ".jpc".
void InitializeQorFileFormatJP2Unit();

}  // namespace tolvane
