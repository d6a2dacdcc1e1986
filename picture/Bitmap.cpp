#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TBitmap, TGraphic)

namespace {

inline uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

bool Indexed(TPixelLayout layout) { return layout == pl1Bit || layout == pl4Bit || layout == pl8Bit; }

// The colours that the pixels of an image index: its palette; black and
// white for a 1-bit image without one.
std::vector<TPaletteEntry> IndexedColours(const TBitmapImage& image) {
  if (image.Palette) return image.Palette->Entries;
  if (image.Layout == pl1Bit) return MonochromePalette()->Entries;
  return {};
}

// Reads pixels of one image as colours, through its palette.
class TPixelReader {
public:
  explicit TPixelReader(const TBitmapImage& image) : FImage(image) {
    if (Indexed(image.Layout)) {
      const std::vector<TPaletteEntry> entries = IndexedColours(image);
      for (size_t i = 0; i < 256; ++i)
        FColours[i] = i < entries.size() ? RGBColor(entries[i].peRed, entries[i].peGreen, entries[i].peBlue) : clBlack;
    }
  }

  const uint8_t* Row(int32_t y) const {
    return FImage.Bits.data() + static_cast<size_t>(FImage.Height - 1 - y) * FImage.RowSize;
  }

  TColor At(const uint8_t* row, int32_t x) const {
    switch (FImage.Layout) {
      case pl1Bit: return FColours[(row[x >> 3] >> (7 - (x & 7))) & 1];
      case pl4Bit: return FColours[(x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4];
      case pl8Bit: return FColours[row[x]];
      case pl15Bit: {
        unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        return RGBColor(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
      }
      case pl16Bit: {
        unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        return RGBColor(Expand5(v >> 11), Expand6((v >> 5) & 63), Expand5(v & 31));
      }
      case pl24Bit: return RGBColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
      default: return RGBColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
  }

private:
  const TBitmapImage& FImage;
  TColor FColours[256] = {};
};

// Writes colours into pixels of one image; indexed layouts take the nearest
// palette entry (remembered per colour, since pictures repeat colours).
class TPixelWriter {
public:
  explicit TPixelWriter(TBitmapImage& image) : FImage(image) {
    if (Indexed(image.Layout)) {
      FEntries = IndexedColours(image);
      uint32_t limit = 1u << BitsPerPixelOf(image.Layout);
      if (FEntries.size() > limit) FEntries.resize(limit);
    }
  }

  uint8_t* Row(int32_t y) const {
    return FImage.Bits.data() + static_cast<size_t>(FImage.Height - 1 - y) * FImage.RowSize;
  }

  uint8_t Index(TColor c) {
    auto it = FCache.find(c);
    if (it != FCache.end()) return it->second;
    uint8_t i = NearestPaletteIndex(FEntries.data(), static_cast<uint32_t>(FEntries.size()), c);
    if (FCache.size() < 65536) FCache.emplace(c, i);
    return i;
  }

  void Put(uint8_t* row, int32_t x, TColor c) {
    switch (FImage.Layout) {
      case pl1Bit: {
        uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        if (Index(c) & 1) row[x >> 3] |= bit;
        else row[x >> 3] &= static_cast<uint8_t>(~bit);
        break;
      }
      case pl4Bit: {
        uint8_t i = Index(c) & 15;
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | i) : static_cast<uint8_t>((b & 0x0F) | i << 4);
        break;
      }
      case pl8Bit: row[x] = Index(c); break;
      case pl15Bit: {
        unsigned v = (GetRValue(c) >> 3) << 10 | (GetGValue(c) >> 3) << 5 | GetBValue(c) >> 3;
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
      }
      case pl16Bit: {
        unsigned v = (GetRValue(c) >> 3) << 11 | (GetGValue(c) >> 2) << 5 | GetBValue(c) >> 3;
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
      }
      case pl24Bit:
        row[3 * x] = GetBValue(c);
        row[3 * x + 1] = GetGValue(c);
        row[3 * x + 2] = GetRValue(c);
        break;
      default:
        row[4 * x] = GetBValue(c);
        row[4 * x + 1] = GetGValue(c);
        row[4 * x + 2] = GetRValue(c);
        row[4 * x + 3] = 0;
        break;
    }
  }

private:
  TBitmapImage& FImage;
  std::vector<TPaletteEntry> FEntries;
  std::unordered_map<TColor, uint8_t> FCache;
};

std::shared_ptr<TBitmapImage> MakeEmptyImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette) {
  int bpp = BitsPerPixelOf(layout);
  // Not charged: a load charges its picture once, at its size check, not at
  // every resize and change of layout on the way there.
  if (width < 0 || height < 0 || !ImageSizeFits(width, height, bpp)) throw EOutOfResources(SysConst::SOutOfResources);
  auto image = std::make_shared<TBitmapImage>();
  image->Width = width;
  image->Height = height;
  image->Layout = layout;
  image->RowSize = RowSizeOf(width, bpp);
  image->Palette = std::move(palette);
  return image;
}

// Every byte of the pixels is fill.
std::shared_ptr<TBitmapImage> MakeImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette,
                                        uint8_t fill = 0) {
  auto image = MakeEmptyImage(width, height, layout, std::move(palette));
  image->Bits.assign(image->RowSize * static_cast<size_t>(height), fill);
  return image;
}

// Pixel bytes unset; only each row's bytes beyond its whole pixel bytes (pad
// bits and padding) are zero, as a fill leaves them.
std::shared_ptr<TBitmapImage> MakeUnsetImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette) {
  auto image = MakeEmptyImage(width, height, layout, std::move(palette));
  image->Bits.resize(image->RowSize * static_cast<size_t>(height));
  const size_t whole = static_cast<size_t>(width) * static_cast<size_t>(BitsPerPixelOf(layout)) / 8;
  if (whole < image->RowSize)
    for (size_t at = whole; at < image->Bits.size(); at += image->RowSize)
      std::memset(image->Bits.data() + at, 0, image->RowSize - whole);
  return image;
}

