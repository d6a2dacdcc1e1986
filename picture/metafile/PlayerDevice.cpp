// The drawing context of the metafile player: mapping, saved states,
// objects, lines, shapes, paths and clipping. Every shape is brought to image
// pixels (rounded, as the desktop's device coordinates are integers) and
// drawn there with an identity painter transform, so that clipping and pen
// widths live in one space.
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "PlayerDevice.h"

namespace tolvane::metafile {

namespace {

// Coordinates beyond this many pixels come only from broken files; shapes
// that reach them are dropped rather than handed to the rasteriser.
constexpr double MaxCoordinate = double(1 << 24);
constexpr size_t MaxSavedStates = 4096;

QPainter::CompositionMode Rop2Mode(int rop) {
  switch (rop) {
    case 1: return QPainter::RasterOp_ClearDestination;
    case 2: return QPainter::RasterOp_NotSourceAndNotDestination;
    case 3: return QPainter::RasterOp_NotSourceAndDestination;
    case 4: return QPainter::RasterOp_NotSource;
    case 5: return QPainter::RasterOp_SourceAndNotDestination;
    case 6: return QPainter::RasterOp_NotDestination;
    case 7: return QPainter::RasterOp_SourceXorDestination;
    case 8: return QPainter::RasterOp_NotSourceOrNotDestination;
    case 9: return QPainter::RasterOp_SourceAndDestination;
    case 10: return QPainter::RasterOp_NotSourceXorDestination;
    case 12: return QPainter::RasterOp_NotSourceOrDestination;
    case 14: return QPainter::RasterOp_SourceOrNotDestination;
    case 15: return QPainter::RasterOp_SourceOrDestination;
    case 16: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

bool Finite(const QRectF& r) {
  return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) && std::isfinite(r.bottom());
}

TLogBrush SolidBrush(TColor c) {
  TLogBrush b;
  b.Color = c;
  return b;
}

TLogPen StockPen(TColor c, uint32_t style) {
  TLogPen p;
  p.Color = c;
  p.Style = style;
  return p;
}

// The 20 colours of the default palette: the static colours of the halftone
// palette. Palette records change the selected palette in place, so every
// playback gets a copy of its own.
TPaletteRef DefaultPalette() {
  auto colours = std::make_shared<std::vector<TColor>>();
  const auto& entries = HalftonePalette()->Entries;
  for (size_t i = 0; i < entries.size(); ++i)
    if (i < 10 || i >= entries.size() - 10) colours->push_back(RGBColor(entries[i].peRed, entries[i].peGreen, entries[i].peBlue));
  return colours;
}

}  // namespace

float TRecordView::F32(size_t at) const {
  uint32_t bits = U32(at);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  if (!std::isfinite(f)) throw TMalformedRecord{};
  return f;
}

std::optional<TGdiObject> StockObject(uint32_t index) {
  switch (index & 0x7FFFFFFF) {
    case 0: return SolidBrush(clWhite);
    case 1: return SolidBrush(0xC0C0C0);
    case 2: return SolidBrush(0x808080);
    case 3: return SolidBrush(0x404040);
    case 4: return SolidBrush(clBlack);
    case 5: {
      TLogBrush b;
      b.Style = BS_NULL;
      return b;
    }
    case 6: return StockPen(clWhite, PS_SOLID);
    case 7: return StockPen(clBlack, PS_SOLID);
    case 8: return StockPen(clBlack, PS_NULL);
    case 10: case 11: case 16: {
      TLogFont f;
      f.FaceName = QStringLiteral("Monospace");
      return f;
    }
    case 12: case 13: case 14: case 17: return TLogFont{};
    case 15: return DefaultPalette();
    case 18: return SolidBrush(clWhite);
    case 19: return StockPen(clBlack, PS_SOLID);
    default: return std::nullopt;
  }
}

TPlayerDevice::TPlayerDevice(QImage& image, const QTransform& deviceToImage, QPointF pixelsPerMm)
    : FImage(image), FDeviceToImage(deviceToImage), FPixelsPerMm(pixelsPerMm) {
  FPainter.begin(&FImage);
  FPainter.setRenderHint(QPainter::Antialiasing, false);
  FPainter.setRenderHint(QPainter::TextAntialiasing, false);
  FPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  FState.Palette = DefaultPalette();
  Changed();
}

TPlayerDevice::~TPlayerDevice() { FPainter.end(); }

// ---------------------------------------------------------------------------
// Mapping

QTransform TPlayerDevice::PageTransform() const {
  double sx = FState.ViewportExt.x() / FState.WindowExt.x();
  double sy = FState.ViewportExt.y() / FState.WindowExt.y();
  if (FState.MapMode == MM_ISOTROPIC) {
    double m = std::min(std::fabs(sx), std::fabs(sy));
    sx = std::copysign(m, sx);
    sy = std::copysign(m, sy);
  }
  return QTransform(sx, 0, 0, sy, FState.ViewportOrg.x() - FState.WindowOrg.x() * sx,
                    FState.ViewportOrg.y() - FState.WindowOrg.y() * sy);
}

void TPlayerDevice::Changed() { FTransform = FState.World * PageTransform() * FDeviceToImage; }

void TPlayerDevice::SetMapMode(int mode) {
  if (mode < MM_TEXT || mode > MM_ANISOTROPIC) return;
  FState.MapMode = mode;
  // The fixed modes set the extents from the reference device's
  // resolution; the scalable ones keep what the previous mode had.
  double mmPerUnit = 0;
  switch (mode) {
    case MM_LOMETRIC: mmPerUnit = 0.1; break;
    case MM_HIMETRIC: mmPerUnit = 0.01; break;
    case MM_LOENGLISH: mmPerUnit = 0.254; break;
    case MM_HIENGLISH: mmPerUnit = 0.0254; break;
    case MM_TWIPS: mmPerUnit = 25.4 / 1440; break;
    default: break;
  }
  if (mode == MM_TEXT) {
    FState.WindowExt = FState.ViewportExt = QPointF(1, 1);
  } else if (mmPerUnit > 0) {
    FState.WindowExt = QPointF(1, 1);
    FState.ViewportExt = QPointF(FPixelsPerMm.x() * mmPerUnit, -FPixelsPerMm.y() * mmPerUnit);
  }
  Changed();
}

void TPlayerDevice::SetWindowExt(QPointF e) {
  if (FState.MapMode != MM_ISOTROPIC && FState.MapMode != MM_ANISOTROPIC) return;
  if (e.x() == 0 || e.y() == 0) return;
  FState.WindowExt = e;
  Changed();
}

void TPlayerDevice::SetViewportExt(QPointF e) {
  if (FState.MapMode != MM_ISOTROPIC && FState.MapMode != MM_ANISOTROPIC) return;
  if (e.x() == 0 || e.y() == 0) return;
  FState.ViewportExt = e;
  Changed();
}

void TPlayerDevice::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen) {
  if (xDen == 0 || yDen == 0) return;
  SetWindowExt(QPointF(FState.WindowExt.x() * xNum / xDen, FState.WindowExt.y() * yNum / yDen));
}

void TPlayerDevice::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen) {
  if (xDen == 0 || yDen == 0) return;
  SetViewportExt(QPointF(FState.ViewportExt.x() * xNum / xDen, FState.ViewportExt.y() * yNum / yDen));
}

