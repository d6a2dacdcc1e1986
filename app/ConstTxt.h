// Every message text of ravelk, in English. A text is shown through
// LoadResString, which looks up the current language each time it is called,
// so a message appears in the language chosen when it is shown.
#pragma once

#include <string>

namespace tolvane {

// The current translation of an English message text.
std::string LoadResString(const char* english);

namespace ConstTxt {
// The search.
inline constexpr const char* SConfirmScan =
    "Tolvane will now scan directory:\r\n\r\n%s\r\n\r\n"
    "in order to find all duplicates. It can take from one second to few hours depending\r\n"
    "on the number of image files in this directory. Please be patient.\r\n"
    "Press OK to start scanning.";
inline constexpr const char* SNoImageFiles = "No image files found in the specified directory!";
inline constexpr const char* SFileName = "filename";
inline constexpr const char* STotalTime = "Total time: %8.2n sec";
inline constexpr const char* SNoClock = "System clock not found";
// The previews and deletion.
inline constexpr const char* SNoDuplicates = "No duplicates";
inline constexpr const char* SDimensions = "%dx%dpx (%f Mp)";
inline constexpr const char* SConfirmDelete = "Are you sure to move the \"%s\" into Recycled Bin?";
inline constexpr const char* SCannotDelete = "Could not delete file \"%s\"!";
// The menu's commands.
inline constexpr const char* SNoHelpFile = "Could not find help.chm. File could be deleted, moved or renamed.";
inline constexpr const char* SNoSetup = "Could not find setup. File could be deleted, moved or renamed.";
inline constexpr const char* SListFilter = "Duplicates list (.KVL)|*.kvl";
}  // namespace ConstTxt

}  // namespace tolvane
