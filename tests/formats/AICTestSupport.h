// Pictures made by ImageMagick for the codec tests.
#pragma once

#include <memory>
#include <string>

#include "picture/Graphics.h"
#include "support/TempDir.h"

namespace tolvane::testing {

using TScratchDir = test::TTempDir;

bool HaveImageMagick();

// The picture that ImageMagick's convert makes from args, as a pl24Bit
// bitmap, or with grey as a pl8Bit bitmap with the grey ramp as palette.
std::unique_ptr<TBitmap> MagickPicture(const std::string& args, bool grey, const TScratchDir& dir);

// Peak signal-to-noise ratio in dB of two bitmaps of one size and layout.
double Psnr(const TBitmap& a, const TBitmap& b);

}  // namespace tolvane::testing
