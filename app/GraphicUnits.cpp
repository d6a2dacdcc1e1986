#include "GraphicUnits.h"

#include "formats/jp2_aic/QorImage.h"
#include "graphics/GraphicFormats.h"
#include "picture/Jpeg.h"

namespace tolvane {

namespace {
bool Initialized = false;
}

void InitializeGraphicUnits() {
  if (Initialized) return;
  Initialized = true;
  InitializeJpegUnit();
  RegisterAllFormats();
  InitializeCodecUnits();
}

void FinalizeGraphicUnits() {
  if (!Initialized) return;
  Initialized = false;
  FinalizeCodecUnits();
  UnregisterAllFormats();
  FinalizeJpegUnit();
}

}  // namespace tolvane
