// The enhanced-metafile record interpreter. Every field is read through a
// bounds-checked view of its record, and every object index is checked
// against the handle table the header declares; a record that fails either
// check ends playback. Records this player does not draw (EMF+ comments,
// colour management, escapes) are skipped.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "PlayerDevice.h"

namespace tolvane::metafile {

namespace {

enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
  EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20, EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25,
  EMR_OFFSETCLIPRGN = 26, EMR_MOVETOEX = 27, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30,
  EMR_SCALEVIEWPORTEXTEX = 31, EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35, EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39, EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47,
  EMR_SELECTPALETTE = 48, EMR_CREATEPALETTE = 49, EMR_SETPALETTEENTRIES = 50, EMR_RESIZEPALETTE = 51,
  EMR_EXTFLOODFILL = 53, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_POLYDRAW = 56, EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64, EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66,
  EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_GDICOMMENT = 70, EMR_FILLRGN = 71, EMR_FRAMERGN = 72,
  EMR_INVERTRGN = 73, EMR_PAINTRGN = 74, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77,
  EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91, EMR_POLYDRAW16 = 92, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95, EMR_SMALLTEXTOUT = 108, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116,
  EMR_GRADIENTFILL = 118,
};

constexpr uint32_t StockFlag = 0x80000000;
constexpr uint32_t SrcCopy = 0x00CC0020;

QPointF PointL(const TRecordView& r, size_t at) { return QPointF(r.I32(at), r.I32(at + 4)); }
QPointF PointS(const TRecordView& r, size_t at) { return QPointF(r.I16(at), r.I16(at + 2)); }
QRectF RectL(const TRecordView& r, size_t at) { return QRectF(PointL(r, at), PointL(r, at + 8)); }

// count points (32-bit or 16-bit pairs) from at.
std::vector<QPointF> ReadPoints(const TRecordView& r, size_t at, uint64_t count, bool small) {
  const size_t size = small ? 4 : 8;
  r.NeedArray(at, count, size);
  std::vector<QPointF> points;
  points.reserve(static_cast<size_t>(count));
  for (size_t i = 0; i < count; ++i) points.push_back(small ? PointS(r, at + 4 * i) : PointL(r, at + 8 * i));
  return points;
}

// The rectangles of a region record's data (a 32-byte header, then RECTLs).
std::vector<QRectF> RegionRects(const TRecordView& r, size_t at, uint32_t bytes) {
  r.Need(at, bytes);
  if (bytes < 32) throw TMalformedRecord{};
  const uint32_t count = r.U32(at + 8);
  if (count > (bytes - 32) / 16) throw TMalformedRecord{};
  std::vector<QRectF> rects;
  rects.reserve(count);
  for (uint32_t i = 0; i < count; ++i) rects.push_back(RectL(r, at + 32 + 16 * size_t{i}).normalized());
  return rects;
}

class TEmfPlayer {
public:
  TEmfPlayer(TPlayerDevice& device, uint32_t handles) : FDevice(device), FObjects(std::max<uint32_t>(handles, 1)) {}

  void Play(const uint8_t* data, size_t size) {
    size_t pos = 0;
    while (pos + 8 <= size) {
      TRecordView head(data + pos, 8);
      const uint32_t type = head.U32(0), length = head.U32(4);
      if (length < 8 || length > size - pos || type == EMR_EOF) break;
      try {
        Record(type, TRecordView(data + pos, length));
      } catch (const TMalformedRecord&) {
        break;
      } catch (const std::exception&) {
        break;
      }
      pos += length;
    }
  }

private:
  void Record(uint32_t type, const TRecordView& r);
  void Shape(uint32_t type, const TRecordView& r);
  void Poly(uint32_t type, const TRecordView& r, bool small);
  void PolyPoly(uint32_t type, const TRecordView& r, bool small);
  void CreateObject(uint32_t type, const TRecordView& r);
  void Palette(uint32_t type, const TRecordView& r);
  void Region(uint32_t type, const TRecordView& r);
  void Bitmap(uint32_t type, const TRecordView& r);
  void Text(uint32_t type, const TRecordView& r);
  void Gradient(const TRecordView& r);