void TPlayerDevice::SetWorldTransform(const QTransform& t) {
  if (t.determinant() == 0) return;
  FState.World = t;
  Changed();
}

void TPlayerDevice::ModifyWorldTransform(const QTransform& t, uint32_t mode) {
  switch (mode) {
    case 1: FState.World = QTransform(); break;
    case 2: SetWorldTransform(t * FState.World); return;
    case 3: SetWorldTransform(FState.World * t); return;
    case 4: SetWorldTransform(t); return;
    default: return;
  }
  Changed();
}

void TPlayerDevice::SaveState() {
  if (FSaved.size() < MaxSavedStates) FSaved.push_back(FState);
}

void TPlayerDevice::RestoreState(int32_t which) {
  size_t index;
  if (which < 0) {
    uint64_t back = static_cast<uint64_t>(-int64_t{which});
    if (back > FSaved.size()) return;
    index = FSaved.size() - static_cast<size_t>(back);
  } else if (which > 0) {
    if (static_cast<size_t>(which) > FSaved.size()) return;
    index = static_cast<size_t>(which) - 1;
  } else {
    return;
  }
  FState = FSaved[index];
  FSaved.resize(index);
  Changed();
  ApplyClip();
}

double TPlayerDevice::LinearScale() const { return std::sqrt(std::fabs(FTransform.determinant())); }

QPointF TPlayerDevice::Map(QPointF p) const { return FTransform.map(p); }

QPointF TPlayerDevice::MapRounded(QPointF p) const {
  QPointF d = FTransform.map(p);
  return QPointF(std::round(d.x()), std::round(d.y()));
}

