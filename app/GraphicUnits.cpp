#include "GraphicUnits.h"

#include "formats/jp2_aic/QorImage.h"
#include "picture/Jpeg.h"

namespace tolvane {

namespace {
bool Initialized = false;
}

void InitializeGraphicUnits() {
  if (Initialized) return;
  Initialized = true;
  InitializeJpegUnit();
  InitializeCodecUnits();
}

void FinalizeGraphicUnits() {
  if (!Initialized) return;
  Initialized = false;
  FinalizeCodecUnits();
  FinalizeJpegUnit();
}

}  // namespace tolvane
