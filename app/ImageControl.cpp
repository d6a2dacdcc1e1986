#include "ImageControl.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace tolvane {

namespace {

// Pictures much larger than their rectangle are drawn at up to this many
// times its size and reduced smoothly, since the framework's stretch picks
// single pixels and a strongly reduced photograph would alias.
constexpr int32_t MaxSupersampling = 4;

// The first step of a reduction of (w, h) to (rw, rh): an integer factor.
int32_t SupersamplingFor(int32_t w, int32_t h, int32_t rw, int32_t rh) {
  if (rw <= 0 || rh <= 0) return 1;
  return std::clamp(std::min(w / rw, h / rh), 1, MaxSupersampling);
}

}  // namespace

TRect ImageDestinationRect(int32_t w, int32_t h, int32_t cw, int32_t ch, bool center, bool proportional,
                           bool stretch) {
  if (stretch || (proportional && (w > cw || h > ch))) {
    if (proportional && w > 0 && h > 0) {
      const long double r = static_cast<long double>(w) / h;
      if (w > h) {
        w = cw;
        h = static_cast<int32_t>(cw / r);
        if (h > ch) {
          h = ch;
          w = static_cast<int32_t>(ch * r);
        }
      } else {
        h = ch;
        w = static_cast<int32_t>(ch * r);
        if (w > cw) {
          w = cw;
          h = static_cast<int32_t>(cw / r);
        }
      }
    } else {
      w = cw;
      h = ch;
    }
  }
  TRect rect = Rect(0, 0, w, h);
  if (center) {
    int32_t dx = (cw - w) / 2, dy = (ch - h) / 2;
    rect = Rect(dx, dy, dx + w, dy + h);
  }
  return rect;
}

QImage BitmapToImage(TBitmap& bitmap) {
  if (bitmap.PixelLayoutOf() != pl24Bit) return {};
  const int32_t w = bitmap.ImageWidth(), h = bitmap.ImageHeight();
  QImage image(w, h, QImage::Format_BGR888);
  if (image.isNull()) return image;
  for (int32_t y = 0; y < h; ++y) {
    // Both hold a pixel as the bytes B, G, R.
    std::memcpy(image.scanLine(y), bitmap.ConstRowPointer(y), static_cast<size_t>(w) * 3);
  }
  return image;
}

TImage::TImage(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void TImage::ReplacePicture(std::nullptr_t) {
  FPicture.AssignGraphic(nullptr);
  FShown = QImage();
  unsetCursor();
  update();
}

TRect TImage::DestinationRect() {
  return ImageDestinationRect(FPicture.PictureWidth(), FPicture.PictureHeight(), width(), height(), Center,
                              Proportional, Stretch);
}

void TImage::PaintImage() {
  FShown = QImage();
  unsetCursor();
  update();
  TGraphic* graphic = FPicture.CurrentGraphic();
  if (!graphic || graphic->IsBlank()) return;
  const TRect dest = DestinationRect();
  const int32_t w = dest.Width(), h = dest.Height();
  if (w <= 0 || h <= 0) return;
  const qreal ratio = devicePixelRatioF();
  const int32_t rw = std::max(1, static_cast<int32_t>(w * ratio)), rh = std::max(1, static_cast<int32_t>(h * ratio));
  const int32_t k = SupersamplingFor(FPicture.PictureWidth(), FPicture.PictureHeight(), rw, rh);

  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(rw * k);
  target.ResizeHeight(rh * k);
  target.BitmapCanvas().Brush.Color = RGBColor(static_cast<uint8_t>(Background.red()),
                                         static_cast<uint8_t>(Background.green()),
                                         static_cast<uint8_t>(Background.blue()));
  target.BitmapCanvas().FillArea(Rect(0, 0, rw * k, rh * k));
  target.BitmapCanvas().StretchInto(Rect(0, 0, rw * k, rh * k), graphic);

  QImage image = BitmapToImage(target);
  if (k > 1) image = image.scaled(rw, rh, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  image.setDevicePixelRatio(ratio);
  FShown = std::move(image);
  FShownRect = QRect(dest.Left, dest.Top, w, h);
  setCursor(Qt::PointingHandCursor);
}

void TImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Background);
  if (!FShown.isNull()) painter.drawImage(FShownRect, FShown);
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick();
}

}  // namespace tolvane