// Pixels x0 .. x1 - 1 of a row in one colour. Only the pixels up to the first
// whole byte, one whole byte (or pixel) and the tail go through the writer;
// the rest copies bytes, so a very wide row costs no per-pixel colour look-up.
void FillSpan(TPixelWriter& writer, uint8_t* row, int32_t x0, int32_t x1, TColor colour, int bits) {
  if (bits >= 8) {
    const size_t bytes = static_cast<size_t>(bits) / 8, count = static_cast<size_t>(x1 - x0);
    uint8_t* start = row + static_cast<size_t>(x0) * bytes;
    writer.Put(row, x0, colour);
    for (size_t done = 1; done < count;) {
      const size_t more = std::min(done, count - done);
      std::memcpy(start + done * bytes, start, more * bytes);
      done += more;
    }
    return;
  }
  int32_t x = x0;
  if (bits != 1 && bits != 4) {
    for (; x < x1; ++x) writer.Put(row, x, colour);
    return;
  }
  const int32_t perByte = 8 / bits;
  for (; x < x1 && x % perByte != 0; ++x) writer.Put(row, x, colour);
  if (x1 - x >= perByte) {
    const int32_t wholeEnd = x1 / perByte * perByte;
    for (int32_t i = 0; i < perByte; ++i) writer.Put(row, x + i, colour);
    const uint8_t pattern = row[x / perByte];
    std::memset(row + x / perByte + 1, pattern, static_cast<size_t>((wholeEnd - x) / perByte - 1));
    x = wholeEnd;
  }
  for (; x < x1; ++x) writer.Put(row, x, colour);
}

// Fills every pixel of an image with one colour: the first row as a span,
// the others as copies of it.
void FillImage(TBitmapImage& image, TColor colour) {
  if (image.Width == 0 || image.Height == 0) return;
  TPixelWriter w(image);
  uint8_t* first = w.Row(0);
  FillSpan(w, first, 0, image.Width, colour, BitsPerPixelOf(image.Layout));
  // Pad bits of packed rows stay zero, whatever the fill.
  for (int32_t y = 1; y < image.Height; ++y) std::memcpy(w.Row(y), first, image.RowSize);
}

