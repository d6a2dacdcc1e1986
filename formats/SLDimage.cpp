// AutoCAD slides: the header, the records as stored, drawing them scaled,
// and the colours of AutoCAD's colour indices.
#include "formats/SLDimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(Tslide, TGraphic)

namespace {

constexpr char Signature[] = "AutoCAD Slide";
constexpr uint8_t SignatureTail[] = {0x0D, 0x0A, 0x1A, 0x00};
constexpr uint16_t TestNumber = 0x1234;
constexpr int32_t MaxSlideSize = 32767;
// Canvas coordinates stay well inside 32 bits whatever the scale.
constexpr double CoordinateLimit = 1 << 30;

// File bytes of a record of each kind, by TSlideRecordKind.
constexpr size_t RecordSize[] = {8, 5, 2, 6, 3, 2};

// The kind of a record by the high byte of its first word; false for bytes
// that no record starts with.
bool KindOf(uint8_t high, TSlideRecordKind& kind) {
  if (high <= 0x7F) kind = srVector;
  else if (high == 0xFB) kind = srOffsetVector;
  else if (high == 0xFC) kind = srEnd;
  else if (high == 0xFD) kind = srSolidFill;
  else if (high == 0xFE) kind = srCommonEndpoint;
  else if (high == 0xFF) kind = srColor;
  else return false;
  return true;
}

// Rounds halves to even, clamped so that no float-to-int conversion
// overflows.
int32_t RoundClamped(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int32_t>(std::nearbyint(std::clamp(value, -CoordinateLimit, CoordinateLimit)));
}

// Reads the stream from its position in blocks, so that records are not a
// system call each.
class TBlockReader {
public:
  explicit TBlockReader(TStream& stream) : FStream(stream) {}
  // Up to count bytes into out; the bytes delivered.
  size_t Take(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count && Fill()) {
      const size_t n = std::min(count - done, FBuffer.size() - FNext);
      std::memcpy(out + done, FBuffer.data() + FNext, n);
      FNext += n;
      done += n;
    }
    return done;
  }
  // The byte at offset ahead of the position, without consuming it.
  bool Peek(size_t offset, uint8_t& byte) {
    while (Fill() && FBuffer.size() - FNext <= offset) {
      const size_t kept = FBuffer.size() - FNext;
      std::vector<uint8_t> more(kept + BlockSize);
      std::memcpy(more.data(), FBuffer.data() + FNext, kept);
      const size_t got = FStream.Read(more.data() + kept, BlockSize);
      more.resize(kept + got);
      FBuffer = std::move(more);
      FNext = 0;
      if (got == 0) break;
    }
    if (FBuffer.size() - FNext <= offset) return false;
    byte = FBuffer[FNext + offset];
    return true;
  }

private:
  static constexpr size_t BlockSize = 65536;
  bool Fill() {
    if (FNext < FBuffer.size()) return true;
    FBuffer.resize(BlockSize);
    FBuffer.resize(FStream.Read(FBuffer.data(), BlockSize));
    FNext = 0;
    return !FBuffer.empty();
  }
  TStream& FStream;
  std::vector<uint8_t> FBuffer;
  size_t FNext = 0;
};

// Where the drawing of a slide stands: scales, the last point, the open fill.
struct TSlidePainter {
  TCanvas& Canvas;
  int32_t Height;
  float XScale, YScale;
  uint16_t LastX = 0, LastY = 0;
  bool FillOpen = false;
  std::vector<TPoint> Fill;

