// Pixel operations of the metafile player: bitmap blits with ternary raster
// operations, transparent and alpha blends, gradients and flood fills. Each
// builds a patch of image pixels and draws it through the painter, so the
// clip region applies as it does to shapes.
#include <QLinearGradient>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "PlayerDevice.h"

namespace tolvane::metafile {

namespace {

constexpr int64_t MaxPatternPixels = int64_t{1} << 20;


QRgb ToRgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

}  // namespace

std::shared_ptr<TBitmap> TPlayerDevice::ReadDib(const uint8_t* bmi, size_t bmiSize, const uint8_t* bits,
                                                size_t bitsSize, uint32_t usage, bool* bottomUp) {
  const TPaletteRef& palette = FState.Palette;
  if (!bmi || bmiSize < 12) return nullptr;
  const uint32_t headerSize = LoadLE32(bmi);
  const bool core = headerSize == 12;
  if (!core && (headerSize < 40 || headerSize > bmiSize)) return nullptr;
  const int64_t width = core ? LoadLE16(bmi + 4) : static_cast<int32_t>(LoadLE32(bmi + 4));
  const int64_t height = core ? LoadLE16(bmi + 6) : static_cast<int32_t>(LoadLE32(bmi + 8));
  const uint16_t bpp = core ? LoadLE16(bmi + 10) : LoadLE16(bmi + 14);
  const uint32_t compression = core ? 0 : LoadLE32(bmi + 16);
  const uint32_t clrUsed = core ? 0 : LoadLE32(bmi + 32);
  if (width <= 0 || height == 0 || !SpendBitmapBudget(width * std::llabs(height))) return nullptr;
  if (bottomUp) *bottomUp = height > 0;

  std::vector<uint8_t> buffer;
  size_t bitsOffset = 0;
  if (usage == DIB_PAL_COLORS && bpp >= 1 && bpp <= 8) {
    // The colour table holds 16-bit indices into the selected palette:
    // replace it by the colours they name.
    const size_t headerPart = headerSize + (!core && headerSize == 40 && compression == 3 ? 12 : 0);
    const uint32_t colours = clrUsed ? std::min(clrUsed, 1u << bpp) : 1u << bpp;
    const size_t tableEnd = headerPart + size_t{colours} * 2;
    if (tableEnd > bmiSize) return nullptr;
    buffer.assign(bmi, bmi + headerPart);
    if (!core) {
      buffer[32] = static_cast<uint8_t>(colours), buffer[33] = static_cast<uint8_t>(colours >> 8);
      buffer[34] = buffer[35] = 0;
    }
    for (uint32_t i = 0; i < colours; ++i) {
      uint16_t index = LoadLE16(bmi + headerPart + 2 * i);
      TColor c = palette && index < palette->size() ? (*palette)[index] : clBlack;
      buffer.push_back(GetBValue(c));
      buffer.push_back(GetGValue(c));
      buffer.push_back(GetRValue(c));
      if (!core) buffer.push_back(0);
    }
    bitsOffset = buffer.size();
    if (!bits) bits = bmi + tableEnd, bitsSize = bmiSize - tableEnd;
  } else {
    buffer.assign(bmi, bmi + bmiSize);
    bitsOffset = bits ? bmiSize : 0;
  }
  if (bits) buffer.insert(buffer.end(), bits, bits + bitsSize);
  auto bitmap = std::make_shared<TBitmap>();
  try {
    bitmap->LoadDib(buffer.data(), buffer.size(), bitsOffset);
    bitmap->SetPixelLayout(pl32Bit);
  } catch (const Exception&) {
    return nullptr;
  }
  if (bitmap->IsBlank()) return nullptr;
  return bitmap;
}

bool TPlayerDevice::SpendBitmapBudget(int64_t pixels) {
  if (pixels > MaxMetafileBitmapPixels || pixels > FBitmapBudget) return false;
  FBitmapBudget -= pixels;
  return true;
}

QImage BitmapImage(const TBitmap& bitmap) {
  const int32_t w = bitmap.Image().Width, h = bitmap.Image().Height;
  if (bitmap.PixelLayoutOf() != pl32Bit || w <= 0 || h <= 0 || int64_t{w} * h > MaxPatternPixels) return QImage();
  QImage image(w, h, QImage::Format_RGB32);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.ConstRowPointer(y);
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int32_t x = 0; x < w; ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
  }
  return image;
}