// A new image in one colour. When every byte of a filled row is the same,
// padding included (white true colour rows of a width with no padding, say),
// the pixels take that byte as they are allocated instead of being cleared
// and filled in two passes over the picture's memory.
std::shared_ptr<TBitmapImage> MakeFilledImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette,
                                              TColor colour) {
  if (height > 1 && width > 0) {
    auto row = MakeImage(width, 1, layout, palette);
    FillImage(*row, colour);
    const TPixelBytes& bytes = row->Bits;
    if (std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes[0]; }))
      return MakeImage(width, height, layout, std::move(palette), bytes[0]);
  }
  auto image = MakeImage(width, height, layout, std::move(palette));
  FillImage(*image, colour);
  return image;
}

}  // namespace

TBitmap::TBitmap() : FImage(std::make_shared<TBitmapImage>()) {}

TBitmap::~TBitmap() {
  for (THandle h : FHandles) DestroyIcon(h);
}

void TBitmap::Unshare() {
  if (FImage.use_count() > 1) FImage = std::make_shared<TBitmapImage>(*FImage);
}

void TBitmap::NewImage(int32_t width, int32_t height, TPixelLayout layout, HPALETTE palette, TColor fill) {
  FImage = MakeFilledImage(width, height, layout, std::move(palette), fill);
}