bool TPlayerDevice::InImage(QPointF pixel) const {
  // A QRectF holds its right and bottom edges; the image's pixels end before them.
  return pixel.x() >= 0 && pixel.x() < FImage.width() && pixel.y() >= 0 && pixel.y() < FImage.height();
}

bool TPlayerDevice::AxisAligned() const { return FTransform.m12() == 0 && FTransform.m21() == 0; }

bool TPlayerDevice::DeviceBox(const QRectF& box, QRectF& out) const {
  if (!AxisAligned()) return false;
  QPointF a = MapRounded(box.topLeft()), b = MapRounded(box.bottomRight());
  out = QRectF(a, b).normalized();
  return true;
}

QPainterPath TPlayerDevice::MapPath(const QPainterPath& path) const { return FTransform.map(path); }

// ---------------------------------------------------------------------------
// Objects

void TPlayerDevice::SelectObject(const TGdiObject& object) {
  if (auto* pen = std::get_if<TLogPen>(&object)) FState.Pen = *pen;
  else if (auto* brush = std::get_if<TLogBrush>(&object)) FState.Brush = *brush;
  else if (auto* font = std::get_if<TLogFont>(&object)) FState.Font = *font;
  else if (auto* palette = std::get_if<TPaletteRef>(&object)) FState.Palette = *palette;
  else if (auto* region = std::get_if<TLogRegion>(&object)) SelectLogicalClip(*region);
}

TColor TPlayerDevice::ResolveColour(TColor colour) const {
  if ((colour >> 24) == 1) {  // an index into the selected palette
    uint32_t index = colour & 0xFFFF;
    if (FState.Palette && index < FState.Palette->size()) return (*FState.Palette)[index];
    return clBlack;
  }
  return colour & 0xFFFFFF;
}

// ---------------------------------------------------------------------------
// Drawing

bool TPlayerDevice::Visible(const QRectF& bounds) const {
  if (!Finite(bounds)) return false;
  if (std::fabs(bounds.left()) > MaxCoordinate || std::fabs(bounds.right()) > MaxCoordinate ||
      std::fabs(bounds.top()) > MaxCoordinate || std::fabs(bounds.bottom()) > MaxCoordinate)
    return false;
  double margin = FState.Pen.Width * LinearScale() + 2;
  if (!std::isfinite(margin) || margin > MaxCoordinate) margin = MaxCoordinate;
  return bounds.adjusted(-margin, -margin, margin, margin).intersects(QRectF(FImage.rect()));
}

void TPlayerDevice::ApplyRop2() { FPainter.setCompositionMode(Rop2Mode(FState.Rop2)); }

QPen TPlayerDevice::MakePen() const {
  const TLogPen& p = FState.Pen;
  const uint32_t style = p.Style & PS_STYLE_MASK;
  QPen pen(Colour(p.Color));
  double width = std::round(p.Width * LinearScale());
  const bool cosmetic = p.Width <= 0 || !(width > 1);
  if (cosmetic) {
    pen.setWidth(0);
    pen.setCosmetic(true);
    // A flat cap leaves out a line's last pixel, as the desktop's lines do.
    pen.setCapStyle(Qt::FlatCap);
  } else {
    double limit = 4.0 * (FImage.width() + FImage.height()) + 16;
    pen.setWidthF(std::min(width, limit));
    uint32_t cap = p.Style & PS_ENDCAP_MASK, join = p.Style & PS_JOIN_MASK;
    pen.setCapStyle(cap == PS_ENDCAP_SQUARE ? Qt::SquareCap : cap == PS_ENDCAP_FLAT ? Qt::FlatCap : Qt::RoundCap);
    pen.setJoinStyle(join == PS_JOIN_BEVEL ? Qt::BevelJoin : join == PS_JOIN_MITER ? Qt::MiterJoin : Qt::RoundJoin);
    pen.setMiterLimit(FState.MiterLimit);
  }
  // Dash lengths: in pixels for one-pixel pens, in pen widths otherwise.
  QList<qreal> dashes;
  switch (style) {
    case PS_DASH: dashes = cosmetic ? QList<qreal>{18, 6} : QList<qreal>{3, 1}; break;
    case PS_DOT: dashes = cosmetic ? QList<qreal>{3, 3} : QList<qreal>{1, 1}; break;
    case PS_DASHDOT: dashes = cosmetic ? QList<qreal>{9, 6, 3, 6} : QList<qreal>{3, 1, 1, 1}; break;
    case PS_DASHDOTDOT: dashes = cosmetic ? QList<qreal>{9, 3, 3, 3, 3, 3} : QList<qreal>{3, 1, 1, 1, 1, 1}; break;
    case PS_ALTERNATE: dashes = {1, 1}; break;
    case PS_USERSTYLE: {
      double unit = p.Width > 0 ? p.Width : 1;
      bool any = false;
      for (double e : p.UserStyle) {
        double v = std::clamp(e / unit, 0.0, 1e4);
        any = any || v > 0;
        dashes.push_back(std::max(v, 0.01));
      }
      if (!any) dashes.clear();
      if (dashes.size() % 2) dashes.append(dashes);
      break;
    }
    default: break;
  }
  if (!dashes.isEmpty()) pen.setDashPattern(dashes);
  return pen;
}

