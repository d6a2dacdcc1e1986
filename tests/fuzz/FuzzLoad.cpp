#include "FuzzLoad.h"

#include "app/Fingerprint.h"
#include "picture/Graphics.h"
#include "picture/Jpeg.h"
#include "picture/SysUtils.h"

namespace tolvane::fuzz {

void LoadAndDraw(const std::string& path) {
  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  try {
    picture.LoadPictureFile(path);
    TGraphic* graphic = picture.CurrentGraphic();
    if (!graphic || graphic->ImageWidth() <= 0 || graphic->ImageHeight() <= 0) return;
    if (graphic->Is<TJPEGImage>()) static_cast<TJPEGImage*>(graphic)->SetDecodeScale(ScaleEighth);
    target.FillRect(Rect(0, 0, 16, 8), clWhite);
    target.BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), graphic);
    FingerprintOfTarget(target);
  } catch (const Exception&) {
    // A file the framework refuses in its own terms is a correct answer.
  }
}

}  // namespace tolvane::fuzz
