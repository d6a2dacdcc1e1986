// Every message text of ravelk, in English. A text is shown through
// LoadResString, which looks up the current language each time it is called,
// so a message appears in the language chosen when it is shown.
#pragma once

#include <string>

#include "app/DuplicateSearch.h"

namespace tolvane {

// The current translation of an English message text.
std::string LoadResString(const char* english);

namespace ConstTxt {
// The search (its texts are the finder's own).
inline constexpr const char* SConfirmScan = FinderConst::SConfirmScan;
inline constexpr const char* SNoImageFiles = FinderConst::SNoImageFiles;
inline constexpr const char* SFileName = FinderConst::SFileName;
inline constexpr const char* STotalTime = FinderConst::STotalTime;
inline constexpr const char* SNoClock = FinderConst::SNoClock;
// The previews and deletion.
inline constexpr const char* SNoDuplicates = FinderConst::SNoDuplicates;
inline constexpr const char* SDimensions = "%dx%dpx (%f Mp)";
inline constexpr const char* SConfirmDelete = "Are you sure to move the \"%s\" into Recycled Bin?";
inline constexpr const char* SCannotDelete = "Could not delete file \"%s\"!";
// The menu's commands.
inline constexpr const char* SNoHelpFile = "Could not find help.chm. File could be deleted, moved or renamed.";
inline constexpr const char* SNoSetup = "Could not find setup. File could be deleted, moved or renamed.";
inline constexpr const char* SListFilter = "Duplicates list (.KVL)|*.kvl";
}  // namespace ConstTxt

}  // namespace tolvane