void TBitmap::CopyFrom(TPersistent* source) {
  if (!source) {
    FImage = std::make_shared<TBitmapImage>();
  } else if (source->Is<TBitmap>()) {
    auto* other = static_cast<TBitmap*>(source);
    FImage = other->FImage;
    FTransparent = other->FTransparent;
    FTransparentKey = other->FTransparentKey;
  } else {
    source->CopyInto(*this);
  }
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

bool TBitmap::IsBlank() { return FImage->Width == 0 || FImage->Height == 0; }

void TBitmap::ResizeWidth(int32_t value) {
  if (value == FImage->Width) return;
  auto old = FImage;
  NewImage(value, old->Height, old->Layout, old->Palette, NewRowColour());
  // Whole bytes of the kept pixels are copied; a partial last byte is merged
  // so that the new pixels in it keep their fill.
  const size_t keptBits = static_cast<size_t>(std::min(value, old->Width)) * BitsPerPixelOf(old->Layout);
  const size_t whole = keptBits / 8;
  for (int32_t y = 0; y < old->Height; ++y) {
    const uint8_t* src = old->Bits.data() + static_cast<size_t>(old->Height - 1 - y) * old->RowSize;
    uint8_t* dst = FImage->Bits.data() + static_cast<size_t>(FImage->Height - 1 - y) * FImage->RowSize;
    // A zero-width image has no bytes at all (and null row pointers).
    if (whole) std::memcpy(dst, src, whole);
    if (keptBits % 8) {
      uint8_t keep = static_cast<uint8_t>(0xFF00 >> (keptBits % 8));
      dst[whole] = static_cast<uint8_t>((src[whole] & keep) | (dst[whole] & ~keep));
    }
  }
  NotifyChanged(this);
}

TColor TBitmap::NewRowColour() const { return FCanvas ? FCanvas->Brush.Color : clWhite; }

void TBitmap::ResizeHeight(int32_t value) {
  if (value == FImage->Height) return;
  auto old = FImage;
  NewImage(old->Width, value, old->Layout, old->Palette, NewRowColour());
  int32_t rows = old->RowSize ? std::min(value, old->Height) : 0;
  for (int32_t y = 0; y < rows; ++y)
    std::memcpy(FImage->Bits.data() + static_cast<size_t>(FImage->Height - 1 - y) * FImage->RowSize,
                old->Bits.data() + static_cast<size_t>(old->Height - 1 - y) * old->RowSize, old->RowSize);
  NotifyChanged(this);
}

// The fill row is made first, so that filling the unwritten rows at the end
// only copies bytes and cannot fail.
TBitmap::TUnfilledRows::TUnfilledRows(TBitmap& bitmap, int32_t height) : FBitmap(bitmap) {
  const TBitmapImage& old = *bitmap.FImage;
  auto row = MakeImage(old.Width, 1, old.Layout, old.Palette);
  FillImage(*row, bitmap.NewRowColour());
  FFillRow.assign(row->Bits.begin(), row->Bits.end());
  FWritten = std::min(old.Height, height);
  if (height == old.Height) return;
  auto image = MakeUnsetImage(old.Width, height, old.Layout, old.Palette);
  for (int32_t y = 0; y < FWritten && old.RowSize; ++y)
    std::memcpy(image->Bits.data() + static_cast<size_t>(height - 1 - y) * image->RowSize,
                old.Bits.data() + static_cast<size_t>(old.Height - 1 - y) * old.RowSize, old.RowSize);
  FImage = image.get();
  bitmap.FImage = std::move(image);
  bitmap.NotifyChanged(&bitmap);
}

TBitmap::TUnfilledRows::~TUnfilledRows() {
  TBitmapImage& image = *FBitmap.FImage;
  // Rows of an image that has replaced this one were filled when it was made.
  if (&image != FImage || image.RowSize == 0) return;
  for (int32_t y = FWritten; y < image.Height; ++y)
    std::memcpy(image.Bits.data() + static_cast<size_t>(image.Height - 1 - y) * image.RowSize, FFillRow.data(),
                image.RowSize);
}

void TBitmap::AssignPalette(HPALETTE palette) {
  Unshare();
  FImage->Palette = std::move(palette);
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

uint8_t* TBitmap::RowPointer(int32_t r) {
  if (r < 0 || r >= FImage->Height) throw EInvalidGraphic(GraphicsConst::SScanLine);
  Unshare();
  return FImage->Bits.data() + static_cast<size_t>(FImage->Height - 1 - r) * FImage->RowSize;
}

const uint8_t* TBitmap::ConstRowPointer(int32_t r) const {
  if (r < 0 || r >= FImage->Height) throw EInvalidGraphic(GraphicsConst::SScanLine);
  return FImage->Bits.data() + static_cast<size_t>(FImage->Height - 1 - r) * FImage->RowSize;
}

TCanvas& TBitmap::BitmapCanvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>(*this);
  return *FCanvas;
}

void TBitmap::ReplaceHandle(THandle handle) {
  (void)handle;  // only 0 (empty the image) is asked of bitmaps
  HPALETTE palette = FImage->Palette;
  FImage = std::make_shared<TBitmapImage>();
  FImage->Palette = std::move(palette);
  NotifyChanged(this);
}

void TBitmap::SetTransparentKey(TColor colour) {
  if (FTransparentKey == colour) return;
  FTransparentKey = colour;
  if (FTransparent) NotifyChanged(this);
}

TColor TBitmap::TransparentKey() {
  if (FTransparentKey != clDefault) return FTransparentKey & 0xFFFFFF;
  if (IsBlank()) return clWhite;
  return PixelColor(0, FImage->Height - 1);
}

TColor TBitmap::PixelColor(int32_t x, int32_t y) const {
  TPixelReader reader(*FImage);
  return reader.At(reader.Row(y), x);
}

void TBitmap::SetPixelColor(int32_t x, int32_t y, TColor colour) {
  Unshare();
  TPixelWriter writer(*FImage);
  writer.Put(writer.Row(y), x, colour);
}

void TBitmap::FillRect(const TRect& rect, TColor colour) {
  int32_t x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, FImage->Width);
  int32_t y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, FImage->Height);
  if (x0 >= x1 || y0 >= y1) return;
  Unshare();
  TPixelWriter writer(*FImage);
  const int bits = BitsPerPixelOf(FImage->Layout);
  uint8_t* first = writer.Row(y0);
  FillSpan(writer, first, x0, x1, colour, bits);
  if (x0 == 0 && x1 == FImage->Width) {
    for (int32_t y = y0 + 1; y < y1; ++y) std::memcpy(writer.Row(y), first, FImage->RowSize);
  } else {
    for (int32_t y = y0 + 1; y < y1; ++y) FillSpan(writer, writer.Row(y), x0, x1, colour, bits);
  }
}

