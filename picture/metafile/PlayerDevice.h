// The drawing device that metafile records play on: the state of a desktop
// drawing context (mapping, objects, modes, clipping, path) over a QPainter
// on an image. Both record sets (enhanced and Windows metafiles) decode
// their records into calls of this device, in logical coordinates.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "picture/ByteOrder.h"
#include "picture/Graphics.h"

namespace tolvane::metafile {

// Thrown by record readers when a record does not hold what it claims; it
// ends playback, keeping what was drawn so far.
struct TMalformedRecord {};

// A bounds-checked view of one record's bytes (little-endian fields).
class TRecordView {
public:
  TRecordView(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  size_t Size() const { return FSize; }
  // Raises TMalformedRecord unless bytes [at, at + count) lie in the record.
  void Need(size_t at, size_t count) const {
    if (at > FSize || count > FSize - at) throw TMalformedRecord{};
  }
  bool Has(size_t at, size_t count) const { return at <= FSize && count <= FSize - at; }
  const uint8_t* Bytes(size_t at, size_t count) const {
    Need(at, count);
    return FData + at;
  }
  uint8_t U8(size_t at) const { return *Bytes(at, 1); }
  uint16_t U16(size_t at) const {
    return LoadLE16(Bytes(at, 2));
  }
  int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  uint32_t U32(size_t at) const {
    return LoadLE32(Bytes(at, 4));
  }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
  // A 32-bit float; NaN and infinities make the record malformed.
  float F32(size_t at) const;
  // Bytes [at, at + count) of the record, checked; count elements of elementSize.
  void NeedArray(size_t at, uint64_t count, size_t elementSize) const {
    if (count > (FSize / (elementSize ? elementSize : 1)) + 1) throw TMalformedRecord{};
    Need(at, static_cast<size_t>(count * elementSize));
  }

private:
  const uint8_t* FData;
  size_t FSize;
};

// Values of the drawing context's modes, as the records carry them.
enum : int { MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC };
enum : int { TRANSPARENT = 1, OPAQUE = 2 };
enum : int { ALTERNATE = 1, WINDING = 2 };
enum : int { R2_NOP = 11, R2_COPYPEN = 13 };
enum : int { AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2 };
enum : uint32_t { TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24 };
enum : uint32_t { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000 };
enum : uint32_t { PS_SOLID = 0, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE, PS_ALTERNATE };
enum : uint32_t { PS_STYLE_MASK = 0xF, PS_ENDCAP_MASK = 0xF00, PS_JOIN_MASK = 0xF000, PS_GEOMETRIC = 0x10000 };
enum : uint32_t { PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000 };
enum : uint32_t { BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6 };
enum : int { RGN_AND = 1, RGN_OR, RGN_XOR, RGN_DIFF, RGN_COPY };
enum : uint32_t { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1 };

struct TLogPen {
  uint32_t Style = PS_SOLID;  // style, end cap, join and type bits
  double Width = 0;           // logical units; 0 draws one pixel wide
  TColor Color = clBlack;
  std::vector<double> UserStyle;  // dash and gap lengths of PS_USERSTYLE
  bool Null() const { return (Style & PS_STYLE_MASK) == PS_NULL; }
};

struct TLogBrush {
  uint32_t Style = BS_SOLID;
  TColor Color = clWhite;
  uint32_t Hatch = 0;
  QImage Pattern;  // BS_PATTERN, BS_DIBPATTERN
  bool Null() const { return Style == BS_NULL || ((Style == BS_PATTERN || Style == BS_DIBPATTERN) && Pattern.isNull()); }
};

struct TLogFont {
  int32_t Height = 0, Width = 0, Escapement = 0, Orientation = 0, Weight = 0;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t CharSet = 0;
  QString FaceName;
};

using TPaletteRef = std::shared_ptr<std::vector<TColor>>;

// A region object: rectangles in logical coordinates.
struct TLogRegion {
  std::vector<QRectF> Rects;
};

using TGdiObject = std::variant<std::monostate, TLogPen, TLogBrush, TLogFont, TPaletteRef, TLogRegion>;

// Stock objects, chosen by the low bits of an index with the top bit set.
std::optional<TGdiObject> StockObject(uint32_t index);

// The state that saving and restoring the drawing context keep.
struct TDcState {
  TLogPen Pen;
  TLogBrush Brush;
  TLogFont Font;
  TPaletteRef Palette;
  int MapMode = MM_TEXT;
  QPointF WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
  QTransform World;
  int BkMode = OPAQUE;
  TColor BkColor = clWhite;
  TColor TextColor = clBlack;
  uint32_t TextAlign = 0;
  int PolyFillMode = ALTERNATE;
  int Rop2 = R2_COPYPEN;
  int ArcDirection = AD_COUNTERCLOCKWISE;
  double MiterLimit = 10;
  QPointF Position;                // current position, logical
  std::optional<QRegion> Clip;     // image pixels; none = everything
  QPointF BrushOrigin;
};

enum class TArcKind { Arc, Chord, Pie };

// A bitmap record's source: the bitmap as 32-bit pixels (B, G, R and, when
// HasAlpha, alpha premultiplied) and the rectangle taken from it.
struct TBlitSource {
  std::shared_ptr<TBitmap> Bitmap;  // pl32Bit
  bool HasAlpha = false;
  QRectF Rect;  // in source pixels, from the top-left
  int32_t Width() const { return Bitmap->ImageWidth(); }
  int32_t Height() const { return Bitmap->ImageHeight(); }
};

class TPlayerDevice {
public:
  // deviceToImage maps the metafile's device space onto the image;
  // pixelsPerMm gives the reference device's resolution for the fixed
  // mapping modes.
  TPlayerDevice(QImage& image, const QTransform& deviceToImage, QPointF pixelsPerMm);
  ~TPlayerDevice();
  TPlayerDevice(const TPlayerDevice&) = delete;
  TPlayerDevice& operator=(const TPlayerDevice&) = delete;

