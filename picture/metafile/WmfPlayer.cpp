// The Windows-metafile record interpreter. Records carry 16-bit parameters,
// most of them in reverse order; objects take the lowest free slot of the
// object table when they are made, and records name them by slot. Every
// field is read through a bounds-checked view of its record; a record that
// does not hold what it claims, or names a slot past the table, ends playback.
#include <algorithm>

#include "PlayerDevice.h"

namespace tolvane::metafile {

namespace {

enum : uint16_t {
  META_SAVEDC = 0x001E, META_REALIZEPALETTE = 0x0035, META_SETPALENTRIES = 0x0037, META_CREATEPALETTE = 0x00F7,
  META_SETBKMODE = 0x0102, META_SETROP2 = 0x0104, META_SETPOLYFILLMODE = 0x0106, META_RESTOREDC = 0x0127,
  META_INVERTREGION = 0x012A, META_PAINTREGION = 0x012B, META_SELECTCLIPREGION = 0x012C, META_SELECTOBJECT = 0x012D,
  META_SETTEXTALIGN = 0x012E, META_RESIZEPALETTE = 0x0139, META_DIBCREATEPATTERNBRUSH = 0x0142,
  META_DELETEOBJECT = 0x01F0, META_CREATEPATTERNBRUSH = 0x01F9, META_SETBKCOLOR = 0x0201,
  META_SETTEXTCOLOR = 0x0209, META_SETWINDOWORG = 0x020B, META_SETWINDOWEXT = 0x020C,
  META_OFFSETWINDOWORG = 0x020F, META_LINETO = 0x0213, META_MOVETO = 0x0214, META_OFFSETCLIPRGN = 0x0220,
  META_FILLREGION = 0x0228, META_SELECTPALETTE = 0x0234, META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEFONTINDIRECT = 0x02FB, META_CREATEBRUSHINDIRECT = 0x02FC, META_POLYGON = 0x0324,
  META_POLYLINE = 0x0325, META_SCALEWINDOWEXT = 0x0410, META_EXCLUDECLIPRECT = 0x0415,
  META_INTERSECTCLIPRECT = 0x0416, META_ELLIPSE = 0x0418, META_FLOODFILL = 0x0419, META_RECTANGLE = 0x041B,
  META_SETPIXEL = 0x041F, META_FRAMEREGION = 0x0429, META_ANIMATEPALETTE = 0x0436, META_TEXTOUT = 0x0521,
  META_POLYPOLYGON = 0x0538, META_EXTFLOODFILL = 0x0548, META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D,
  META_CREATEREGION = 0x06FF, META_ARC = 0x0817, META_PIE = 0x081A, META_CHORD = 0x0830,
  META_BITBLT = 0x0922, META_DIBBITBLT = 0x0940, META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23,
  META_DIBSTRETCHBLT = 0x0B41, META_SETDIBTODEV = 0x0D33, META_STRETCHDIB = 0x0F43,
  // Obsolete records that still take a slot of the object table.
  META_CREATEBRUSH = 0x00F8, META_CREATEBITMAPINDIRECT = 0x02FD, META_CREATEBITMAP = 0x06FE,
};

constexpr size_t P = 6;  // parameters start after the size and function fields
constexpr uint32_t SrcCopy = 0x00CC0020;
constexpr size_t MaxObjects = 65535;

QPointF PointYX(const TRecordView& r, size_t at) { return QPointF(r.I16(at + 2), r.I16(at)); }
// A box stored as bottom, right, top, left.
QRectF BoxBRTL(const TRecordView& r, size_t at) {
  return QRectF(QPointF(r.I16(at + 6), r.I16(at + 4)), QPointF(r.I16(at + 2), r.I16(at)));
}

std::vector<QPointF> ReadPoints(const TRecordView& r, size_t at, uint32_t count) {
  r.NeedArray(at, count, 4);
  std::vector<QPointF> points;
  points.reserve(count);
  for (uint32_t i = 0; i < count; ++i) points.emplace_back(r.I16(at + 4 * size_t{i}), r.I16(at + 4 * size_t{i} + 2));
  return points;
}

// An old device-dependent bitmap (1, 24 or 32 bits per pixel, one plane),
// paid for from the playback's bitmap budget like any other.
std::shared_ptr<TBitmap> ReadBitmap16(TPlayerDevice& device, const TRecordView& r, size_t at, TColor zero, TColor one) {
  const int32_t width = r.I16(at + 2), height = r.I16(at + 4), widthBytes = r.I16(at + 6);
  const uint8_t planes = r.U8(at + 8), bpp = r.U8(at + 9);
  if (width <= 0 || height <= 0 || planes != 1 || (bpp != 1 && bpp != 24 && bpp != 32)) return nullptr;
  // A row must hold every pixel's bits, the last byte of a 1-bit row too.
  if (int64_t{widthBytes} * 8 < int64_t{width} * bpp) return nullptr;
  if (!device.SpendBitmapBudget(int64_t{width} * height)) return nullptr;
  const uint8_t* bits = r.Bytes(at + 10, static_cast<size_t>(widthBytes) * height);
  auto bitmap = std::make_shared<TBitmap>();
  bitmap->SetPixelLayout(pl32Bit);
  bitmap->ResizeWidth(width);
  bitmap->ResizeHeight(height);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = bits + static_cast<size_t>(y) * widthBytes;
    uint8_t* dst = bitmap->RowPointer(y);
    for (int32_t x = 0; x < width; ++x) {
      TColor c = bpp == 1 ? ((src[x >> 3] >> (7 - (x & 7))) & 1 ? one : zero)
                          : RGBColor(src[x * (bpp / 8) + 2], src[x * (bpp / 8) + 1], src[x * (bpp / 8)]);
      dst[4 * x] = GetBValue(c), dst[4 * x + 1] = GetGValue(c), dst[4 * x + 2] = GetRValue(c), dst[4 * x + 3] = 255;
    }
  }
  return bitmap;
}

class TWmfPlayer {
public:
  TWmfPlayer(TPlayerDevice& device, uint16_t objects) : FDevice(device), FObjects(objects) {}

