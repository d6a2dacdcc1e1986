// Pictures for the finder's tests (temporary directories and files come
// from tests/support).
#pragma once

#include <string>

#include "picture/Graphics.h"
#include "support/TempDir.h"

namespace tolvane::test {

// A white 32 x 16 24-bit BMP with the rectangle dark painted black.
inline void WriteBmp(const std::string& path, const TRect& dark) {
  TBitmap b;
  b.SetPixelLayout(pl24Bit);
  b.ResizeWidth(32);
  b.ResizeHeight(16);
  b.FillRect(dark, clBlack);
  WriteFile(path, "");
  b.SaveFile(path);
}

}  // namespace tolvane::test