  TDcState& State() { return FState; }
  // Whether glyphs can be drawn (fonts need a GUI application object).
  static bool TextAvailable();

  // Mapping.
  void SetMapMode(int mode);
  void SetWindowOrg(QPointF p) { FState.WindowOrg = p; Changed(); }
  void SetWindowExt(QPointF e);
  void SetViewportOrg(QPointF p) { FState.ViewportOrg = p; Changed(); }
  void SetViewportExt(QPointF e);
  void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
  void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
  void SetWorldTransform(const QTransform& t);
  // mode: 1 identity, 2 left-multiply, 3 right-multiply, 4 set.
  void ModifyWorldTransform(const QTransform& t, uint32_t mode);
  void SaveState();
  void RestoreState(int32_t which);
  // Logical coordinates to image pixels.
  const QTransform& Transform() const { return FTransform; }
  const QTransform& DeviceTransform() const { return FDeviceToImage; }

  // Objects and modes.
  void SelectObject(const TGdiObject& object);
  TColor ResolveColour(TColor colour) const;
  void SetRop2(int rop) { if (rop >= 1 && rop <= 16) FState.Rop2 = rop; }

  // Lines and shapes.
  void MoveTo(QPointF p);
  void LineTo(QPointF p);
  void Polyline(const std::vector<QPointF>& points);
  void PolylineTo(const std::vector<QPointF>& points);
  void Polygon(const std::vector<QPointF>& points);
  void PolyPolygon(const std::vector<std::vector<QPointF>>& polygons);
  void PolyPolyline(const std::vector<std::vector<QPointF>>& lines);
  void PolyBezier(const std::vector<QPointF>& points);
  void PolyBezierTo(const std::vector<QPointF>& points);
  void PolyDraw(const std::vector<QPointF>& points, const std::vector<uint8_t>& types);
  void Rectangle(const QRectF& box);
  void RoundRect(const QRectF& box, QSizeF corner);
  void Ellipse(const QRectF& box);
  void ArcShape(TArcKind kind, const QRectF& box, QPointF start, QPointF end);
  void ArcTo(const QRectF& box, QPointF start, QPointF end);
  void AngleArc(QPointF centre, double radius, double startAngle, double sweepAngle);
  void SetPixel(QPointF p, TColor colour);
  void FloodFill(QPointF p, TColor colour, bool surface);

  // Paths.
  void BeginPath();
  void EndPath() { FPathOpen = false; }
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void WidenPath();
  void SelectClipPath(int mode);

  // Clipping. Device-space regions are in the metafile's device pixels.
  void IntersectClipRect(const QRectF& r);
  void ExcludeClipRect(const QRectF& r);
  void OffsetClip(QPointF logicalOffset);
  void SelectDeviceClip(const std::vector<QRectF>* deviceRects, int mode);
  void SelectLogicalClip(const TLogRegion& region);

  // Regions (logical rectangles).
  void FillRegion(const TLogRegion& region, const TLogBrush& brush);
  void FrameRegion(const TLogRegion& region, const TLogBrush& brush, QSizeF stroke);
  void InvertRegion(const TLogRegion& region);

  // Text: ref in logical coordinates, dx advances in logical units (one per
  // UTF-16 unit; empty for the font's own), rect for ETO_OPAQUE/ETO_CLIPPED.
  void TextOut(QPointF ref, const QString& text, const std::vector<double>& dx, uint32_t options,
               const std::optional<QRectF>& rect);

  // Bitmaps: dest in logical coordinates. A null source blits the pattern
  // (brush) alone with rop.
  void Blit(const QRectF& dest, const TBlitSource* source, uint32_t rop);
  void TransparentBlit(const QRectF& dest, const TBlitSource& source, TColor key);
  void AlphaBlend(const QRectF& dest, const TBlitSource& source, uint8_t constantAlpha, bool sourceAlpha);

