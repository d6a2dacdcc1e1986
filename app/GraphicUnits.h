// Start-up and shutdown of every graphic unit, in one place: the order of
// registration decides which class serves an extension that two units
// register ("cur", "ani"), so nothing registers itself from a static
// initialiser.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

// Registers every graphic class with the picture registry, in unit order:
// the JPEG graphic, the image-format library, the codec framework and the
// additional formats. Runs once; later calls do nothing.
void InitializeGraphicUnits();
// Unregisters them again, in the reverse order. Runs once after Initialize.
void FinalizeGraphicUnits();

// Does, on the calling thread, what drawing files on other threads must not
// do lazily there: for metafiles, making the GUI application that their
// text needs (only where a program keeps a TMetafileTextSupport). Call it
// on the main thread before worker threads draw any of files.
void PrepareGraphicUnitsForThreads(const std::vector<std::string>& files);

}  // namespace tolvane