std::vector<uint8_t> ImageToBgra(const TBitmapImage& image, uint8_t alpha) {
  const size_t width = static_cast<size_t>(image.Width);
  std::vector<uint8_t> out(width * static_cast<size_t>(image.Height) * 4);
  TPixelReader reader(image);
  for (int32_t y = 0; y < image.Height; ++y) {
    const uint8_t* src = reader.Row(y);
    uint8_t* d = out.data() + static_cast<size_t>(y) * width * 4;
    if (image.Layout == pl24Bit || image.Layout == pl32Bit || image.Layout == plDevice) {
      const size_t step = image.Layout == pl24Bit ? 3 : 4;
      const bool keep = image.Layout == pl32Bit;
      for (size_t x = 0; x < width; ++x, d += 4, src += step) {
        d[0] = src[0], d[1] = src[1], d[2] = src[2];
        d[3] = keep ? src[3] : alpha;
      }
      continue;
    }
    for (int32_t x = 0; x < image.Width; ++x, d += 4) {
      TColor c = reader.At(src, x);
      d[0] = GetBValue(c), d[1] = GetGValue(c), d[2] = GetRValue(c), d[3] = alpha;
    }
  }
  return out;
}

std::vector<TPaletteEntry> TBitmap::EffectivePalette() const { return IndexedColours(*FImage); }

void TBitmap::SetPixelLayout(TPixelLayout layout) {
  if (layout == FImage->Layout) return;
  if (layout == plCustom || layout > plCustom) throw EInvalidGraphic(GraphicsConst::SInvalidPixelFormat);
  HPALETTE palette = FImage->Palette;
  if (layout == pl4Bit) palette = SystemPalette16();
  else if (layout == pl8Bit) palette = HalftonePalette();
  else if (layout == pl1Bit && PaletteEntryCount(palette) != 2) palette = MonochromePalette();
  auto old = FImage;
  auto image = MakeImage(old->Width, old->Height, layout, palette);
  TPixelReader reader(*old);
  TPixelWriter writer(*image);
  for (int32_t y = 0; y < old->Height; ++y) {
    const uint8_t* src = reader.Row(y);
    uint8_t* dst = writer.Row(y);
    for (int32_t x = 0; x < old->Width; ++x) writer.Put(dst, x, reader.At(src, x));
  }
  FImage = std::move(image);
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

void TBitmap::SetHandleKind(THandleKind kind) {
  if (kind == THandleKind::bmDDB) SetPixelLayout(plDevice);
  else if (FImage->Layout == plDevice) SetPixelLayout(pl32Bit);
}

THandle TBitmap::BitmapHandle() {
  // A bitmap object as an icon image without mask, so that handle users see
  // the pixels as B, G, R colours top-down.
  auto image = std::make_shared<TIconImage>();
  image->Width = FImage->Width;
  image->Height = FImage->Height;
  image->IsIcon = false;
  image->BitsPerPixel = static_cast<uint16_t>(BitsPerPixelOf(FImage->Layout));
  image->AndMask.assign(static_cast<size_t>(image->Width) * image->Height, 0);
  image->XorBgra.resize(static_cast<size_t>(image->Width) * image->Height * 4);
  TPixelReader reader(*FImage);
  for (int32_t y = 0; y < image->Height; ++y)
    for (int32_t x = 0; x < image->Width; ++x) {
      TColor c = reader.At(reader.Row(y), x);
      uint8_t* p = &image->XorBgra[(static_cast<size_t>(y) * image->Width + x) * 4];
      p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c), p[3] = 0;
    }
  THandle h = CreateIconHandle(image);
  FHandles.push_back(h);
  return h;
}