  TPoint Map(double x, double y) const {
    return {RoundClamped(x * XScale), RoundClamped(Height - static_cast<double>(RoundClamped(y * YScale)))};
  }
  void Vector(uint16_t fromX, uint16_t fromY, uint16_t toX, uint16_t toY) {
    Canvas.Brush.Style = TBrushStyle::bsClear;
    Canvas.Pen.Style = TPenStyle::psSolid;
    const TPoint from = Map(fromX, fromY), to = Map(toX, toY);
    Canvas.MovePen(from.X, from.Y);
    Canvas.DrawLineTo(to.X, to.Y);
    // The line leaves out its end point; a slide's vectors include it.
    Canvas.PutPixel(to.X, to.Y, Canvas.Pen.Color);
  }
  void FillRecord(int16_t x, int16_t y) {
    if (!FillOpen) {
      FillOpen = true;
      Fill.clear();
    } else if (y < 0) {
      Canvas.Brush.Style = TBrushStyle::bsSolid;
      Canvas.FillPolygon(Fill);
      FillOpen = false;
    } else if (Fill.size() < Tslide::MaxFillVertices) {
      Fill.push_back(Map(x, y));
    }
  }
  void Draw(const TSlideRecord& r) {
    const uint8_t* b = r.Bytes.data();
    auto offset = [](uint16_t base, uint8_t delta) {
      return static_cast<uint16_t>(base + static_cast<int8_t>(delta));
    };
    switch (r.Kind) {
      case srVector:
        Vector(LoadLE16(b), LoadLE16(b + 2), LoadLE16(b + 4), LoadLE16(b + 6));
        LastX = LoadLE16(b), LastY = LoadLE16(b + 2);
        break;
      case srOffsetVector: {
        const uint16_t x0 = offset(LastX, b[0]), y0 = offset(LastY, b[2]);
        Vector(x0, y0, offset(LastX, b[3]), offset(LastY, b[4]));
        LastX = x0, LastY = y0;
        break;
      }
      case srCommonEndpoint: {
        const uint16_t x = offset(LastX, b[0]), y = offset(LastY, b[2]);
        Vector(LastX, LastY, x, y);
        LastX = x, LastY = y;
        break;
      }
      case srColor:
        Canvas.Pen.Color = Canvas.Brush.Color = AciColor(b[0]);
        break;
      case srSolidFill: FillRecord(LoadLES16(b + 2), LoadLES16(b + 4)); break;
      case srEnd: break;
    }
  }
};

}  // namespace

TColor AciColor(uint8_t index) {
  static constexpr uint8_t Base[10][3] = {{0, 0, 0},     {255, 0, 0},   {255, 255, 0},   {0, 255, 0},
                                          {0, 255, 255}, {0, 0, 255},   {255, 0, 255},   {0, 0, 0},
                                          {132, 132, 132}, {186, 186, 186}};
  static constexpr uint8_t Greys[6] = {0, 41, 90, 132, 188, 173};
  int rgb[3];
  if (index < 10) {
    for (int c = 0; c < 3; ++c) rgb[c] = Base[index][c];
  } else if (index >= 250) {
    for (int& v : rgb) v = Greys[index - 250];
  } else {
    const int t = index / 10, u = index % 10;
    const int g = (t - 1) / 4 + 1;
    const int n = g + 1 == 7 ? 1 : g + 1;
    const int e = t % 4 == 0 ? 4 : t % 4;
    for (int c = 0; c < 3; ++c) rgb[c] = ((e - 1) * Base[n][c] + (5 - e) * Base[g][c]) / 4;
    if (u % 2)
      for (int& v : rgb) v = std::min(v / 2 + 129, 255);
    for (int k = 0; k < u / 2; ++k)
      for (int& v : rgb) v = v * 7 / 10;
  }
  return static_cast<TColor>(rgb[2] << 16 | rgb[1] << 8 | rgb[0]);
}

Tslide::Tslide() = default;
Tslide::~Tslide() { Clear(); }

void Tslide::Clear() {
  SlideRecords.clear();
  SlideEmpty = true;
}

void Tslide::UpdateSize() {
  auto size = [this](int32_t extent, int32_t origin) {
    const double scaled = std::abs(static_cast<double>(extent) - origin) * static_cast<double>(SlideScale);
    return RoundClamped(std::clamp(scaled, 0.0, static_cast<double>(MaxSlideSize)));
  };
  SlideHeight = size(SlideExtent.Y, SlideOrigin.Y);
  SlideWidth = size(SlideExtent.X, SlideOrigin.X);
}

void Tslide::ResizeWidth(int32_t value) {
  const int32_t extent = std::abs(SlideExtent.X - SlideOrigin.X);
  if (extent == 0) return;  // never loaded: there is nothing to scale
  SlideScale = static_cast<float>(static_cast<double>(value) / extent);
  UpdateSize();
  NotifyChanged(this);
}