void TPlayerDevice::StrokeWith(const QPainterPath& path) {
  if (FState.Pen.Null() || FState.Rop2 == R2_NOP) return;
  QPen pen = MakePen();
  ApplyRop2();
  if (pen.style() != Qt::SolidLine && FState.BkMode == OPAQUE) {
    QPen gaps = pen;
    gaps.setStyle(Qt::SolidLine);
    gaps.setColor(Colour(FState.BkColor));
    FPainter.strokePath(path, gaps);
  }
  FPainter.strokePath(path, pen);
}

void TPlayerDevice::FillWith(const QPainterPath& shape, const TLogBrush& brush) {
  if (brush.Null() || FState.Rop2 == R2_NOP) return;
  QPainterPath path = shape;
  path.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  ApplyRop2();
  const bool pattern = brush.Style == BS_PATTERN || brush.Style == BS_DIBPATTERN || brush.Style == BS_DIBPATTERNPT;
  FPainter.setBrushOrigin(BrushOrigin(pattern ? brush.Pattern.size() : QSize(8, 8)));
  QBrush qb(Colour(brush.Color));
  if (brush.Style == BS_HATCHED) {
    if (FState.BkMode == OPAQUE) FPainter.fillPath(path, QBrush(Colour(FState.BkColor)));
    static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                             Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    qb.setStyle(brush.Hatch < 6 ? hatches[brush.Hatch] : Qt::SolidPattern);
  } else if (pattern) {
    qb = QBrush(brush.Pattern);
  }
  FPainter.fillPath(path, qb);
}

QPointF TPlayerDevice::BrushOrigin(QSize tile) const {
  const QPointF origin = FDeviceToImage.map(FState.BrushOrigin);
  auto near = [](double v, int size) { return std::isfinite(v) && size > 0 ? std::fmod(v, size) : 0.0; };
  return QPointF(near(origin.x(), tile.width()), near(origin.y(), tile.height()));
}

void TPlayerDevice::Draw(const QPainterPath& fill, const QPainterPath& stroke, bool doFill, bool doStroke) {
  if (FPathOpen) {
    AppendToPath(doFill ? fill : stroke, false);
    return;
  }
  if (!Visible(fill.boundingRect().united(stroke.boundingRect()))) return;
  if (doFill) FillWith(fill, FState.Brush);
  if (doStroke) StrokeWith(stroke);
}

void TPlayerDevice::AppendToPath(const QPainterPath& devicePath, bool continues) {
  if (continues && FFigureOpen) {
    FPath.connectPath(devicePath);
  } else {
    FPath.addPath(devicePath);
  }
  FFigureOpen = continues;
}

void TPlayerDevice::MoveTo(QPointF p) {
  FState.Position = p;
  FFigureOpen = false;
}

void TPlayerDevice::LineTo(QPointF p) { PolylineTo({p}); }

