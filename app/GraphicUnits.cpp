#include "GraphicUnits.h"

#include "picture/Jpeg.h"

namespace tolvane {

namespace {
bool Initialized = false;
}

void InitializeGraphicUnits() {
  if (Initialized) return;
  Initialized = true;
  InitializeJpegUnit();
}

void FinalizeGraphicUnits() {
  if (!Initialized) return;
  Initialized = false;
  FinalizeJpegUnit();
}

}  // namespace tolvane