THandle TBitmap::MaskHandle() {
  auto image = std::make_shared<TIconImage>();
  image->Width = FImage->Width;
  image->Height = FImage->Height;
  image->IsIcon = false;
  image->BitsPerPixel = 1;
  image->AndMask.assign(static_cast<size_t>(image->Width) * image->Height, 0);
  image->XorBgra.assign(static_cast<size_t>(image->Width) * image->Height * 4, 0);
  TColor key = TransparentKey();
  TPixelReader reader(*FImage);
  for (int32_t y = 0; y < image->Height; ++y)
    for (int32_t x = 0; x < image->Width; ++x)
      if (reader.At(reader.Row(y), x) == key) image->AndMask[static_cast<size_t>(y) * image->Width + x] = 1;
  THandle h = CreateIconHandle(image);
  FHandles.push_back(h);
  return h;
}

void TBitmap::Render(TCanvas& canvas, const TRect& rect) {
  TBitmap& target = canvas.DeviceContext();
  // Keep the source alive and unchanged even when drawing into itself.
  std::shared_ptr<TBitmapImage> src = FImage;
  // A rectangle may span more than 32 bits; its geometry is kept in 64.
  const int64_t left = rect.Left, top = rect.Top;
  const int64_t w = int64_t{rect.Right} - left, h = int64_t{rect.Bottom} - top;
  if (w <= 0 || h <= 0 || src->Width == 0 || src->Height == 0) return;
  TRect clip = canvas.ClipBounds();
  int32_t x0 = std::max(rect.Left, clip.Left), x1 = std::min(rect.Right, clip.Right);
  int32_t y0 = std::max(rect.Top, clip.Top), y1 = std::min(rect.Bottom, clip.Bottom);
  if (x0 >= x1 || y0 >= y1) return;

  const int srcBpp = BitsPerPixelOf(src->Layout);
  const int dstBpp = BitsPerPixelOf(target.PixelLayoutOf());
  const bool halftone = dstBpp <= 8 && dstBpp < srcBpp;
  const bool transparent = FTransparent;
  const TColor key = transparent ? TransparentKey() : 0;
  const uint32_t rop = canvas.CopyMode;
  const TColor pattern = canvas.Brush.Color & 0xFFFFFF;

  target.Unshare();
  TPixelReader reader(*src);
  TPixelWriter writer(*target.FImage);
  TPixelReader destReader(*target.FImage);
  const int64_t W = src->Width, H = src->Height;
  std::vector<int32_t> columns(static_cast<size_t>(x1 - x0));
  for (int32_t x = x0; x < x1; ++x) columns[x - x0] = static_cast<int32_t>((2 * (x - left) + 1) * W / (2 * w));

  for (int32_t y = y0; y < y1; ++y) {
    int32_t sy = static_cast<int32_t>((2 * (y - top) + 1) * H / (2 * h));
    const uint8_t* srow = reader.Row(sy);
    uint8_t* drow = writer.Row(y);
    for (int32_t x = x0; x < x1; ++x) {
      TColor c;
      if (halftone) {
        // Area average over the source cells that this target pixel covers.
        int64_t sx0 = (x - left) * W / w, sx1 = std::max(sx0 + 1, (x - left + 1) * W / w);
        int64_t sy0 = (y - top) * H / h, sy1 = std::max(sy0 + 1, (y - top + 1) * H / h);
        uint64_t r = 0, g = 0, b = 0, n = 0;
        for (int64_t yy = sy0; yy < sy1; ++yy) {
          const uint8_t* row = reader.Row(static_cast<int32_t>(yy));
          for (int64_t xx = sx0; xx < sx1; ++xx) {
            TColor s = reader.At(row, static_cast<int32_t>(xx));
            r += GetRValue(s), g += GetGValue(s), b += GetBValue(s), ++n;
          }
        }
        c = RGBColor(static_cast<uint8_t>(r / n), static_cast<uint8_t>(g / n), static_cast<uint8_t>(b / n));
      } else {
        c = reader.At(srow, columns[x - x0]);
      }
      if (transparent && c == key) continue;
      if (rop != cmSrcCopy) c = ApplyRop3(rop, pattern, c, destReader.At(drow, x));
      writer.Put(drow, x, c);
    }
  }
  target.NotifyChanged(&target);
}

}  // namespace tolvane
