// Paths between this system and the Windows programs that run under Wine.
// Wine shows the file system's root as drive Z: and keeps its other drives
// as links in the prefix's "dosdevices" directory ("c:" -> "../drive_c").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// The environment variables that decide where Wine keeps its prefix.
struct TWineEnvironment {
  std::string WinePrefix;  // $WINEPREFIX, empty when unset
  std::string Home;        // $HOME, else the user's home from the password database

  static TWineEnvironment FromProcess();
};

// $WINEPREFIX, else ~/.wine; empty when neither is known.
std::string WinePrefixDirectory(const TWineEnvironment& env);

// The prefix's drive_c, where the Windows programs are installed; empty
// when the prefix has none.
std::string WineDriveCDirectory(const TWineEnvironment& env);

// Whether path starts with a drive letter and a colon ("C:", "z:\dir").
bool HasDriveLetter(std::string_view path);

// A Windows path as the file system knows it: "Z:" is "/", any other drive
// is resolved through the prefix's dosdevices link; backslashes become
// slashes, a trailing separator stays. Wine finds names without regard to
// case, so each existing component is matched the same way. A path without
// a drive letter comes back unchanged.
std::string WinePathToUnix(std::string_view path, const TWineEnvironment& env);

// An absolute path as a Windows program under Wine names it: "Z:" followed
// by the path with backslashes.
std::string UnixPathToWine(std::string_view path);

// The name of the entry of directory dir that equals name, exactly if there
// is one, else without regard to ASCII case (the first in byte order).
std::optional<std::string> FindNameNoCase(const std::string& dir, std::string_view name);

}  // namespace tolvane