void TPlayerDevice::DrawPatch(const QImage& patch, QPoint at) {
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  FPainter.drawImage(at, patch);
}

QRgb TPlayerDevice::PatternAt(int x, int y) const {
  const TLogBrush& b = FState.Brush;
  if (b.Style == BS_NULL) return 0;
  if ((b.Style == BS_PATTERN || b.Style == BS_DIBPATTERN || b.Style == BS_DIBPATTERNPT) && !b.Pattern.isNull()) {
    const int w = b.Pattern.width(), h = b.Pattern.height();
    const QPointF origin = BrushOrigin(b.Pattern.size());
    const int px = ((x - static_cast<int>(origin.x())) % w + w) % w, py = ((y - static_cast<int>(origin.y())) % h + h) % h;
    return b.Pattern.pixel(px, py) & 0xFFFFFF;
  }
  return ToRgb(ResolveColour(b.Color)) & 0xFFFFFF;
}

template <class Combine>
void TPlayerDevice::BlitPixels(const QRectF& dest, const TBlitSource* source, Combine combine) {
  const QPointF a = MapRounded(dest.topLeft()), b = MapRounded(dest.bottomRight());
  const QRectF box = QRectF(a, b).normalized();
  if (FPathOpen || box.width() < 1 || box.height() < 1 || !Visible(box)) return;
  const bool flipX = b.x() < a.x(), flipY = b.y() < a.y();
  const QRect area = QRect(static_cast<int>(box.left()), static_cast<int>(box.top()), static_cast<int>(box.width()),
                           static_cast<int>(box.height())) & FImage.rect();
  if (area.isEmpty()) return;

  // The source pixel of each target column and row (point sampling), -1
  // where the source rectangle leaves the bitmap.
  auto sample = [&](int i, double origin, double extent, bool flip, double from, double length, int limit) {
    double u = (i + 0.5 - origin) / extent;
    if (flip) u = 1 - u;
    double s = std::floor(from + u * length);
    return s >= 0 && s < limit ? static_cast<int>(s) : -1;
  };
  std::vector<int> columns(static_cast<size_t>(area.width()), 0);
  if (source)
    for (int x = area.left(); x <= area.right(); ++x)
      columns[x - area.left()] = sample(x, box.left(), box.width(), flipX, source->Rect.left(), source->Rect.width(), source->Width());

  QImage patch(area.size(), QImage::Format_ARGB32_Premultiplied);
  patch.fill(0);
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const uint8_t* srow = nullptr;
    if (source) {
      int sy = sample(y, box.top(), box.height(), flipY, source->Rect.top(), source->Rect.height(), source->Height());
      if (sy < 0) continue;
      srow = source->Bitmap->ConstRowPointer(sy);
    }
    const auto* drow = reinterpret_cast<const QRgb*>(FImage.constScanLine(y));
    auto* prow = reinterpret_cast<QRgb*>(patch.scanLine(y - area.top()));
    for (int x = area.left(); x <= area.right(); ++x) {
      QRgb s = 0;
      if (source) {
        int sx = columns[x - area.left()];
        if (sx < 0) continue;
        const uint8_t* p = srow + 4 * sx;
        s = qRgba(p[2], p[1], p[0], source->HasAlpha ? p[3] : 255);
      }
      QRgb out;
      if (combine(x, y, s, drow[x] & 0xFFFFFF, out)) prow[x - area.left()] = out | 0xFF000000;
    }
  }
  DrawPatch(patch, area.topLeft());
}

