// Start-up and shutdown of every graphic unit, in one place: the order of
// registration decides which class serves an extension that two units
// register ("cur", "ani"), so nothing registers itself from a static
// initialiser.
#pragma once

namespace tolvane {

// Registers every graphic class with the picture registry, in unit order:
// the JPEG graphic, the image-format library, the codec framework and the
// additional formats. Runs once; later calls do nothing.
void InitializeGraphicUnits();
// Unregisters them again, in the reverse order. Runs once after Initialize.
void FinalizeGraphicUnits();

}  // namespace tolvane