  void Store(uint32_t index, TGdiObject object) {
    if (index == 0 || index >= FObjects.size()) throw TMalformedRecord{};
    FObjects[index] = std::move(object);
  }
  TGdiObject Object(uint32_t index) const {
    if (index & StockFlag) return StockObject(index).value_or(TGdiObject{});
    if (index >= FObjects.size()) throw TMalformedRecord{};
    return FObjects[index];
  }
  TLogBrush Brush(uint32_t index) const {
    TGdiObject object = Object(index);
    if (auto* brush = std::get_if<TLogBrush>(&object)) return *brush;
    TLogBrush none;
    none.Style = BS_NULL;
    return none;
  }
  // The source bitmap of a blit record whose DIB offsets start at at;
  // nothing for a record without one or with a bitmap the framework cannot read.
  std::optional<TBlitSource> Source(const TRecordView& r, size_t at, uint32_t usage, QRectF rect, bool dibOrigin,
                                    bool keepAlpha);

  TPlayerDevice& FDevice;
  std::vector<TGdiObject> FObjects;
};

void TEmfPlayer::Record(uint32_t type, const TRecordView& r) {
  TDcState& s = FDevice.State();
  switch (type) {
    case EMR_SETWINDOWEXTEX: FDevice.SetWindowExt(PointL(r, 8)); break;
    case EMR_SETWINDOWORGEX: FDevice.SetWindowOrg(PointL(r, 8)); break;
    case EMR_SETVIEWPORTEXTEX: FDevice.SetViewportExt(PointL(r, 8)); break;
    case EMR_SETVIEWPORTORGEX: FDevice.SetViewportOrg(PointL(r, 8)); break;
    case EMR_SETBRUSHORGEX: s.BrushOrigin = PointL(r, 8); break;
    case EMR_SETPIXELV: FDevice.SetPixel(PointL(r, 8), r.U32(16)); break;
    case EMR_SETMAPMODE: FDevice.SetMapMode(r.I32(8)); break;
    case EMR_SETBKMODE: {
      int32_t mode = r.I32(8);
      if (mode == TRANSPARENT || mode == OPAQUE) s.BkMode = mode;
      break;
    }
    case EMR_SETPOLYFILLMODE: {
      int32_t mode = r.I32(8);
      if (mode == ALTERNATE || mode == WINDING) s.PolyFillMode = mode;
      break;
    }
    case EMR_SETROP2: FDevice.SetRop2(r.I32(8)); break;
    case EMR_SETTEXTALIGN: s.TextAlign = r.U32(8); break;
    case EMR_SETTEXTCOLOR: s.TextColor = r.U32(8); break;
    case EMR_SETBKCOLOR: s.BkColor = r.U32(8); break;
    case EMR_OFFSETCLIPRGN: FDevice.OffsetClip(PointL(r, 8)); break;
    case EMR_MOVETOEX: FDevice.MoveTo(PointL(r, 8)); break;
    case EMR_EXCLUDECLIPRECT: FDevice.ExcludeClipRect(RectL(r, 8)); break;
    case EMR_INTERSECTCLIPRECT: FDevice.IntersectClipRect(RectL(r, 8)); break;
    case EMR_SCALEVIEWPORTEXTEX: FDevice.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case EMR_SCALEWINDOWEXTEX: FDevice.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case EMR_SAVEDC: FDevice.SaveState(); break;
    case EMR_RESTOREDC: FDevice.RestoreState(r.I32(8)); break;
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
      QTransform t(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
      if (type == EMR_SETWORLDTRANSFORM) FDevice.SetWorldTransform(t);
      else FDevice.ModifyWorldTransform(t, r.U32(32));
      break;
    }
    case EMR_SELECTOBJECT: FDevice.SelectObject(Object(r.U32(8))); break;
    case EMR_DELETEOBJECT: {
      uint32_t index = r.U32(8);
      if (!(index & StockFlag)) {
        if (index >= FObjects.size()) throw TMalformedRecord{};
        FObjects[index] = TGdiObject{};
      }
      break;
    }
    case EMR_SELECTPALETTE: {
      TGdiObject object = Object(r.U32(8));
      if (std::holds_alternative<TPaletteRef>(object)) FDevice.SelectObject(object);
      break;
    }
    case EMR_CREATEPEN: case EMR_CREATEBRUSHINDIRECT: case EMR_EXTCREATEFONTINDIRECTW: case EMR_EXTCREATEPEN:
    case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT:
      CreateObject(type, r);
      break;
    case EMR_CREATEPALETTE: case EMR_SETPALETTEENTRIES: case EMR_RESIZEPALETTE: Palette(type, r); break;
    case EMR_ANGLEARC: FDevice.AngleArc(PointL(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case EMR_ELLIPSE: case EMR_RECTANGLE: case EMR_ROUNDRECT: case EMR_ARC: case EMR_CHORD: case EMR_PIE:
    case EMR_ARCTO:
      Shape(type, r);
      break;
    case EMR_EXTFLOODFILL: FDevice.FloodFill(PointL(r, 8), r.U32(16), r.U32(20) == 1); break;
    case EMR_LINETO: FDevice.LineTo(PointL(r, 8)); break;
    case EMR_SETARCDIRECTION: {
      int32_t direction = r.I32(8);
      if (direction == AD_COUNTERCLOCKWISE || direction == AD_CLOCKWISE) s.ArcDirection = direction;
      break;
    }
    case EMR_SETMITERLIMIT: {
      // Written as a float by some producers and as an integer by others.
      uint32_t raw = r.U32(8);
      float f;
      std::memcpy(&f, &raw, sizeof f);
      double limit = std::isfinite(f) && f >= 1 && f <= 1000 ? f : double(raw);
      if (limit >= 1 && limit <= 1000) s.MiterLimit = limit;
      break;
    }
    case EMR_BEGINPATH: FDevice.BeginPath(); break;
    case EMR_ENDPATH: FDevice.EndPath(); break;
    case EMR_CLOSEFIGURE: FDevice.CloseFigure(); break;
    case EMR_FILLPATH: FDevice.FillPath(); break;
    case EMR_STROKEANDFILLPATH: FDevice.StrokeAndFillPath(); break;
    case EMR_STROKEPATH: FDevice.StrokePath(); break;
    case EMR_WIDENPATH: FDevice.WidenPath(); break;
    case EMR_SELECTCLIPPATH: FDevice.SelectClipPath(r.I32(8)); break;
    case EMR_ABORTPATH: FDevice.AbortPath(); break;
    case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_INVERTRGN: case EMR_PAINTRGN: case EMR_EXTSELECTCLIPRGN:
      Region(type, r);
      break;
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_SETDIBITSTODEVICE: case EMR_STRETCHDIBITS:
    case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
      Bitmap(type, r);
      break;
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: case EMR_SMALLTEXTOUT: Text(type, r); break;
    case EMR_GRADIENTFILL: Gradient(r); break;
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYDRAW:
      Poly(type, r, false);
      break;
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16: case EMR_POLYDRAW16:
      Poly(type, r, true);
      break;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: PolyPoly(type, r, false); break;
    case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: PolyPoly(type, r, true); break;
    default: break;  // the header, comments (EMF+ among them) and what draws nothing here
  }
}

void TEmfPlayer::Shape(uint32_t type, const TRecordView& r) {
  const QRectF box = RectL(r, 8);
  switch (type) {
    case EMR_ELLIPSE: FDevice.Ellipse(box); break;
    case EMR_RECTANGLE: FDevice.Rectangle(box); break;
    case EMR_ROUNDRECT: FDevice.RoundRect(box, QSizeF(r.I32(24), r.I32(28))); break;
    case EMR_ARC: FDevice.ArcShape(TArcKind::Arc, box, PointL(r, 24), PointL(r, 32)); break;
    case EMR_CHORD: FDevice.ArcShape(TArcKind::Chord, box, PointL(r, 24), PointL(r, 32)); break;
    case EMR_PIE: FDevice.ArcShape(TArcKind::Pie, box, PointL(r, 24), PointL(r, 32)); break;
    case EMR_ARCTO: FDevice.ArcTo(box, PointL(r, 24), PointL(r, 32)); break;
    default: break;
  }
}

void TEmfPlayer::Poly(uint32_t type, const TRecordView& r, bool small) {
  const uint32_t count = r.U32(24);
  std::vector<QPointF> points = ReadPoints(r, 28, count, small);
  const uint32_t base = small ? type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER) : type;
  switch (base) {
    case EMR_POLYBEZIER: FDevice.PolyBezier(points); break;
    case EMR_POLYGON: FDevice.Polygon(points); break;
    case EMR_POLYLINE: FDevice.Polyline(points); break;
    case EMR_POLYBEZIERTO: FDevice.PolyBezierTo(points); break;
    case EMR_POLYLINETO: FDevice.PolylineTo(points); break;
    default: {  // EMR_POLYDRAW and EMR_POLYDRAW16: the point types follow the points
      const size_t typesAt = 28 + size_t{count} * (small ? 4 : 8);
      const uint8_t* types = r.Bytes(typesAt, count);
      FDevice.PolyDraw(points, std::vector<uint8_t>(types, types + count));
      break;
    }
  }
}

void TEmfPlayer::PolyPoly(uint32_t type, const TRecordView& r, bool small) {
  const uint32_t polygons = r.U32(24), total = r.U32(28);
  r.NeedArray(32, polygons, 4);
  const size_t pointsAt = 32 + size_t{polygons} * 4;
  std::vector<QPointF> points = ReadPoints(r, pointsAt, total, small);
  std::vector<std::vector<QPointF>> parts;
  uint64_t used = 0;
  for (uint32_t i = 0; i < polygons; ++i) {
    const uint32_t n = r.U32(32 + 4 * size_t{i});
    if (n > total - used) throw TMalformedRecord{};
    parts.emplace_back(points.begin() + static_cast<ptrdiff_t>(used), points.begin() + static_cast<ptrdiff_t>(used + n));
    used += n;
  }
  if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16) FDevice.PolyPolygon(parts);
  else FDevice.PolyPolyline(parts);
}

void TEmfPlayer::CreateObject(uint32_t type, const TRecordView& r) {
  const uint32_t index = r.U32(8);
  switch (type) {
    case EMR_CREATEPEN: {
      TLogPen pen;
      pen.Style = r.U32(12) & (PS_STYLE_MASK | PS_ENDCAP_MASK | PS_JOIN_MASK);
      pen.Width = std::abs(double(r.I32(16)));
      pen.Color = r.U32(24);
      // Only solid, empty and inside-frame pens are wider than a pixel.
      uint32_t style = pen.Style & PS_STYLE_MASK;
      if (pen.Width > 1 && style >= PS_DASH && style <= PS_DASHDOTDOT) pen.Style &= ~PS_STYLE_MASK;
      Store(index, pen);
      break;
    }
    case EMR_EXTCREATEPEN: {
      TLogPen pen;
      pen.Style = r.U32(28);
      pen.Width = (pen.Style & PS_GEOMETRIC) ? double(r.U32(32)) : 0;
      pen.Color = r.U32(40);
      if (r.U32(36) == BS_NULL) pen.Style = (pen.Style & ~PS_STYLE_MASK) | PS_NULL;
      if ((pen.Style & PS_STYLE_MASK) == PS_USERSTYLE) {
        const uint32_t entries = r.U32(48);
        r.NeedArray(52, entries, 4);
        for (uint32_t i = 0; i < entries && i < 16; ++i) pen.UserStyle.push_back(r.U32(52 + 4 * size_t{i}));
      }
      Store(index, pen);
      break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      TLogBrush brush;
      brush.Style = r.U32(12);
      brush.Color = r.U32(16);
      brush.Hatch = r.U32(20);
      if (brush.Style != BS_NULL && brush.Style != BS_HATCHED) brush.Style = BS_SOLID;
      Store(index, brush);
      break;
    }
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: {
      const uint32_t usage = r.U32(12), offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
      const uint8_t* bmi = r.Bytes(offBmi, cbBmi);
      const uint8_t* bits = r.Bytes(offBits, cbBits);
      TLogBrush brush;
      brush.Style = BS_DIBPATTERN;
      brush.Color = clBlack;
      if (auto bitmap = FDevice.ReadDib(bmi, cbBmi, bits, cbBits, usage)) brush.Pattern = BitmapImage(*bitmap);
      Store(index, brush);
      break;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
      TLogFont font;
      font.Height = r.I32(12);
      font.Width = r.I32(16);
      font.Escapement = r.I32(20);
      font.Orientation = r.I32(24);
      font.Weight = r.I32(28);
      font.Italic = r.U8(32) != 0;
      font.Underline = r.U8(33) != 0;
      font.StrikeOut = r.U8(34) != 0;
      font.CharSet = r.U8(35);
      for (size_t i = 0; i < 32 && r.Has(40 + 2 * i, 2); ++i) {
        char16_t c = r.U16(40 + 2 * i);
        if (!c) break;
        font.FaceName.append(QChar(c));
      }
      Store(index, font);
      break;
    }
    default: break;
  }
}

void TEmfPlayer::Palette(uint32_t type, const TRecordView& r) {
  const uint32_t index = r.U32(8);
  auto read = [&](size_t at, uint32_t count) {
    r.NeedArray(at, count, 4);
    std::vector<TColor> colours;
    for (uint32_t i = 0; i < count; ++i) colours.push_back(RGBColor(r.U8(at + 4 * i), r.U8(at + 4 * i + 1), r.U8(at + 4 * i + 2)));
    return colours;
  };
  if (type == EMR_CREATEPALETTE) {
    Store(index, std::make_shared<std::vector<TColor>>(read(16, r.U16(14))));
    return;
  }
  if (index >= FObjects.size()) throw TMalformedRecord{};
  auto* palette = std::get_if<TPaletteRef>(&FObjects[index]);
  if (!palette || !*palette) return;
  if (type == EMR_RESIZEPALETTE) {
    (*palette)->resize(std::min<uint32_t>(r.U32(12), 1024), clBlack);
  } else {
    const uint32_t start = r.U32(12), count = r.U32(16);
    std::vector<TColor> colours = read(20, count);
    for (size_t i = 0; i < colours.size() && start < (*palette)->size() && i < (*palette)->size() - start; ++i)
      (**palette)[start + i] = colours[i];
  }
}

void TEmfPlayer::Region(uint32_t type, const TRecordView& r) {
  if (type == EMR_EXTSELECTCLIPRGN) {
    const uint32_t bytes = r.U32(8);
    const int32_t mode = r.I32(12);
    if (bytes == 0) {
      FDevice.SelectDeviceClip(nullptr, mode);
    } else {
      std::vector<QRectF> rects = RegionRects(r, 16, bytes);
      FDevice.SelectDeviceClip(&rects, mode);
    }
    return;
  }
  const uint32_t bytes = r.U32(24);
  TLogRegion region;
  switch (type) {
    case EMR_FILLRGN:
      region.Rects = RegionRects(r, 32, bytes);
      FDevice.FillRegion(region, Brush(r.U32(28)));
      break;
    case EMR_FRAMERGN:
      region.Rects = RegionRects(r, 40, bytes);
      FDevice.FrameRegion(region, Brush(r.U32(28)), QSizeF(r.I32(32), r.I32(36)));
      break;
    case EMR_INVERTRGN:
      region.Rects = RegionRects(r, 28, bytes);
      FDevice.InvertRegion(region);
      break;
    default:  // EMR_PAINTRGN
      region.Rects = RegionRects(r, 28, bytes);
      FDevice.FillRegion(region, FDevice.State().Brush);
      break;
  }
}

std::optional<TBlitSource> TEmfPlayer::Source(const TRecordView& r, size_t at, uint32_t usage, QRectF rect,
                                               bool dibOrigin, bool keepAlpha) {
  const uint32_t offBmi = r.U32(at), cbBmi = r.U32(at + 4), offBits = r.U32(at + 8), cbBits = r.U32(at + 12);
  if (cbBmi == 0) return std::nullopt;
  const uint8_t* bmi = r.Bytes(offBmi, cbBmi);
  const uint8_t* bits = r.Bytes(offBits, cbBits);
  bool bottomUp = true;
  TBlitSource source;
  source.Bitmap = FDevice.ReadDib(bmi, cbBmi, bits, cbBits, usage, &bottomUp);
  if (!source.Bitmap) return std::nullopt;
  source.HasAlpha = keepAlpha && cbBmi >= 16 && r.U32(offBmi) >= 40 && r.U16(offBmi + 14) == 32;
  // Device-independent bitmap records count source rows from the bottom
  // of a bottom-up bitmap.
  if (dibOrigin && bottomUp) rect.moveTop(source.Height() - rect.top() - rect.height());
  source.Rect = rect;
  return source;
}

void TEmfPlayer::Bitmap(uint32_t type, const TRecordView& r) {
  switch (type) {
    case EMR_BITBLT:
    case EMR_STRETCHBLT: {
      const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
      const uint32_t rop = r.U32(40);
      QRectF src(r.I32(44), r.I32(48), dest.width(), dest.height());
      if (type == EMR_STRETCHBLT) src.setSize(QSizeF(r.I32(100), r.I32(104)));
      if (r.U32(88) == 0) {
        FDevice.Blit(dest, nullptr, rop);
        return;
      }
      if (auto source = Source(r, 84, r.U32(80), src, false, false)) FDevice.Blit(dest, &*source, rop);
      break;
    }
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: {
      const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
      const QRectF src(r.I32(44), r.I32(48), r.I32(100), r.I32(104));
      const bool alpha = type == EMR_ALPHABLEND;
      const uint8_t constant = r.U8(42), format = r.U8(43);
      auto source = Source(r, 84, r.U32(80), src, false, alpha && (format & 1));
      if (!source) return;
      if (alpha) FDevice.AlphaBlend(dest, *source, constant, (format & 1) != 0);
      else FDevice.TransparentBlit(dest, *source, r.U32(40));
      break;
    }
    case EMR_STRETCHDIBITS: {
      const QRectF dest(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
      const QRectF src(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      const uint32_t rop = r.U32(68);
      if (r.U32(52) == 0) {
        FDevice.Blit(dest, nullptr, rop);
        return;
      }
      if (auto source = Source(r, 48, r.U32(64), src, true, false)) FDevice.Blit(dest, &*source, rop);
      break;
    }
    default: {  // EMR_SETDIBITSTODEVICE: the bits hold scan lines [start, start + scans)
      const int32_t cx = r.I32(40), cy = r.I32(44);
      const QRectF dest(r.I32(24), r.I32(28), cx, cy);
      const uint32_t start = r.U32(68), scans = r.U32(72);
      if (auto source = Source(r, 48, r.U32(64), QRectF(r.I32(32), r.I32(36), cx, cy), true, false)) {
        if (start != 0 || scans != static_cast<uint32_t>(source->Height())) return;
        FDevice.Blit(dest, &*source, SrcCopy);
      }
      break;
    }
  }
}

void TEmfPlayer::Text(uint32_t type, const TRecordView& r) {
  if (type == EMR_SMALLTEXTOUT) {
    enum : uint32_t { ETO_NO_RECT = 0x100, ETO_SMALL_CHARS = 0x200 };
    const QPointF ref = PointL(r, 8);
    const uint32_t count = r.U32(16), options = r.U32(20);
    std::optional<QRectF> rect;
    size_t at = 36;
    if (!(options & ETO_NO_RECT)) rect = RectL(r, 36), at = 52;
    QString text;
    if (options & ETO_SMALL_CHARS) {
      text = AnsiText(r.Bytes(at, count), count);
    } else {
      r.NeedArray(at, count, 2);
      for (uint32_t i = 0; i < count; ++i) text.append(QChar(char16_t(r.U16(at + 2 * size_t{i}))));
    }
    FDevice.TextOut(ref, text, {}, options & ~(ETO_NO_RECT | ETO_SMALL_CHARS), rect);
    return;
  }
  const QPointF ref = PointL(r, 36);
  const uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52), offDx = r.U32(72);
  QString text;
  if (type == EMR_EXTTEXTOUTW) {
    r.NeedArray(offString, count, 2);
    for (uint32_t i = 0; i < count; ++i) text.append(QChar(char16_t(r.U16(offString + 2 * size_t{i}))));
  } else {
    text = AnsiText(r.Bytes(offString, count), count);
  }
  std::vector<double> dx;
  if (offDx != 0 && count > 0) {
    const size_t step = (options & ETO_PDY) ? 8 : 4;
    r.NeedArray(offDx, count, step);
    for (uint32_t i = 0; i < count; ++i) dx.push_back(r.I32(offDx + step * i));
  }
  std::optional<QRectF> rect;
  if (options & (ETO_OPAQUE | ETO_CLIPPED)) rect = RectL(r, 56);
  FDevice.TextOut(ref, text, dx, options, rect);
}

void TEmfPlayer::Gradient(const TRecordView& r) {
  const uint32_t vertices = r.U32(24), meshes = r.U32(28), mode = r.U32(32);
  if (mode > 2) return;
  r.NeedArray(36, vertices, 16);
  const size_t meshAt = 36 + size_t{vertices} * 16;
  const size_t indices = mode == 2 ? 3 : 2;
  r.NeedArray(meshAt, meshes, 4 * indices);
  auto point = [&](uint32_t i) { return PointL(r, 36 + 16 * size_t{i}); };
  auto colour = [&](uint32_t i) {
    const size_t at = 36 + 16 * size_t{i} + 8;
    return QColor(r.U16(at) >> 8, r.U16(at + 2) >> 8, r.U16(at + 4) >> 8);
  };
  for (uint32_t m = 0; m < meshes; ++m) {
    uint32_t v[3] = {0, 0, 0};
    for (size_t k = 0; k < indices; ++k) {
      v[k] = r.U32(meshAt + (m * indices + k) * 4);
      if (v[k] >= vertices) throw TMalformedRecord{};
    }
    if (mode == 2) {
      const QPointF p[3] = {point(v[0]), point(v[1]), point(v[2])};
      const QColor c[3] = {colour(v[0]), colour(v[1]), colour(v[2])};
      FDevice.GradientTriangle(p, c);
    } else {
      FDevice.GradientRect(point(v[0]), point(v[1]), colour(v[0]), colour(v[1]), mode == 1);
    }
  }
}

// The reference device's pixels per millimetre from the header: the
// micrometre sizes when the header has them (they follow the millimetre
// sizes only in headers that end after them, before any description) and
// agree with the millimetres, else the millimetre sizes.
QPointF HeaderResolution(const TRecordView& h) {
  QPointF resolution(96 / 25.4, 96 / 25.4);
  const double devX = h.I32(72), devY = h.I32(76), mmX = h.I32(80), mmY = h.I32(84);
  if (!(devX > 0 && devY > 0 && mmX > 0 && mmY > 0)) return resolution;
  resolution = QPointF(devX / mmX, devY / mmY);
  size_t end = h.U32(4);
  if (h.U32(60) > 0 && h.U32(64) > 0) end = std::min<size_t>(end, h.U32(64));
  if (end >= 108 && h.Has(100, 8)) {
    const double umX = h.I32(100), umY = h.I32(104);
    if (std::fabs(umX - mmX * 1000) <= 1000 && std::fabs(umY - mmY * 1000) <= 1000 && umX > 0 && umY > 0)
      resolution = QPointF(devX * 1000 / umX, devY * 1000 / umY);
  }
  return resolution;
}

}  // namespace

void PlayEnhanced(const std::vector<uint8_t>& data, const QRectF& frame, QImage& image, const QRectF& rect) {
  if (data.size() < 88 || frame.width() == 0 || frame.height() == 0) return;
  const TRecordView header(data.data(), data.size());
  const size_t size = std::min<size_t>(data.size(), header.U32(48));
  const QPointF resolution = HeaderResolution(header);
  // Reference-device pixels to 0.01 mm, then the frame onto rect.
  const double kx = 100 / resolution.x() * rect.width() / frame.width();
  const double ky = 100 / resolution.y() * rect.height() / frame.height();
  const QTransform deviceToImage(kx, 0, 0, ky, rect.left() - frame.left() * rect.width() / frame.width(),
                                 rect.top() - frame.top() * rect.height() / frame.height());
  TPlayerDevice device(image, deviceToImage, resolution);
  device.SetBitmapBudget(BitmapBudget(size));
  TEmfPlayer player(device, header.U16(56));
  player.Play(data.data(), size);
}

}  // namespace tolvane::metafile
