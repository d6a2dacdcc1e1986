// The recycle bin: the freedesktop.org trash, written by us. A file is moved
// into the trash of its own file system (restorable by any desktop's trash
// view); a file that cannot be trashed is reported as not deleted and left
// where it is, never unlinked or copied elsewhere.
#pragma once

#include <ctime>
#include <string>

namespace tolvane {

class TRecycleBin {
public:
  virtual ~TRecycleBin() = default;
  // True when the file was moved to the trash.
  virtual bool MoveToRecycleBin(const std::string& path) = 0;
};

// Where one file goes: a trash directory (holding files/ and info/) and the
// base against which the original path is recorded ("" for an absolute path).
struct TTrashPlace {
  std::string TrashDir;
  std::string PathBase;
};

// The trash for a file: the home trash ($XDG_DATA_HOME/Trash, else
// ~/.local/share/Trash) when the file lies on the home trash's device;
// otherwise $topdir/.Trash/$uid when $topdir/.Trash is a sticky directory and
// not a link, else $topdir/.Trash-$uid, where $topdir is the top of the
// file's mount. Empty TrashDir when none can be determined.
TTrashPlace TrashPlaceFor(const std::string& path);

// Moves path into place: writes info/NAME.trashinfo (created exclusively,
// the name made unique) and renames the file to files/NAME. Creates the
// trash directories (0700) when missing. On failure removes its info file
// and returns false; the file stays where it was.
bool MoveToTrash(const std::string& path, const TTrashPlace& place, std::time_t deletionTime);

// The trash of the desktop: TrashPlaceFor, then MoveToTrash.
class TFreedesktopTrash : public TRecycleBin {
public:
  bool MoveToRecycleBin(const std::string& path) override;
};

// Percent-encodes a path for a .trashinfo file ("/" and unreserved bytes stay).
std::string TrashEncodePath(const std::string& path);

}  // namespace tolvane
