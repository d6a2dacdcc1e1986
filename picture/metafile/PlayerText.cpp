// Text output of the metafile player. Glyphs need Qt's font database, which
// exists only while a GUI application object does; without one, text
// records still paint their opaque rectangles and move the current
// position when they can, but draw no glyphs.
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "PlayerDevice.h"

namespace tolvane::metafile {

namespace {

// Windows-1252 at 0x80..0x9F; the other bytes are their Latin-1 code points.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

QString AnsiText(const uint8_t* bytes, size_t count) {
  QString text;
  text.reserve(static_cast<qsizetype>(count));
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[i];
    text.append(QChar(b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char16_t{b}));
  }
  return text;
}

bool TPlayerDevice::TextAvailable() { return qGuiApp != nullptr; }

void TPlayerDevice::TextOut(QPointF ref, const QString& text, const std::vector<double>& dx, uint32_t options,
                            const std::optional<QRectF>& rect) {
  if (FPathOpen) return;
  std::optional<QRectF> box;
  if (rect) {
    QRectF d;
    if (DeviceBox(*rect, d) && Visible(d)) box = d;
  }
  if (box && (options & ETO_OPAQUE)) {
    FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    FPainter.fillRect(*box, Colour(FState.BkColor));
  }
  if (text.isEmpty()) return;
  const bool updateCp = (FState.TextAlign & TA_UPDATECP) != 0;
  const QPointF origin = updateCp ? FState.Position : ref;
  const double advanceSum = std::accumulate(dx.begin(), dx.end(), 0.0);
  if (!TextAvailable() || (options & ETO_GLYPH_INDEX)) {
    if (updateCp && !dx.empty()) FState.Position.rx() += advanceSum;
    return;
  }

  // Font height in image pixels: a negative height is the em size, a
  // positive one the cell (ascent and descent), 0 the default size.
  const double sx = std::hypot(FTransform.m11(), FTransform.m12());
  const double sy = std::hypot(FTransform.m21(), FTransform.m22());
  const TLogFont& lf = FState.Font;
  double height = lf.Height != 0 ? std::fabs(double(lf.Height)) * sy
                                 : 16 * std::hypot(FDeviceToImage.m21(), FDeviceToImage.m22());
  const double limit = 2.0 * std::max(FImage.width(), FImage.height()) + 64;
  if (!std::isfinite(height) || height < 1) {
    if (updateCp && !dx.empty()) FState.Position.rx() += advanceSum;
    return;
  }
  height = std::min(height, limit);
  QFont font(lf.FaceName.isEmpty() ? QStringLiteral("Sans Serif") : lf.FaceName);
  font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(height))));
  if (lf.Height > 0) {
    QFontMetricsF cell(font);
    double total = cell.ascent() + cell.descent();
    if (total > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(std::min(height * height / total, limit)))));
  }
  if (lf.Weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp(lf.Weight, 100, 900)));
  font.setItalic(lf.Italic);
  font.setUnderline(lf.Underline);
  font.setStrikeOut(lf.StrikeOut);
  const QFontMetricsF metrics(font);

  const double width = dx.empty() ? metrics.horizontalAdvance(text) : advanceSum * sx;
  double x = 0, y = 0;
  if ((FState.TextAlign & TA_CENTER) == TA_CENTER) x = -width / 2;
  else if (FState.TextAlign & TA_RIGHT) x = -width;
  if ((FState.TextAlign & TA_BASELINE) == TA_BASELINE) y = 0;
  else if (FState.TextAlign & TA_BOTTOM) y = -metrics.descent();
  else y = metrics.ascent();

  const QPointF at = MapRounded(origin);
  if (!Visible(QRectF(at.x() - width - limit, at.y() - limit, 2 * (width + limit), 2 * limit))) return;
  FPainter.save();
  if (box && (options & ETO_CLIPPED))
    FPainter.setClipRect(*box, FPainter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
  QTransform place;
  place.translate(at.x(), at.y());
  place.rotate(-(lf.Escapement / 10.0));
  FPainter.setTransform(place);
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (FState.BkMode == OPAQUE)
    FPainter.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.ascent() + metrics.descent()), Colour(FState.BkColor));
  FPainter.setFont(font);
  FPainter.setPen(Colour(FState.TextColor));
  if (dx.empty()) {
    FPainter.drawText(QPointF(x, y), text);
  } else {
    // Each character at the advance the file gives (surrogate pairs keep
    // the advances of both halves).
    double offset = 0;
    for (qsizetype i = 0; i < text.size();) {
      qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
      FPainter.drawText(QPointF(x + offset, y), text.mid(i, n));
      for (qsizetype k = i; k < i + n; ++k)
        if (static_cast<size_t>(k) < dx.size()) offset += dx[static_cast<size_t>(k)] * sx;
      i += n;
    }
  }
  FPainter.restore();
  if (updateCp) FState.Position.rx() += dx.empty() ? (sx > 0 ? width / sx : 0) : advanceSum;
}

}  // namespace tolvane::metafile