  void Play(const uint8_t* data, size_t size) {
    size_t pos = 0;
    while (pos + P <= size) {
      TRecordView head(data + pos, P);
      const uint64_t length = uint64_t{head.U32(0)} * 2;
      const uint16_t function = head.U16(4);
      if (length < P || length > size - pos || function == 0) break;
      try {
        Record(function, TRecordView(data + pos, static_cast<size_t>(length)));
      } catch (const TMalformedRecord&) {
        break;
      } catch (const std::exception&) {
        break;
      }
      pos += static_cast<size_t>(length);
    }
  }

private:
  void Record(uint16_t function, const TRecordView& r);
  void CreateObject(uint16_t function, const TRecordView& r);
  void PaletteRecord(uint16_t function, const TRecordView& r);
  void RegionRecord(uint16_t function, const TRecordView& r);
  void Bitmap(uint16_t function, const TRecordView& r);
  void Text(uint16_t function, const TRecordView& r);
  TLogRegion ReadRegion(const TRecordView& r);

  void Add(TGdiObject object) {
    for (auto& slot : FObjects)
      if (!slot) {
        slot = std::move(object);
        return;
      }
    if (FObjects.size() >= MaxObjects) throw TMalformedRecord{};
    FObjects.emplace_back(std::move(object));
  }
  std::optional<TGdiObject>& Slot(uint16_t index) {
    if (index >= FObjects.size()) throw TMalformedRecord{};
    return FObjects[index];
  }
  template <class T> const T* Get(uint16_t index) {
    auto& slot = Slot(index);
    return slot ? std::get_if<T>(&*slot) : nullptr;
  }
  std::shared_ptr<TBitmap> Dib(const TRecordView& r, size_t at, uint32_t usage, bool* bottomUp = nullptr) {
    return FDevice.ReadDib(r.Bytes(at, r.Size() - std::min(at, r.Size())), r.Size() - std::min(at, r.Size()), nullptr, 0,
                           usage, bottomUp);
  }