void TPlayerDevice::Blit(const QRectF& dest, const TBlitSource* source, uint32_t rop) {
  const uint32_t code = (rop >> 16) & 0xFF;
  const bool usesSource = ((code >> 2) & 0x33) != (code & 0x33);
  if (usesSource && !source) return;
  if (!AxisAligned()) {
    // A rotated or sheared target: the source is copied through the
    // mapping, and a pattern blit fills the mapped rectangle.
    if (FPathOpen) return;
    QPainterPath outline = MapPath([&] {
      QPainterPath p;
      p.addRect(dest.normalized());
      return p;
    }());
    if (!Visible(outline.boundingRect())) return;
    if (usesSource) {
      QImage image = BitmapImage(*source->Bitmap);
      if (image.isNull()) return;
      FPainter.save();
      FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
      FPainter.setTransform(FTransform);
      FPainter.drawImage(dest, image, source->Rect);
      FPainter.restore();
    } else if (rop == 0x00F00021) {
      FillWith(outline, FState.Brush);
    }
    return;
  }
  BlitPixels(dest, usesSource ? source : nullptr, [&](int x, int y, QRgb s, QRgb d, QRgb& out) {
    out = ApplyRop3(rop, PatternAt(x, y), s & 0xFFFFFF, d);
    return true;
  });
}

void TPlayerDevice::TransparentBlit(const QRectF& dest, const TBlitSource& source, TColor key) {
  if (!AxisAligned()) return Blit(dest, &source, 0x00CC0020);
  const QRgb k = ToRgb(key) & 0xFFFFFF;
  BlitPixels(dest, &source, [&](int, int, QRgb s, QRgb, QRgb& out) {
    out = s & 0xFFFFFF;
    return out != k;
  });
}

void TPlayerDevice::AlphaBlend(const QRectF& dest, const TBlitSource& source, uint8_t constantAlpha, bool sourceAlpha) {
  if (!AxisAligned()) return Blit(dest, &source, 0x00CC0020);
  const uint32_t ca = constantAlpha;
  BlitPixels(dest, &source, [&](int, int, QRgb s, QRgb d, QRgb& out) {
    // Premultiplied source (with its own alpha) over the target, scaled by
    // the constant alpha.
    const uint32_t sa = sourceAlpha ? qAlpha(s) : 255;
    const uint32_t keep = 65025 - sa * ca;
    auto mix = [&](uint32_t sc, uint32_t dc) { return std::min<uint32_t>(255, (sc * ca * 255 + dc * keep + 32512) / 65025); };
    out = qRgb(mix(qRed(s), qRed(d)), mix(qGreen(s), qGreen(d)), mix(qBlue(s), qBlue(d)));
    return true;
  });
}

void TPlayerDevice::GradientRect(QPointF a, QPointF b, QColor ca, QColor cb, bool vertical) {
  QRectF box;
  if (FPathOpen || !DeviceBox(QRectF(a, b), box) || !Visible(box)) return;
  const QPointF da = Map(a), db = Map(b);
  QLinearGradient gradient(vertical ? QPointF(0, da.y()) : QPointF(da.x(), 0), vertical ? QPointF(0, db.y()) : QPointF(db.x(), 0));
  gradient.setColorAt(0, ca);
  gradient.setColorAt(1, cb);
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  FPainter.fillRect(box, QBrush(gradient));
}

