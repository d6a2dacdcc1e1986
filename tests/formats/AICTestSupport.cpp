#include "AICTestSupport.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include <unistd.h>

#include "formats/jp2_aic/QorGraphics.h"

namespace tolvane::testing {

bool HaveImageMagick() { return std::system("convert -version >/dev/null 2>&1") == 0; }

std::unique_ptr<TBitmap> MagickPicture(const std::string& args, bool grey, const TScratchDir& dir) {
  const std::string file = dir / "picture.bmp";
  const std::string command = "convert " + args + (grey ? " -colorspace gray" : "") + " -type TrueColor BMP3:" + file;
  if (std::system(command.c_str()) != 0) throw Exception("convert failed: " + command);
  auto bitmap = std::make_unique<TBitmap>();
  TFileStream in(file, fmOpenRead);
  bitmap->LoadStream(in);
  if (!grey) return bitmap;
  auto greyBitmap = std::make_unique<TBitmap>();
  greyBitmap->SetPixelLayout(pl8Bit);
  greyBitmap->AssignPalette(TQorBitmapFileFormat::CreateGrayPalette());
  greyBitmap->ResizeWidth(bitmap->ImageWidth());
  greyBitmap->ResizeHeight(bitmap->ImageHeight());
  for (int y = 0; y < bitmap->ImageHeight(); ++y)
    for (int x = 0; x < bitmap->ImageWidth(); ++x) greyBitmap->RowPointer(y)[x] = bitmap->ConstRowPointer(y)[3 * x + 1];
  return greyBitmap;
}

double Psnr(const TBitmap& a, const TBitmap& b) {
  const int bytes = a.PixelLayoutOf() == pl8Bit ? 1 : 3;
  double sum = 0, count = 0;
  for (int y = 0; y < a.Image().Height; ++y)
    for (int x = 0; x < a.Image().Width * bytes; ++x, ++count) {
      const double d = static_cast<double>(a.ConstRowPointer(y)[x]) - static_cast<double>(b.ConstRowPointer(y)[x]);
      sum += d * d;
    }
  return sum == 0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(255.0 * 255.0 * count / sum);
}

}  // namespace tolvane::testing
