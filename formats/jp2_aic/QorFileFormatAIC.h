// The AIC codec of the codec registry: ".aic" files and streams that begin
// with "AIC".
#pragma once

#include "QorGraphics.h"

namespace tolvane {

class TQorAICFileFormat : public TQorBitmapFileFormat {
  TOLVANE_CLASS(TQorAICFileFormat)
public:
  TQorAICFileFormat() = default;
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
};

// Registers the codec for ".aic".
void InitializeQorFileFormatAICUnit();

}  // namespace tolvane