  TPlayerDevice& FDevice;
  std::vector<std::optional<TGdiObject>> FObjects;  // an empty slot is free
};

void TWmfPlayer::Record(uint16_t function, const TRecordView& r) {
  TDcState& s = FDevice.State();
  switch (function) {
    case META_SAVEDC: FDevice.SaveState(); break;
    case META_RESTOREDC: FDevice.RestoreState(r.I16(P)); break;
    case META_SETBKMODE: {
      int mode = r.U16(P);
      if (mode == TRANSPARENT || mode == OPAQUE) s.BkMode = mode;
      break;
    }
    case META_SETROP2: FDevice.SetRop2(r.U16(P)); break;
    case META_SETPOLYFILLMODE: {
      int mode = r.U16(P);
      if (mode == ALTERNATE || mode == WINDING) s.PolyFillMode = mode;
      break;
    }
    case META_SETTEXTALIGN: s.TextAlign = r.U16(P); break;
    case META_SETBKCOLOR: s.BkColor = r.U32(P); break;
    case META_SETTEXTCOLOR: s.TextColor = r.U32(P); break;
    case META_SETWINDOWORG: FDevice.SetWindowOrg(PointYX(r, P)); break;
    case META_SETWINDOWEXT: FDevice.SetWindowExt(PointYX(r, P)); break;
    case META_OFFSETWINDOWORG: FDevice.SetWindowOrg(s.WindowOrg + PointYX(r, P)); break;
    case META_SCALEWINDOWEXT: FDevice.ScaleWindowExt(r.I16(P + 6), r.I16(P + 4), r.I16(P + 2), r.I16(P)); break;
    case META_LINETO: FDevice.LineTo(PointYX(r, P)); break;
    case META_MOVETO: FDevice.MoveTo(PointYX(r, P)); break;
    case META_POLYLINE: FDevice.Polyline(ReadPoints(r, P + 2, r.U16(P))); break;
    case META_POLYGON: FDevice.Polygon(ReadPoints(r, P + 2, r.U16(P))); break;
    case META_POLYPOLYGON: {
      const uint16_t polygons = r.U16(P);
      r.NeedArray(P + 2, polygons, 2);
      size_t at = P + 2 + size_t{polygons} * 2;
      std::vector<std::vector<QPointF>> parts;
      for (uint16_t i = 0; i < polygons; ++i) {
        const uint16_t n = r.U16(P + 2 + 2 * size_t{i});
        parts.push_back(ReadPoints(r, at, n));
        at += size_t{n} * 4;
      }
      FDevice.PolyPolygon(parts);
      break;
    }
    case META_RECTANGLE: FDevice.Rectangle(BoxBRTL(r, P)); break;
    case META_ELLIPSE: FDevice.Ellipse(BoxBRTL(r, P)); break;
    case META_ROUNDRECT: FDevice.RoundRect(BoxBRTL(r, P + 4), QSizeF(r.I16(P + 2), r.I16(P))); break;
    case META_ARC: case META_PIE: case META_CHORD: {
      const TArcKind kind = function == META_ARC ? TArcKind::Arc : function == META_PIE ? TArcKind::Pie : TArcKind::Chord;
      FDevice.ArcShape(kind, BoxBRTL(r, P + 8), PointYX(r, P + 4), PointYX(r, P));
      break;
    }
    case META_SETPIXEL: FDevice.SetPixel(PointYX(r, P + 4), r.U32(P)); break;
    case META_FLOODFILL: FDevice.FloodFill(PointYX(r, P + 4), r.U32(P), false); break;
    case META_EXTFLOODFILL: FDevice.FloodFill(PointYX(r, P + 6), r.U32(P + 2), r.U16(P) == 1); break;
    case META_EXCLUDECLIPRECT: FDevice.ExcludeClipRect(BoxBRTL(r, P)); break;
    case META_INTERSECTCLIPRECT: FDevice.IntersectClipRect(BoxBRTL(r, P)); break;
    case META_OFFSETCLIPRGN: FDevice.OffsetClip(PointYX(r, P)); break;
    case META_SELECTOBJECT: {
      auto& slot = Slot(r.U16(P));
      if (slot) FDevice.SelectObject(*slot);
      break;
    }
    case META_SELECTPALETTE: {
      if (const TPaletteRef* palette = Get<TPaletteRef>(r.U16(P))) FDevice.SelectObject(*palette);
      break;
    }
    case META_DELETEOBJECT: Slot(r.U16(P)).reset(); break;
    case META_CREATEPENINDIRECT: case META_CREATEBRUSHINDIRECT: case META_CREATEFONTINDIRECT:
    case META_DIBCREATEPATTERNBRUSH: case META_CREATEPATTERNBRUSH: case META_CREATEREGION:
    case META_CREATEPALETTE: case META_CREATEBRUSH: case META_CREATEBITMAPINDIRECT: case META_CREATEBITMAP:
      CreateObject(function, r);
      break;
    case META_SETPALENTRIES: case META_ANIMATEPALETTE: case META_RESIZEPALETTE: PaletteRecord(function, r); break;
    case META_FILLREGION: case META_FRAMEREGION: case META_INVERTREGION: case META_PAINTREGION:
    case META_SELECTCLIPREGION:
      RegionRecord(function, r);
      break;
    case META_PATBLT: case META_BITBLT: case META_DIBBITBLT: case META_STRETCHBLT: case META_DIBSTRETCHBLT:
    case META_STRETCHDIB: case META_SETDIBTODEV:
      Bitmap(function, r);
      break;
    case META_TEXTOUT: case META_EXTTEXTOUT: Text(function, r); break;
    default: break;  // mapping modes and viewports belong to the player; escapes draw nothing
  }
}

void TWmfPlayer::CreateObject(uint16_t function, const TRecordView& r) {
  switch (function) {
    case META_CREATEPENINDIRECT: {
      TLogPen pen;
      pen.Style = r.U16(P) & (PS_STYLE_MASK | PS_ENDCAP_MASK | PS_JOIN_MASK);
      pen.Width = std::abs(double(r.I16(P + 2)));
      pen.Color = r.U32(P + 6);
      uint32_t style = pen.Style & PS_STYLE_MASK;
      if (pen.Width > 1 && style >= PS_DASH && style <= PS_DASHDOTDOT) pen.Style &= ~PS_STYLE_MASK;
      Add(pen);
      break;
    }
    case META_CREATEBRUSHINDIRECT: {
      TLogBrush brush;
      brush.Style = r.U16(P);
      brush.Color = r.U32(P + 2);
      brush.Hatch = r.U16(P + 6);
      if (brush.Style != BS_NULL && brush.Style != BS_HATCHED) brush.Style = BS_SOLID;
      Add(brush);
      break;
    }
    case META_CREATEFONTINDIRECT: {
      TLogFont font;
      font.Height = r.I16(P);
      font.Width = r.I16(P + 2);
      font.Escapement = r.I16(P + 4);
      font.Orientation = r.I16(P + 6);
      font.Weight = r.I16(P + 8);
      font.Italic = r.U8(P + 10) != 0;
      font.Underline = r.U8(P + 11) != 0;
      font.StrikeOut = r.U8(P + 12) != 0;
      font.CharSet = r.U8(P + 13);
      size_t n = 0;
      while (n < 32 && r.Has(P + 18 + n, 1) && r.U8(P + 18 + n)) ++n;
      font.FaceName = AnsiText(r.Bytes(P + 18, n), n);
      Add(font);
      break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
      TLogBrush brush;
      brush.Style = BS_DIBPATTERN;
      brush.Color = clBlack;
      if (auto bitmap = Dib(r, P + 4, r.U16(P + 2))) brush.Pattern = BitmapImage(*bitmap);
      Add(brush);
      break;
    }
    case META_CREATEPATTERNBRUSH: {
      // A bitmap header, 18 bytes the format leaves unused, then the bits.
      TLogBrush brush;
      brush.Style = BS_PATTERN;
      brush.Color = clBlack;
      if (r.Has(P, 10)) {
        const int32_t width = r.I16(P + 2), height = r.I16(P + 4), widthBytes = r.I16(P + 6);
        if (width > 0 && height > 0 && widthBytes > 0 && r.Has(P + 32, static_cast<size_t>(widthBytes) * height)) {
          std::vector<uint8_t> copy(r.Bytes(P, 10), r.Bytes(P, 10) + 10);
          const uint8_t* bits = r.Bytes(P + 32, static_cast<size_t>(widthBytes) * height);
          copy.insert(copy.end(), bits, bits + static_cast<size_t>(widthBytes) * height);
          if (auto bitmap = ReadBitmap16(FDevice, TRecordView(copy.data(), copy.size()), 0, clBlack, clWhite))
            brush.Pattern = BitmapImage(*bitmap);
        }
      }
      Add(brush);
      break;
    }
    case META_CREATEREGION: Add(ReadRegion(r)); break;
    case META_CREATEPALETTE: {
      const uint16_t count = r.U16(P + 2);
      r.NeedArray(P + 4, count, 4);
      auto colours = std::make_shared<std::vector<TColor>>();
      for (uint16_t i = 0; i < count; ++i) {
        const size_t at = P + 4 + 4 * size_t{i};
        colours->push_back(RGBColor(r.U8(at), r.U8(at + 1), r.U8(at + 2)));
      }
      Add(colours);
      break;
    }
    default: Add(TGdiObject{}); break;  // a placeholder keeps later slots where the file expects them
  }
}

TLogRegion TWmfPlayer::ReadRegion(const TRecordView& r) {
  // Header: next in chain, object type, object count, region size, scan
  // count, largest scan, bounding box; then the scans, each a count of x
  // values, top, bottom, the left/right pairs and the count again.
  TLogRegion region;
  const int16_t scans = r.I16(P + 10);
  const QRectF bounds = QRectF(QPointF(r.I16(P + 14), r.I16(P + 16)), QPointF(r.I16(P + 18), r.I16(P + 20))).normalized();
  size_t at = P + 22;
  for (int16_t i = 0; i < scans; ++i) {
    const uint16_t count = r.U16(at);
    const int16_t top = r.I16(at + 2), bottom = r.I16(at + 4);
    r.NeedArray(at + 6, count, 2);
    for (uint16_t k = 0; k + 1 < count; k += 2) {
      const int16_t left = r.I16(at + 6 + 2 * size_t{k}), right = r.I16(at + 8 + 2 * size_t{k});
      region.Rects.push_back(QRectF(QPointF(left, top), QPointF(right, bottom)).normalized());
    }
    at += 6 + size_t{count} * 2 + 2;
  }
  if (scans <= 0 && !bounds.isEmpty()) region.Rects.push_back(bounds);
  return region;
}

void TWmfPlayer::PaletteRecord(uint16_t function, const TRecordView& r) {
  TPaletteRef palette = FDevice.State().Palette;
  if (!palette) return;
  if (function == META_RESIZEPALETTE) {
    palette->resize(r.U16(P), clBlack);
    return;
  }
  const uint16_t start = r.U16(P), count = r.U16(P + 2);
  r.NeedArray(P + 4, count, 4);
  for (uint16_t i = 0; i < count && size_t{start} + i < palette->size(); ++i) {
    const size_t at = P + 4 + 4 * size_t{i};
    (*palette)[start + i] = RGBColor(r.U8(at), r.U8(at + 1), r.U8(at + 2));
  }
}

void TWmfPlayer::RegionRecord(uint16_t function, const TRecordView& r) {
  const TLogRegion* region = Get<TLogRegion>(r.U16(P));
  auto brush = [&](uint16_t index) {
    const TLogBrush* b = Get<TLogBrush>(index);
    if (b) return *b;
    TLogBrush none;
    none.Style = BS_NULL;
    return none;
  };
  switch (function) {
    case META_FILLREGION: {
      TLogBrush b = brush(r.U16(P + 2));
      if (region) FDevice.FillRegion(*region, b);
      break;
    }
    case META_FRAMEREGION: {
      TLogBrush b = brush(r.U16(P + 2));
      if (region) FDevice.FrameRegion(*region, b, QSizeF(r.I16(P + 6), r.I16(P + 4)));
      break;
    }
    case META_INVERTREGION: if (region) FDevice.InvertRegion(*region); break;
    case META_PAINTREGION: if (region) FDevice.FillRegion(*region, FDevice.State().Brush); break;
    default:  // META_SELECTCLIPREGION; slot 0 or an empty slot stands for no clipping
      if (region) FDevice.SelectLogicalClip(*region);
      else FDevice.SelectDeviceClip(nullptr, RGN_COPY);
      break;
  }
}

void TWmfPlayer::Bitmap(uint16_t function, const TRecordView& r) {
  const size_t words = (r.Size() - P) / 2;
  const TDcState& s = FDevice.State();
  switch (function) {
    case META_PATBLT:
      FDevice.Blit(QRectF(r.I16(P + 10), r.I16(P + 8), r.I16(P + 6), r.I16(P + 4)), nullptr, r.U32(P));
      break;
    case META_BITBLT:
    case META_DIBBITBLT: {
      const uint32_t rop = r.U32(P);
      if (words == 9) {  // no bitmap: a pattern blit
        FDevice.Blit(QRectF(r.I16(P + 16), r.I16(P + 14), r.I16(P + 12), r.I16(P + 10)), nullptr, rop);
        return;
      }
      const QRectF dest(r.I16(P + 14), r.I16(P + 12), r.I16(P + 10), r.I16(P + 8));
      TBlitSource source;
      source.Rect = QRectF(r.I16(P + 6), r.I16(P + 4), dest.width(), dest.height());
      source.Bitmap = function == META_DIBBITBLT ? Dib(r, P + 16, DIB_RGB_COLORS)
                                                 : ReadBitmap16(FDevice, r, P + 16, s.TextColor, s.BkColor);
      if (source.Bitmap) FDevice.Blit(dest, &source, rop);
      break;
    }
    case META_STRETCHBLT:
    case META_DIBSTRETCHBLT: {
      const uint32_t rop = r.U32(P);
      if (words == 11) {
        FDevice.Blit(QRectF(r.I16(P + 20), r.I16(P + 18), r.I16(P + 16), r.I16(P + 14)), nullptr, rop);
        return;
      }
      const QRectF dest(r.I16(P + 18), r.I16(P + 16), r.I16(P + 14), r.I16(P + 12));
      TBlitSource source;
      source.Rect = QRectF(r.I16(P + 10), r.I16(P + 8), r.I16(P + 6), r.I16(P + 4));
      source.Bitmap = function == META_DIBSTRETCHBLT ? Dib(r, P + 20, DIB_RGB_COLORS)
                                                     : ReadBitmap16(FDevice, r, P + 20, s.TextColor, s.BkColor);
      if (source.Bitmap) FDevice.Blit(dest, &source, rop);
      break;
    }
    case META_STRETCHDIB: {
      const uint32_t rop = r.U32(P);
      const QRectF dest(r.I16(P + 20), r.I16(P + 18), r.I16(P + 16), r.I16(P + 14));
      QRectF src(r.I16(P + 12), r.I16(P + 10), r.I16(P + 8), r.I16(P + 6));
      bool bottomUp = true;
      TBlitSource source;
      source.Bitmap = Dib(r, P + 22, r.U16(P + 4), &bottomUp);
      if (!source.Bitmap) return;
      if (bottomUp) src.moveTop(source.Height() - src.top() - src.height());
      source.Rect = src;
      FDevice.Blit(dest, &source, rop);
      break;
    }
    default: {  // META_SETDIBTODEV: only records that carry the whole bitmap are drawn
      const uint16_t scans = r.U16(P + 2), start = r.U16(P + 4);
      const int16_t width = r.I16(P + 12), height = r.I16(P + 10);
      const QRectF dest(r.I16(P + 16), r.I16(P + 14), width, height);
      QRectF src(r.I16(P + 8), r.I16(P + 6), width, height);
      bool bottomUp = true;
      TBlitSource source;
      source.Bitmap = Dib(r, P + 18, r.U16(P), &bottomUp);
      if (!source.Bitmap || start != 0 || scans != source.Height()) return;
      if (bottomUp) src.moveTop(source.Height() - src.top() - src.height());
      source.Rect = src;
      FDevice.Blit(dest, &source, SrcCopy);
      break;
    }
  }
}

void TWmfPlayer::Text(uint16_t function, const TRecordView& r) {
  if (function == META_TEXTOUT) {
    const uint16_t length = r.U16(P);
    const size_t padded = (size_t{length} + 1) & ~size_t{1};
    QString text = AnsiText(r.Bytes(P + 2, length), length);
    FDevice.TextOut(PointYX(r, P + 2 + padded), text, {}, 0, std::nullopt);
    return;
  }
  const QPointF ref = PointYX(r, P);
  const uint16_t length = r.U16(P + 4), options = r.U16(P + 6);
  size_t at = P + 8;
  std::optional<QRectF> rect;
  if (options & (ETO_OPAQUE | ETO_CLIPPED)) {
    rect = QRectF(QPointF(r.I16(at), r.I16(at + 2)), QPointF(r.I16(at + 4), r.I16(at + 6)));
    at += 8;
  }
  QString text = AnsiText(r.Bytes(at, length), length);
  at += (size_t{length} + 1) & ~size_t{1};
  std::vector<double> dx;
  if (length > 0 && r.Has(at, size_t{length} * 2))
    for (uint16_t i = 0; i < length; ++i) dx.push_back(r.I16(at + 2 * size_t{i}));
  FDevice.TextOut(ref, text, dx, options, rect);
}

}  // namespace

void PlayWindows(const std::vector<uint8_t>& data, size_t recordsAt, size_t end, const QRectF& frame, QImage& image,
                 const QRectF& rect) {
  if (recordsAt < 18 || recordsAt > end || end > data.size() || frame.width() == 0 || frame.height() == 0) return;
  const uint16_t objects = TRecordView(data.data() + recordsAt - 18, 18).U16(10);
  TPlayerDevice device(image, QTransform(), QPointF(96 / 25.4, 96 / 25.4));
  // The player owns the mapping: the file's window (the frame until the
  // records set their own) onto the target rectangle.
  device.SetMapMode(MM_ANISOTROPIC);
  device.SetWindowOrg(frame.topLeft());
  device.SetWindowExt(QPointF(frame.width(), frame.height()));
  device.SetViewportOrg(rect.topLeft());
  device.SetViewportExt(QPointF(rect.width(), rect.height()));
  device.SetBitmapBudget(BitmapBudget(end - recordsAt));
  TWmfPlayer player(device, objects);
  player.Play(data.data() + recordsAt, end - recordsAt);
}

}  // namespace tolvane::metafile