void TPlayerDevice::Polyline(const std::vector<QPointF>& points) {
  if (points.size() < 2) return;
  QPainterPath path;
  path.moveTo(MapRounded(points[0]));
  for (size_t i = 1; i < points.size(); ++i) path.lineTo(MapRounded(points[i]));
  if (FPathOpen) {
    FPath.addPath(path);
    FFigureOpen = false;
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::PolylineTo(const std::vector<QPointF>& points) {
  if (points.empty()) return;
  QPainterPath path;
  path.moveTo(MapRounded(FState.Position));
  for (const QPointF& p : points) path.lineTo(MapRounded(p));
  FState.Position = points.back();
  if (FPathOpen) {
    AppendToPath(path, true);
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::Polygon(const std::vector<QPointF>& points) { PolyPolygon({points}); }

void TPlayerDevice::PolyPolygon(const std::vector<std::vector<QPointF>>& polygons) {
  QPainterPath path;
  for (const auto& polygon : polygons) {
    if (polygon.size() < 2) continue;
    path.moveTo(MapRounded(polygon[0]));
    for (size_t i = 1; i < polygon.size(); ++i) path.lineTo(MapRounded(polygon[i]));
    path.closeSubpath();
  }
  if (path.isEmpty()) return;
  Draw(path, path, true, true);
}

void TPlayerDevice::PolyPolyline(const std::vector<std::vector<QPointF>>& lines) {
  QPainterPath path;
  for (const auto& line : lines) {
    if (line.size() < 2) continue;
    path.moveTo(MapRounded(line[0]));
    for (size_t i = 1; i < line.size(); ++i) path.lineTo(MapRounded(line[i]));
  }
  if (path.isEmpty()) return;
  if (FPathOpen) {
    FPath.addPath(path);
    FFigureOpen = false;
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::PolyBezier(const std::vector<QPointF>& points) {
  if (points.size() < 4) return;
  QPainterPath path;
  path.moveTo(MapRounded(points[0]));
  for (size_t i = 1; i + 2 < points.size(); i += 3)
    path.cubicTo(MapRounded(points[i]), MapRounded(points[i + 1]), MapRounded(points[i + 2]));
  if (FPathOpen) {
    FPath.addPath(path);
    FFigureOpen = false;
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::PolyBezierTo(const std::vector<QPointF>& points) {
  if (points.size() < 3) return;
  QPainterPath path;
  path.moveTo(MapRounded(FState.Position));
  size_t used = points.size() - points.size() % 3;
  for (size_t i = 0; i < used; i += 3)
    path.cubicTo(MapRounded(points[i]), MapRounded(points[i + 1]), MapRounded(points[i + 2]));
  FState.Position = points[used - 1];
  if (FPathOpen) {
    AppendToPath(path, true);
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::PolyDraw(const std::vector<QPointF>& points, const std::vector<uint8_t>& types) {
  enum : uint8_t { PT_CLOSEFIGURE = 1, PT_LINETO = 2, PT_BEZIERTO = 4, PT_MOVETO = 6 };
  QPainterPath path;
  path.moveTo(MapRounded(FState.Position));
  QPointF last = FState.Position;
  for (size_t i = 0; i < points.size() && i < types.size(); ++i) {
    uint8_t kind = types[i] & ~PT_CLOSEFIGURE;
    if (kind == PT_MOVETO) {
      path.moveTo(MapRounded(points[i]));
    } else if (kind == PT_LINETO) {
      path.lineTo(MapRounded(points[i]));
    } else if (kind == PT_BEZIERTO && i + 2 < points.size() && i + 2 < types.size()) {
      path.cubicTo(MapRounded(points[i]), MapRounded(points[i + 1]), MapRounded(points[i + 2]));
      i += 2;
    } else {
      break;
    }
    last = points[i];
    if (types[i] & PT_CLOSEFIGURE) path.closeSubpath();
  }
  FState.Position = last;
  if (FPathOpen) {
    AppendToPath(path, true);
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::BoxShape(const QRectF& box, QPainterPath& fill, QPainterPath& stroke,
                             const std::function<void(QPainterPath&, const QRectF&)>& build) {
  QRectF d;
  if (!DeviceBox(box, d)) {
    QPainterPath p;
    build(p, box.normalized());
    fill = stroke = MapPath(p);
    return;
  }
  // The box covers [left, right) x [top, bottom); its outline runs along
  // the last pixels inside, as the desktop draws boxes.
  build(fill, d);
  QRectF s(d.left(), d.top(), std::max(0.0, d.width() - 1), std::max(0.0, d.height() - 1));
  if ((FState.Pen.Style & PS_STYLE_MASK) == PS_INSIDEFRAME) {
    double inset = std::max(0.0, (std::round(FState.Pen.Width * LinearScale()) - 1) / 2);
    inset = std::min({inset, s.width() / 2, s.height() / 2});
    s.adjust(inset, inset, -inset, -inset);
  }
  build(stroke, s);
}

void TPlayerDevice::Rectangle(const QRectF& box) {
  QPainterPath fill, stroke;
  BoxShape(box, fill, stroke, [](QPainterPath& p, const QRectF& r) { p.addRect(r); });
  Draw(fill, stroke, true, true);
}

void TPlayerDevice::RoundRect(const QRectF& box, QSizeF corner) {
  const double sx = AxisAligned() ? std::fabs(FTransform.m11()) : 1, sy = AxisAligned() ? std::fabs(FTransform.m22()) : 1;
  const double rx = std::fabs(corner.width()) * sx / 2, ry = std::fabs(corner.height()) * sy / 2;
  QPainterPath fill, stroke;
  BoxShape(box, fill, stroke, [&](QPainterPath& p, const QRectF& r) {
    p.addRoundedRect(r, std::min(rx, r.width() / 2), std::min(ry, r.height() / 2));
  });
  Draw(fill, stroke, true, true);
}

void TPlayerDevice::Ellipse(const QRectF& box) {
  QPainterPath fill, stroke;
  BoxShape(box, fill, stroke, [](QPainterPath& p, const QRectF& r) { p.addEllipse(r); });
  Draw(fill, stroke, true, true);
}

bool TPlayerDevice::ArcAngles(const QRectF& box, QPointF start, QPointF end, double& startAngle, double& sweep) const {
  // Arcs run counter-clockwise as seen on the image unless the direction says
  // otherwise; a box given in logical space is drawn through a mapping that
  // may mirror it.
  const double rx = box.width() / 2, ry = box.height() / 2;
  if (!(rx > 0) || !(ry > 0)) return false;
  const QPointF c = box.center();
  const double a0 = std::atan2(-(start.y() - c.y()) / ry, (start.x() - c.x()) / rx) * 180 / M_PI;
  const double a1 = std::atan2(-(end.y() - c.y()) / ry, (end.x() - c.x()) / rx) * 180 / M_PI;
  bool ccw = FState.ArcDirection != AD_CLOCKWISE;
  if (!AxisAligned() && FTransform.determinant() < 0) ccw = !ccw;
  double s = a1 - a0;
  if (ccw) {
    while (s <= 1e-9) s += 360;
  } else {
    while (s >= -1e-9) s -= 360;
  }
  startAngle = a0;
  sweep = s;
  return true;
}

void TPlayerDevice::ArcShape(TArcKind kind, const QRectF& box, QPointF start, QPointF end) {
  const bool device = AxisAligned();
  const QPointF s = device ? Map(start) : start, e = device ? Map(end) : end;
  bool ok = true;
  QPainterPath fill, stroke;
  BoxShape(box, fill, stroke, [&](QPainterPath& p, const QRectF& r) {
    double a0, sweep;
    if (!ArcAngles(r, s, e, a0, sweep)) {
      ok = false;
      return;
    }
    if (kind == TArcKind::Pie) {
      p.moveTo(r.center());
      p.arcTo(r, a0, sweep);
      p.closeSubpath();
    } else {
      p.arcMoveTo(r, a0);
      p.arcTo(r, a0, sweep);
      if (kind == TArcKind::Chord) p.closeSubpath();
    }
  });
  if (!ok) return;
  if (kind == TArcKind::Arc && FPathOpen) {
    FPath.addPath(stroke);
    FFigureOpen = false;
    return;
  }
  Draw(fill, stroke, kind != TArcKind::Arc, true);
}

void TPlayerDevice::ArcTo(const QRectF& box, QPointF start, QPointF end) {
  QRectF d;
  QPointF s = start, e = end;
  const bool device = DeviceBox(box, d);
  if (device) {
    d.setWidth(std::max(0.0, d.width() - 1));
    d.setHeight(std::max(0.0, d.height() - 1));
    s = Map(start), e = Map(end);
  } else {
    d = box.normalized();
  }
  double a0, sweep;
  if (!ArcAngles(d, s, e, a0, sweep)) return;
  QPainterPath arc;
  arc.arcMoveTo(d, a0);
  const QPointF first = arc.currentPosition();
  arc.arcTo(d, a0, sweep);
  const QPointF last = arc.currentPosition();
  QPainterPath path;
  path.moveTo(MapRounded(FState.Position));
  if (device) {
    path.lineTo(first);
    path.connectPath(arc);
  } else {
    path.lineTo(Map(first));
    path.connectPath(MapPath(arc));
  }
  bool invertible = false;
  QTransform inverse = FTransform.inverted(&invertible);
  if (invertible) FState.Position = device ? inverse.map(last) : last;
  if (FPathOpen) {
    AppendToPath(path, true);
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::AngleArc(QPointF centre, double radius, double startAngle, double sweepAngle) {
  sweepAngle = std::clamp(sweepAngle, -360.0, 360.0);
  QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
  QPainterPath arc;
  arc.arcMoveTo(box, startAngle);
  const QPointF first = arc.currentPosition();
  arc.arcTo(box, startAngle, sweepAngle);
  QPainterPath path;
  path.moveTo(MapRounded(FState.Position));
  path.lineTo(Map(first));
  path.connectPath(MapPath(arc));
  FState.Position = arc.currentPosition();
  if (FPathOpen) {
    AppendToPath(path, true);
    return;
  }
  Draw(path, path, false, true);
}

void TPlayerDevice::SetPixel(QPointF p, TColor colour) {
  QPointF d = MapRounded(p);
  if (!InImage(d)) return;
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  FPainter.fillRect(QRectF(d, QSizeF(1, 1)), Colour(colour));
}

// ---------------------------------------------------------------------------
// Paths

void TPlayerDevice::BeginPath() {
  FPath = QPainterPath();
  FPathOpen = true;
  FFigureOpen = false;
}

void TPlayerDevice::AbortPath() {
  FPath = QPainterPath();
  FPathOpen = false;
  FFigureOpen = false;
}

void TPlayerDevice::CloseFigure() {
  if (!FPathOpen) return;
  FPath.closeSubpath();
  FFigureOpen = false;
}

void TPlayerDevice::FillPath() {
  FPathOpen = false;
  if (Visible(FPath.boundingRect())) FillWith(FPath, FState.Brush);
  AbortPath();
}

void TPlayerDevice::StrokePath() {
  FPathOpen = false;
  if (Visible(FPath.boundingRect())) StrokeWith(FPath);
  AbortPath();
}

void TPlayerDevice::StrokeAndFillPath() {
  FPathOpen = false;
  if (Visible(FPath.boundingRect())) {
    FillWith(FPath, FState.Brush);
    StrokeWith(FPath);
  }
  AbortPath();
}

void TPlayerDevice::WidenPath() {
  if (FState.Pen.Null() || !Visible(FPath.boundingRect())) return;
  QPen pen = MakePen();
  QPainterPathStroker stroker(pen);
  stroker.setWidth(std::max(1.0, pen.widthF()));
  FPath = stroker.createStroke(FPath);
  FFigureOpen = false;
}

void TPlayerDevice::SelectClipPath(int mode) {
  FPathOpen = false;
  QPainterPath path = FPath;
  path.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  if (Finite(path.boundingRect())) CombineClip(RegionOfPath(path), mode);
  AbortPath();
}

// ---------------------------------------------------------------------------
// Clipping and regions

QRegion TPlayerDevice::FullRegion() const { return QRegion(FImage.rect()); }

namespace {

// The region of the set pixels of a mask, as runs merged into bands.
QRegion RegionOfMask(const QImage& mask) {
  std::vector<QRect> rects;
  std::vector<std::pair<int, int>> previous, runs;
  size_t bandStart = 0;
  int bandTop = 0;
  for (int y = 0; y <= mask.height(); ++y) {
    runs.clear();
    if (y < mask.height()) {
      const uchar* row = mask.constScanLine(y);
      for (int x = 0; x < mask.width();) {
        if (!row[x]) {
          ++x;
          continue;
        }
        int start = x;
        while (x < mask.width() && row[x]) ++x;
        runs.emplace_back(start, x);
      }
    }
    if (y > 0 && runs == previous) {
      for (size_t i = bandStart; i < rects.size(); ++i) rects[i].setBottom(y);
      continue;
    }
    bandStart = rects.size();
    bandTop = y;
    for (auto [a, b] : runs) rects.emplace_back(a, bandTop, b - a, 1);
    previous = runs;
  }
  QRegion region;
  if (!rects.empty()) region.setRects(rects.data(), static_cast<int>(rects.size()));
  return region;
}

}  // namespace

QRegion TPlayerDevice::RegionOfPath(const QPainterPath& path) const {
  QImage mask(FImage.size(), QImage::Format_Grayscale8);
  mask.fill(0);
  if (Visible(path.boundingRect())) {
    QPainter p(&mask);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(path, QBrush(Qt::white));
  }
  return RegionOfMask(mask);
}

QRegion TPlayerDevice::RegionOfLogicalRects(const std::vector<QRectF>& rects) const {
  QPainterPath path;
  for (const QRectF& r : rects) {
    QRectF d;
    if (DeviceBox(r, d)) {
      if (rects.size() == 1) {
        // A mapping gone infinite leaves no box to round to pixels.
        if (!Finite(d)) return QRegion();
        QRectF bounded = d.intersected(QRectF(FImage.rect()));
        return QRegion(bounded.toRect());
      }
      path.addRect(d);
    } else {
      path.addPolygon(FTransform.map(QPolygonF(r.normalized())));
      path.closeSubpath();
    }
  }
  path.setFillRule(Qt::WindingFill);
  return RegionOfPath(path);
}

void TPlayerDevice::CombineClip(const QRegion& region, int mode) {
  QRegion current = FState.Clip ? *FState.Clip : FullRegion();
  switch (mode) {
    case RGN_AND: current &= region; break;
    case RGN_OR: current |= region; break;
    case RGN_XOR: current ^= region; break;
    case RGN_DIFF: current -= region; break;
    case RGN_COPY: current = region; break;
    default: return;
  }
  FState.Clip = current & FullRegion();
  ApplyClip();
}

void TPlayerDevice::ApplyClip() {
  if (FState.Clip) FPainter.setClipRegion(*FState.Clip);
  else FPainter.setClipping(false);
}

void TPlayerDevice::IntersectClipRect(const QRectF& r) { CombineClip(RegionOfLogicalRects({r}), RGN_AND); }

void TPlayerDevice::ExcludeClipRect(const QRectF& r) { CombineClip(RegionOfLogicalRects({r}), RGN_DIFF); }

void TPlayerDevice::OffsetClip(QPointF logicalOffset) {
  if (!FState.Clip) return;
  QPointF d = Map(logicalOffset) - Map(QPointF(0, 0));
  if (!std::isfinite(d.x()) || !std::isfinite(d.y()) || std::fabs(d.x()) > MaxCoordinate || std::fabs(d.y()) > MaxCoordinate)
    return;
  FState.Clip = FState.Clip->translated(static_cast<int>(std::round(d.x())), static_cast<int>(std::round(d.y()))) & FullRegion();
  ApplyClip();
}

void TPlayerDevice::SelectDeviceClip(const std::vector<QRectF>* deviceRects, int mode) {
  if (!deviceRects) {
    if (mode == RGN_COPY) {
      FState.Clip.reset();
      ApplyClip();
    }
    return;
  }
  QPainterPath path;
  for (const QRectF& r : *deviceRects) {
    QRectF d = FDeviceToImage.mapRect(r);
    path.addRect(QRectF(QPointF(std::round(d.left()), std::round(d.top())), QPointF(std::round(d.right()), std::round(d.bottom()))));
  }
  path.setFillRule(Qt::WindingFill);
  CombineClip(RegionOfPath(path), mode);
}

void TPlayerDevice::SelectLogicalClip(const TLogRegion& region) {
  CombineClip(RegionOfLogicalRects(region.Rects), RGN_COPY);
}

void TPlayerDevice::FillRegion(const TLogRegion& region, const TLogBrush& brush) {
  if (region.Rects.empty() || FPathOpen) return;
  QRegion r = RegionOfLogicalRects(region.Rects);
  QPainterPath path;
  path.addRegion(r);
  FillWith(path, brush);
}

void TPlayerDevice::FrameRegion(const TLogRegion& region, const TLogBrush& brush, QSizeF stroke) {
  if (region.Rects.empty() || FPathOpen) return;
  QRegion r = RegionOfLogicalRects(region.Rects);
  auto extent = [](double v, int limit) {
    v = std::round(std::fabs(v));
    return std::isfinite(v) ? static_cast<int>(std::clamp(v, 1.0, double(limit))) : limit;
  };
  const int w = extent(stroke.width() * FTransform.m11(), FImage.width() + 1);
  const int h = extent(stroke.height() * FTransform.m22(), FImage.height() + 1);
  QRegion inner = r & r.translated(w, 0) & r.translated(-w, 0) & r.translated(0, h) & r.translated(0, -h);
  QPainterPath path;
  path.addRegion(r - inner);
  FillWith(path, brush);
}

void TPlayerDevice::InvertRegion(const TLogRegion& region) {
  if (region.Rects.empty() || FPathOpen) return;
  QPainterPath path;
  path.addRegion(RegionOfLogicalRects(region.Rects));
  FPainter.setCompositionMode(QPainter::RasterOp_NotDestination);
  FPainter.fillPath(path, QBrush(Qt::black));
}

}  // namespace tolvane::metafile