  // Reads a device-independent bitmap into a pl32Bit bitmap for blitting.
  // The header and colour table are at bmi; the bits at bits, or (bits
  // null) right after the colour table. Colour-table entries of
  // DIB_PAL_COLORS index the selected palette. bottomUp tells how the rows
  // were stored. Null for a bitmap the framework cannot read, or one past
  // what is left of the playback's bitmap budget.
  std::shared_ptr<TBitmap> ReadDib(const uint8_t* bmi, size_t bmiSize, const uint8_t* bits, size_t bitsSize,
                                   uint32_t usage, bool* bottomUp = nullptr);
  // Pixels that bitmap records may still expand to. Compressed bitmaps
  // expand far beyond their bytes, so a playback gets a fixed allowance.
  void SetBitmapBudget(int64_t pixels) { FBitmapBudget = pixels; }
  // Takes a bitmap's pixels from the budget; false (taking nothing) for a
  // bitmap that is too large or no longer fits it.
  bool SpendBitmapBudget(int64_t pixels);

  // Gradients: vertices in logical coordinates with their colours.
  void GradientRect(QPointF a, QPointF b, QColor ca, QColor cb, bool vertical);
  void GradientTriangle(const QPointF (&p)[3], const QColor (&c)[3]);

private:
  void Changed();
  QTransform PageTransform() const;
  double LinearScale() const;
  QPointF Map(QPointF p) const;
  QPointF MapRounded(QPointF p) const;
  // Whether an image-pixel position (rounded) names a pixel of the image.
  bool InImage(QPointF pixel) const;
  bool AxisAligned() const;
  // The device box of a logical box: rounded, ordered; false when the
  // mapping rotates or shears.
  bool DeviceBox(const QRectF& box, QRectF& out) const;
  QPainterPath MapPath(const QPainterPath& path) const;
  // Draws (or, inside a path bracket, records) a shape given in image pixels.
  void Draw(const QPainterPath& fill, const QPainterPath& stroke, bool doFill, bool doStroke);
  void FillWith(const QPainterPath& path, const TLogBrush& brush);
  void StrokeWith(const QPainterPath& path);
  void ApplyRop2();
  bool Visible(const QRectF& bounds) const;
  QPen MakePen() const;
  void ApplyClip();
  QRegion FullRegion() const;
  QRegion RegionOfPath(const QPainterPath& path) const;
  QRegion RegionOfLogicalRects(const std::vector<QRectF>& rects) const;
  void CombineClip(const QRegion& region, int mode);
  void DrawPatch(const QImage& patch, QPoint at);
  // The brush origin in image pixels, brought within one tile of zero (a
  // file may put it anywhere; the tiling is the same).
  QPointF BrushOrigin(QSize tile) const;
  // The brush's pattern colour at an image pixel (0x00RRGGBB).
  QRgb PatternAt(int x, int y) const;
  // Runs combine(x, y, source, target, out) over the image pixels that dest
  // covers, point-sampling the source; pixels it refuses stay unchanged.
  template <class Combine> void BlitPixels(const QRectF& dest, const TBlitSource* source, Combine combine);
  void AppendToPath(const QPainterPath& devicePath, bool continues);
  void BoxShape(const QRectF& box, QPainterPath& fill, QPainterPath& stroke,
                const std::function<void(QPainterPath&, const QRectF&)>& build);
  bool ArcAngles(const QRectF& box, QPointF start, QPointF end, double& startAngle, double& sweep) const;
  QColor Colour(TColor c) const { TColor r = ResolveColour(c); return QColor(GetRValue(r), GetGValue(r), GetBValue(r)); }

  QImage& FImage;
  QPainter FPainter;
  QTransform FDeviceToImage;
  QPointF FPixelsPerMm;
  QTransform FTransform;
  TDcState FState;
  std::vector<TDcState> FSaved;
  QPainterPath FPath;        // image pixels
  bool FPathOpen = false;
  bool FFigureOpen = false;
  int64_t FBitmapBudget = int64_t{1} << 25;
};

// The bitmap budget of a playback: as many pixels as an uncompressed
// one-bit bitmap of the file's size would have, and at least 2^25.
inline int64_t BitmapBudget(size_t fileBytes) { return std::max<int64_t>(int64_t{1} << 25, int64_t(fileBytes) * 8); }

// Plays an enhanced metafile's records so that its frame covers rect (in
// image pixels, rect may reach past the image).
void PlayEnhanced(const std::vector<uint8_t>& data, const QRectF& frame, QImage& image, const QRectF& rect);
// Plays a Windows metafile (records from recordsAt on) with window = frame
// mapped onto rect.
void PlayWindows(const std::vector<uint8_t>& data, size_t recordsAt, size_t end, const QRectF& frame, QImage& image,
                 const QRectF& rect);

// Text of an 8-bit string in the Windows ANSI code page.
QString AnsiText(const uint8_t* bytes, size_t count);
// A pl32Bit bitmap as an image (for pattern brushes).
QImage BitmapImage(const TBitmap& bitmap);

}  // namespace tolvane::metafile
