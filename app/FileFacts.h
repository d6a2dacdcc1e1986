// The texts that a preview shows about one file and its loaded picture:
// size, colour depth, format name and date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "picture/Graphics.h"

namespace tolvane {

// Size in bytes of the file at path, or -1 when there is no such file or it
// is a directory. Files of 2 GiB and more report their true size.
int64_t GetFileSizeOf(const std::string& path);
// "%d B" below 1,024 (negative sizes too), then "%1.2f" kB, MB or GB with
// the user's decimal separator.
std::string FormatFileSize(int64_t size);
// "24 bpp", "8 bpp"... for a JPEG graphic (its output depth) or a bitmap
// (its pixel layout; "?" for device and custom layouts); empty otherwise.
std::string ColorDepthText(const TPicture& picture);
// The name of the graphic's format; "?" for a class without a name and for
// no graphic.
std::string FormatNameText(const TGraphic* graphic);
// The format name of the class of that name by its own row (ancestors not
// asked), or null when the table has no row for it.
const char* FormatNameOfClass(std::string_view className);
// The local date of the file's last change as "dd.mm.yyyy". Raises
// EConvertError "Invalid argument to date encode" for a path that names no
// file or names a directory.
std::string FileDateText(const std::string& path);

}  // namespace tolvane
