#include "MetafilePlayer.h"

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>

#include "PlayerDevice.h"

namespace tolvane {

namespace {

bool DirectLayout(TPixelLayout layout) { return layout == pl24Bit || layout == pl32Bit || layout == plDevice; }

// The pixels of area of a bitmap whose rows are 3 or 4 bytes per pixel.
QImage ReadArea(const TBitmap& bitmap, const TRect& area) {
  const int bytes = BitsPerPixelOf(bitmap.PixelLayoutOf()) / 8;
  QImage image(area.Width(), area.Height(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (int32_t y = 0; y < area.Height(); ++y) {
    const uint8_t* src = bitmap.ConstRowPointer(area.Top + y) + static_cast<size_t>(area.Left) * bytes;
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int32_t x = 0; x < area.Width(); ++x, src += bytes) dst[x] = qRgb(src[2], src[1], src[0]);
  }
  return image;
}

// Writes back the pixels of image whose colour differs from what source
// (the target itself or its 32-bit copy) holds. Bitmaps of other layouts
// take runs of one colour at a time, each through one palette lookup.
void WriteChanged(TBitmap& target, const TBitmap& source, const TRect& area, const QImage& image) {
  const bool direct = DirectLayout(target.PixelLayoutOf());
  const int bytes = BitsPerPixelOf(source.PixelLayoutOf()) / 8;
  for (int32_t y = 0; y < area.Height(); ++y) {
    const uint8_t* before = source.ConstRowPointer(area.Top + y) + static_cast<size_t>(area.Left) * bytes;
    const auto* after = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uint8_t* row = nullptr;
    int32_t runStart = -1;
    TColor runColour = 0;
    auto flush = [&](int32_t end) {
      if (runStart >= 0) target.FillRect(Rect(area.Left + runStart, area.Top + y, area.Left + end, area.Top + y + 1), runColour);
      runStart = -1;
    };
    for (int32_t x = 0; x < area.Width(); ++x, before += bytes) {
      const QRgb now = after[x];
      const bool changed = !(qRed(now) == before[2] && qGreen(now) == before[1] && qBlue(now) == before[0]);
      const TColor colour = RGBColor(static_cast<uint8_t>(qRed(now)), static_cast<uint8_t>(qGreen(now)), static_cast<uint8_t>(qBlue(now)));
      if (!direct) {
        if (runStart >= 0 && (!changed || colour != runColour)) flush(x);
        if (changed && runStart < 0) runStart = x, runColour = colour;
        continue;
      }
      if (!changed) continue;
      if (!row) row = target.RowPointer(area.Top + y);
      uint8_t* p = row + static_cast<size_t>(area.Left + x) * bytes;
      p[0] = static_cast<uint8_t>(qBlue(now)), p[1] = static_cast<uint8_t>(qGreen(now)), p[2] = static_cast<uint8_t>(qRed(now));
    }
    flush(area.Width());
  }
}

void Play(const TMetafile& metafile, QImage& image, const QRectF& rect) {
  const TRect& f = metafile.Frame();
  const QRectF frame(QPointF(f.Left, f.Top), QPointF(f.Right, f.Bottom));
  const auto& data = metafile.Data();
  switch (metafile.Kind()) {
    case TMetafileKind::mkEnhanced: metafile::PlayEnhanced(data, frame, image, rect); break;
    case TMetafileKind::mkPlaceable: metafile::PlayWindows(data, 22 + 18, data.size(), frame, image, rect); break;
    case TMetafileKind::mkPlain: metafile::PlayWindows(data, 18, data.size(), frame, image, rect); break;
    default: break;
  }
}

}  // namespace

void PlayMetafile(const TMetafile& metafile, TBitmap& target, const TRect& rect) {
  try {
    TMetafileTextSupport::Ensure();
    const TRect area = Rect(std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, target.ImageWidth()),
                            std::min(rect.Bottom, target.ImageHeight()));
    // Compared, not subtracted: the rectangle's size may not fit 32 bits.
    if (area.Right <= area.Left || area.Bottom <= area.Top) return;
    // Bitmaps of other layouts are read through a 32-bit copy; the
    // comparison with it decides which pixels the records changed.
    TBitmap converted;
    const TBitmap* source = &target;
    if (!DirectLayout(target.PixelLayoutOf())) {
      converted.CopyFrom(&target);
      converted.SetPixelLayout(pl32Bit);
      source = &converted;
    }
    QImage image = ReadArea(*source, area);
    if (image.isNull()) return;  // no memory for the copy: nothing is drawn
    const QRectF placed(double(rect.Left) - area.Left, double(rect.Top) - area.Top, double(rect.Right) - rect.Left,
                        double(rect.Bottom) - rect.Top);
    Play(metafile, image, placed);
    WriteChanged(target, *source, area, image);
  } catch (...) {
    // Playback never fails the caller: what could not be drawn is not drawn.
  }
}

void InitializeMetafilePlayer() { SetMetafilePlayer(&PlayMetafile); }

void FinalizeMetafilePlayer() {
  if (MetafilePlayer() == &PlayMetafile) SetMetafilePlayer(nullptr);
}

namespace {
TMetafileTextSupport* TextSupport = nullptr;
}

TMetafileTextSupport::TMetafileTextSupport() {
  if (!TextSupport) TextSupport = this;
}

TMetafileTextSupport::~TMetafileTextSupport() {
  if (TextSupport == this) TextSupport = nullptr;
}

void TMetafileTextSupport::Ensure() {
  if (!TextSupport || TextSupport->FApplication || QCoreApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TextSupport->FApplication = std::make_unique<QGuiApplication>(TextSupport->FArgc, TextSupport->FArgv);
}

}  // namespace tolvane
