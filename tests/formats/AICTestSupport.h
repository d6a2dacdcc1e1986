// Pictures made by ImageMagick for the codec tests, and a scratch directory.
#pragma once

#include <memory>
#include <string>

#include "picture/Graphics.h"

namespace tolvane::testing {

// A directory of its own under the system's temporary directory, removed
// with the object.
class TScratchDir {
public:
  TScratchDir();
  ~TScratchDir();
  std::string Path(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

bool HaveImageMagick();

// The picture that ImageMagick's convert makes from args, as a pl24Bit
// bitmap, or with grey as a pl8Bit bitmap with the grey ramp as palette.
std::unique_ptr<TBitmap> MagickPicture(const std::string& args, bool grey, const TScratchDir& dir);

// Peak signal-to-noise ratio in dB of two bitmaps of one size and layout.
double Psnr(const TBitmap& a, const TBitmap& b);

}  // namespace tolvane::testing