void Tslide::ResizeHeight(int32_t value) {
  const int32_t extent = std::abs(SlideExtent.Y - SlideOrigin.Y);
  if (extent == 0) return;
  SlideScale = static_cast<float>(static_cast<double>(value) / extent);
  UpdateSize();
  NotifyChanged(this);
}

void Tslide::CopyFrom(TPersistent* source) {
  if (!source || !source->Is<Tslide>()) throw Exception("Tslide.Assign can only assign from other Tslide's");
  const auto& other = static_cast<const Tslide&>(*source);
  if (&other == this) return;
  Clear();
  if (other.SlideEmpty) return;
  SlideRecords = other.SlideRecords;
  // A copy must save as a readable file, so the header comes along.
  SlideHeader = other.SlideHeader;
  SlideExtent = other.SlideExtent;
  SlideOrigin = other.SlideOrigin;
  SlideScale = other.SlideScale;
  SlideEmpty = false;
  UpdateSize();
  NotifyChanged(this);
}

void Tslide::LoadStream(TStream& stream) {
  stream.SetPosition(0);
  std::array<uint8_t, HeaderSize> header{};
  stream.Read(header.data(), header.size());
  if (std::memcmp(header.data(), Signature, 13) != 0 || std::memcmp(header.data() + 13, SignatureTail, 4) != 0)
    throw Exception("Invalid slide file");
  if (header[18] == 1) throw Exception("unsupported level 1 slide");
  if (LoadLE16(header.data() + 29) != TestNumber) throw Exception("SLD file not from an Intel-based machine");
  SlideHeader = header;
  SlideOrigin = {0, 0};
  SlideExtent = {LoadLE16(header.data() + 19) + 1, LoadLE16(header.data() + 21) + 1};
  Clear();

  TBlockReader reader(stream);
  for (;;) {
    uint8_t high;
    TSlideRecordKind kind;
    // A tail of one byte, a truncated record or bytes that start no record
    // end the list: what came before is the slide.
    if (SlideRecords.size() == MaxRecords || !reader.Peek(1, high) || !KindOf(high, kind)) break;
    TSlideRecord record;
    record.Kind = kind;
    if (reader.Take(record.Bytes.data(), RecordSize[kind]) != RecordSize[kind]) break;
    SlideRecords.push_back(record);
    if (kind == srEnd) break;
  }
  SlideEmpty = false;
  UpdateSize();
  NotifyChanged(this);
}

void Tslide::SaveStream(TStream& stream) {
  if (SlideEmpty) return;
  std::vector<uint8_t> out(SlideHeader.begin(), SlideHeader.end());
  for (const TSlideRecord& r : SlideRecords) out.insert(out.end(), r.Bytes.begin(), r.Bytes.begin() + RecordSize[r.Kind]);
  stream.SetPosition(0);
  stream.WriteExact(out.data(), out.size());
  stream.SetSize(stream.Position());
}

void Tslide::Render(TCanvas& canvas, const TRect& rect) {
  if (SlideEmpty || SlideExtent.X == 0 || SlideExtent.Y == 0) return;
  const int32_t h = rect.Bottom - rect.Top, w = rect.Right - rect.Left;
  TSlidePainter painter{canvas, h, static_cast<float>(w) / static_cast<float>(SlideExtent.X),
                        static_cast<float>(h) / static_cast<float>(SlideExtent.Y), 0, 0, false, {}};
  for (const TSlideRecord& r : SlideRecords) painter.Draw(r);
  // A fill still open at the end has no closing record: it is not drawn.
}

void Tslide::LoadClipboard(uint16_t, THandle, HPALETTE) {
  throw Exception("Tslide does not support loading from clipboard format");
}

void Tslide::SaveClipboard(uint16_t&, THandle&, HPALETTE&) {
  throw Exception("Tslide does not yet support saving to clipboard format");
}

void InitializeSLDimageUnit() { TPicture::RegisterExtension("sld", "AutoCAD Slides", &Tslide::StaticClass()); }

}  // namespace tolvane
