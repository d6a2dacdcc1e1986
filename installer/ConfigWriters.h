// The configuration writers of setup: each adds a command that starts the
// finder on the file manager's current directory to one file manager's
// configuration file, after copying that file to a backup. No Qt here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// Copies path to path + ".bkp", replacing an older backup. False when path
// is missing or unreadable or the backup cannot be written.
bool Backup(const std::string& path);

// Each patches the configuration file in the directory of the given program
// file (and nowhere else) so that it starts programPath, a path as the file
// manager names it. False when the backup, the reading of the button count
// or any write fails. A button count that is no decimal integer (or too
// large to count on) raises std::invalid_argument with
// "'<value>' is not a valid integer value", before anything is written.
bool InstallTotal(const std::string& executable, const std::string& programPath);
bool InstallUnreal(const std::string& executable, const std::string& programPath);
bool InstallFree(const std::string& executable, const std::string& programPath);

// The configuration file name in the directory of executable: the entry
// that equals name without regard to case (the file managers are Windows
// programs), else name itself.
std::string ConfigFileBeside(const std::string& executable, std::string_view name);

// A button count plus one; raises std::invalid_argument as above.
int32_t NextButtonNumber(std::string_view count);

}  // namespace tolvane