void TPlayerDevice::GradientTriangle(const QPointF (&p)[3], const QColor (&c)[3]) {
  if (FPathOpen) return;
  QPointF d[3];
  for (int i = 0; i < 3; ++i) d[i] = MapRounded(p[i]);
  const QRectF bounds = QPolygonF({d[0], d[1], d[2]}).boundingRect();
  if (!Visible(bounds)) return;
  const double area = (d[1].x() - d[0].x()) * (d[2].y() - d[0].y()) - (d[2].x() - d[0].x()) * (d[1].y() - d[0].y());
  if (std::fabs(area) < 1e-9) return;
  const QRect box = QRect(static_cast<int>(std::floor(bounds.left())), static_cast<int>(std::floor(bounds.top())),
                          static_cast<int>(std::ceil(bounds.width())) + 1, static_cast<int>(std::ceil(bounds.height())) + 1) &
                    FImage.rect();
  if (box.isEmpty()) return;
  // Barycentric weights at pixel centres, stepped along each row.
  double weight[3][3];  // per vertex: d/dx, d/dy, value at (0, 0)
  for (int i = 0; i < 3; ++i) {
    const QPointF& u = d[(i + 1) % 3];
    const QPointF& v = d[(i + 2) % 3];
    weight[i][0] = -(v.y() - u.y()) / area;
    weight[i][1] = (v.x() - u.x()) / area;
    weight[i][2] = ((v.x() - u.x()) * -u.y() - -u.x() * (v.y() - u.y())) / area;
  }
  const int channels[3][3] = {{c[0].red(), c[0].green(), c[0].blue()},
                              {c[1].red(), c[1].green(), c[1].blue()},
                              {c[2].red(), c[2].green(), c[2].blue()}};
  QImage patch(box.size(), QImage::Format_ARGB32_Premultiplied);
  patch.fill(0);
  for (int y = box.top(); y <= box.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(patch.scanLine(y - box.top()));
    double w[3];
    for (int i = 0; i < 3; ++i) w[i] = weight[i][0] * (box.left() + 0.5) + weight[i][1] * (y + 0.5) + weight[i][2];
    for (int x = box.left(); x <= box.right(); ++x) {
      if (w[0] >= 0 && w[1] >= 0 && w[2] >= 0) {
        int rgb[3];
        for (int k = 0; k < 3; ++k)
          rgb[k] = std::clamp(static_cast<int>(w[0] * channels[0][k] + w[1] * channels[1][k] + w[2] * channels[2][k] + 0.5), 0, 255);
        row[x - box.left()] = qRgb(rgb[0], rgb[1], rgb[2]);
      }
      for (int i = 0; i < 3; ++i) w[i] += weight[i][0];
    }
  }
  DrawPatch(patch, box.topLeft());
}

void TPlayerDevice::FloodFill(QPointF p, TColor colour, bool surface) {
  if (FPathOpen || FState.Brush.Null()) return;
  const QPointF d = MapRounded(p);
  if (!InImage(d)) return;
  const QPoint start(static_cast<int>(d.x()), static_cast<int>(d.y()));
  const QRgb key = ToRgb(ResolveColour(colour)) & 0xFFFFFF;
  const int w = FImage.width(), h = FImage.height();
  std::vector<uint8_t> filled(static_cast<size_t>(w) * h, 0);
  auto fillable = [&](int x, int y) {
    if (filled[static_cast<size_t>(y) * w + x]) return false;
    QRgb v = reinterpret_cast<const QRgb*>(FImage.constScanLine(y))[x] & 0xFFFFFF;
    if ((v == key) != surface) return false;
    return !FState.Clip || FState.Clip->contains(QPoint(x, y));
  };
  if (!fillable(start.x(), start.y())) return;
  QRect bounds(start, start);
  std::vector<QPoint> stack{start};
  while (!stack.empty()) {
    QPoint q = stack.back();
    stack.pop_back();
    if (!fillable(q.x(), q.y())) continue;
    int left = q.x(), right = q.x();
    while (left > 0 && fillable(left - 1, q.y())) --left;
    while (right + 1 < w && fillable(right + 1, q.y())) ++right;
    for (int x = left; x <= right; ++x) {
      filled[static_cast<size_t>(q.y()) * w + x] = 1;
      if (q.y() > 0 && fillable(x, q.y() - 1)) stack.emplace_back(x, q.y() - 1);
      if (q.y() + 1 < h && fillable(x, q.y() + 1)) stack.emplace_back(x, q.y() + 1);
    }
    bounds |= QRect(left, q.y(), right - left + 1, 1);
  }
  QImage patch(bounds.size(), QImage::Format_ARGB32_Premultiplied);
  patch.fill(0);
  const QRgb paint = 0xFF000000 | PatternAt(start.x(), start.y());
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(patch.scanLine(y - bounds.top()));
    for (int x = bounds.left(); x <= bounds.right(); ++x)
      if (filled[static_cast<size_t>(y) * w + x]) row[x - bounds.left()] = paint;
  }
  DrawPatch(patch, bounds.topLeft());
}

}  // namespace tolvane::metafile
