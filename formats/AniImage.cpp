#include "AniImage.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TzelCursorImage, TGraphic)

namespace {

const char* const SInvalidCursor = "Invalid cursor";
const char* const SNoCursor = "No cursor loaded";

// A bitmap as a device-independent bitmap: what a cursor file stores.
struct TDib {
  uint16_t BitCount = 0;
  uint32_t Compression = 0;  // 0 plain, 3 bit-field masks
  uint32_t ColourCount = 0;  // entries of Table, 4 bytes each
  std::vector<uint8_t> Table;
  std::vector<uint8_t> Bits;  // bottom-up rows padded to 32 bits
};

std::optional<TDib> GetDIB(const TBitmap& bitmap) {
  TDib dib;
  const TPixelLayout layout = bitmap.PixelLayoutOf();
  switch (layout) {
    case pl1Bit:
    case pl4Bit:
    case pl8Bit: {
      dib.BitCount = static_cast<uint16_t>(BitsPerPixelOf(layout));
      dib.ColourCount = 1u << dib.BitCount;
      const std::vector<TPaletteEntry> palette = bitmap.EffectivePalette();
      for (uint32_t i = 0; i < dib.ColourCount; ++i) {
        const TPaletteEntry e = i < palette.size() ? palette[i] : TPaletteEntry{};
        dib.Table.insert(dib.Table.end(), {e.peBlue, e.peGreen, e.peRed, 0});
      }
      break;
    }
    case pl15Bit: dib.BitCount = 16; break;
    case pl16Bit:
      dib.BitCount = 16;
      dib.Compression = 3;
      dib.ColourCount = 3;
      for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) AppendLE32(dib.Table, mask);
      break;
    case pl24Bit: dib.BitCount = 24; break;
    case pl32Bit:
    case plDevice: dib.BitCount = 32; break;
    default: return std::nullopt;
  }
  dib.Bits.assign(bitmap.Image().Bits.begin(), bitmap.Image().Bits.end());
  return dib;
}

bool IsLight(const TPaletteEntry& e) { return 299 * e.peRed + 587 * e.peGreen + 114 * e.peBlue >= 128 * 1000; }

// The AND mask's rows with a set bit wherever the mask is white
// (transparent), whatever the order of its palette.
std::vector<uint8_t> MaskBits(TBitmap& mask) {
  TBitmap mono;
  mono.CopyFrom(&mask);
  mono.SetPixelLayout(pl1Bit);
  const std::vector<TPaletteEntry> palette = mono.EffectivePalette();
  const bool light0 = !palette.empty() && IsLight(palette[0]);
  const bool light1 = palette.size() > 1 && IsLight(palette[1]);
  std::array<uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned out = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if ((b >> bit) & 1 ? light1 : light0) out |= 1u << bit;
    table[b] = static_cast<uint8_t>(out);
  }
  std::vector<uint8_t> bits(mono.Image().Bits.begin(), mono.Image().Bits.end());
  for (uint8_t& b : bits) b = table[b];
  return bits;
}

// Restores a canvas's copy mode however drawing ends.
class TCopyModeGuard {
public:
  explicit TCopyModeGuard(TCanvas& canvas) : FCanvas(canvas), FMode(canvas.CopyMode) {}
  ~TCopyModeGuard() { FCanvas.CopyMode = FMode; }
  TCopyModeGuard(const TCopyModeGuard&) = delete;
  TCopyModeGuard& operator=(const TCopyModeGuard&) = delete;

private:
  TCanvas& FCanvas;
  uint32_t FMode;
};

void DrawMaskAndImage(TCanvas& canvas, int32_t x, int32_t y, TBitmap& mask, TBitmap& image) {
  TCopyModeGuard guard(canvas);
  canvas.CopyMode = cmSrcAnd;
  canvas.DrawAt(x, y, &mask);
  canvas.CopyMode = cmSrcInvert;
  canvas.DrawAt(x, y, &image);
}

std::unique_ptr<TBitmap> NewBitmap(TPixelLayout layout, int32_t n, TColor fill) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelLayout(layout);
  bitmap->ResizeWidth(n);
  bitmap->ResizeHeight(n);
  bitmap->FillRect(Rect(0, 0, n, n), fill);
  return bitmap;
}

// Marks pixel x of a row of the (white) mask opaque.
void SetOpaque(uint8_t* maskRow, int32_t x) { maskRow[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7))); }

}  // namespace

TzelCursorImage::TzelCursorImage() {
  SetSize(32);
  SetTransparentColor(0x006C4AF4);
}

TzelCursorImage::~TzelCursorImage() = default;

void TzelCursorImage::SetSize(int32_t n) {
  // New bitmaps show nothing until pixels are written: transparent mask,
  // black image (which XORs nothing).
  FMask = NewBitmap(pl1Bit, n, clWhite);
  FImage = NewBitmap(pl4Bit, n, clBlack);
  FComposite = NewBitmap(pl24Bit, n, clWhite);
}

void TzelCursorImage::SetTransparentColor(TColor colour) {
  // The colour as a 24-bit pixel holds it, as the screen realises it.
  TBitmap probe;
  probe.SetPixelLayout(pl24Bit);
  probe.ResizeWidth(1);
  probe.ResizeHeight(1);
  probe.SetPixelColor(0, 0, colour & 0xFFFFFF);
  FTransparentColor = probe.PixelColor(0, 0);
}

void TzelCursorImage::TakeHandle(HICON handle) {
  if (handle != FHandle.Get()) FHandle.Reset(handle);
}

void TzelCursorImage::LoadFile(const std::string& fileName) {
  const HICON handle = LoadCursorFromFile(fileName);
  if (!handle) throw Exception(SInvalidCursor);
  TakeHandle(handle);
  LoadFromHandle(handle);
}

void TzelCursorImage::LoadStream(TStream& stream) {
  const HICON handle = LoadCursorFromStream(stream);
  if (!handle) throw Exception(SInvalidCursor);
  TakeHandle(handle);
  LoadFromHandle(handle);
}

void TzelCursorImage::LoadFromHandle(HICON handle) {
  const std::shared_ptr<const TIconImage> icon = IconFromHandle(handle);
  if (!icon) throw Exception(SInvalidCursor);
  const int32_t n = icon->Height;
  if (n < 0 || !ImageSizeAllowed(n, n, 32)) throw Exception(SInvalidCursor);
  SetSize(n);
  HotSpotX = icon->HotSpotX;
  HotSpotY = icon->HotSpotY;
  FImage->SetPixelLayout(pl24Bit);
  const int32_t columns = std::min(icon->Width, n);
  for (int32_t y = 0; y < n; ++y) {
    uint8_t* image = FImage->RowPointer(y);
    uint8_t* mask = FMask->RowPointer(y);
    for (int32_t x = 0; x < columns; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(icon->Width) + static_cast<size_t>(x);
      const uint8_t* bgra = &icon->XorBgra[i * 4];
      // With alpha, a mostly transparent pixel is transparent; the mask the
      // file may carry beside alpha is not used.
      const bool transparent = icon->HasAlpha ? bgra[3] < 128 : icon->AndMask[i] != 0;
      if (!transparent) SetOpaque(mask, x);
      if (transparent && icon->HasAlpha) continue;  // black: no inversion
      std::copy(bgra, bgra + 3, image + 3 * x);
    }
  }
  FImage->SetPixelLayout(icon->BitsPerPixel == 1 ? pl1Bit : pl4Bit);
  ComposeImage();
}

void TzelCursorImage::LoadFromBitmap(TBitmap& bitmap) {
  const int32_t n = bitmap.ImageHeight();
  if (!ImageSizeAllowed(n, n, 32)) throw EOutOfResources(SysConst::SOutOfResources);
  TBitmap source;
  source.CopyFrom(&bitmap);
  source.SetPixelLayout(pl24Bit);
  SetSize(n);
  FImage->SetPixelLayout(pl24Bit);
  const TColor inverse = FTransparentColor ^ 0xFFFFFF;
  const int32_t columns = std::min(source.ImageWidth(), n);
  for (int32_t y = 0; y < n; ++y) {
    const uint8_t* src = source.ConstRowPointer(y);
    uint8_t* image = FImage->RowPointer(y);
    uint8_t* mask = FMask->RowPointer(y);
    for (int32_t x = 0; x < columns; ++x) {
      const uint8_t* p = src + 3 * x;
      const TColor colour = RGBColor(p[2], p[1], p[0]);
      if (colour == FTransparentColor) continue;  // transparent mask, black image
      if (colour == inverse) {
        std::fill(image + 3 * x, image + 3 * x + 3, uint8_t{255});
        continue;
      }
      SetOpaque(mask, x);
      std::copy(p, p + 3, image + 3 * x);
    }
  }
  FImage->SetPixelLayout(pl4Bit);
  ComposeImage();
}

void TzelCursorImage::ComposeImage() {
  if (!FMask || !FImage || !FComposite) return;
  DrawMaskAndImage(FComposite->BitmapCanvas(), 0, 0, *FMask, *FImage);
  NotifyChanged(this);
}

void TzelCursorImage::Render(TCanvas& canvas, const TRect& rect) {
  if (FMask && FImage) DrawMaskAndImage(canvas, rect.Left, rect.Top, *FMask, *FImage);
}

void TzelCursorImage::CopyFrom(TPersistent* source) {
  if (source && source->Is<TzelCursorImage>()) {
    auto* other = static_cast<TzelCursorImage*>(source);
    if (other == this) return;
    FMask->CopyFrom(other->FMask.get());
    FImage->CopyFrom(other->FImage.get());
    HotSpotX = other->HotSpotX;
    HotSpotY = other->HotSpotY;
    // A fresh composite of the copied size: the old one would keep its own
    // size and show its picture through the transparent pixels.
    FComposite = NewBitmap(pl24Bit, other->FMask->ImageHeight(), clWhite);
    FComposite->ResizeWidth(other->FMask->ImageWidth());
    ComposeImage();
  } else if (source && source->Is<TBitmap>()) {
    LoadFromBitmap(*static_cast<TBitmap*>(source));
  } else {
    TGraphic::CopyFrom(source);
  }
}

void TzelCursorImage::CopyInto(TPersistent& dest) {
  if (dest.Is<TBitmap>() && FComposite) static_cast<TBitmap&>(dest).CopyFrom(FComposite.get());
  else TGraphic::CopyInto(dest);
}

void TzelCursorImage::AssignPalette(HPALETTE palette) {
  if (FComposite) FComposite->AssignPalette(std::move(palette));
}

void TzelCursorImage::ResizeWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a cursor"); }
void TzelCursorImage::ResizeHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a cursor"); }

void TzelCursorImage::LoadClipboard(uint16_t format, THandle data, HPALETTE palette) {
  TBitmap bitmap;
  bitmap.LoadClipboard(format, data, std::move(palette));
  LoadFromBitmap(bitmap);
}

void TzelCursorImage::SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) {
  if (!FComposite) throw Exception(SNoCursor);
  FComposite->SaveClipboard(format, data, palette);
}

HICON TzelCursorImage::CreateCursorHandle() {
  if (!FComposite) throw Exception(SNoCursor);
  auto icon = std::make_shared<TIconImage>();
  icon->Width = FImage->ImageWidth();
  icon->Height = FImage->ImageHeight();
  icon->HotSpotX = HotSpotX;
  icon->HotSpotY = HotSpotY;
  icon->IsIcon = false;
  icon->BitsPerPixel = static_cast<uint16_t>(BitsPerPixelOf(FImage->PixelLayoutOf()));
  const size_t pixels = static_cast<size_t>(icon->Width) * static_cast<size_t>(icon->Height);
  icon->AndMask.assign(pixels, 0);
  icon->XorBgra.assign(pixels * 4, 0);
  const std::vector<TPaletteEntry> maskPalette = FMask->EffectivePalette();
  for (int32_t y = 0; y < icon->Height; ++y)
    for (int32_t x = 0; x < icon->Width; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(icon->Width) + static_cast<size_t>(x);
      const TColor c = FImage->PixelColor(x, y);
      icon->XorBgra[4 * i] = GetBValue(c), icon->XorBgra[4 * i + 1] = GetGValue(c);
      icon->XorBgra[4 * i + 2] = GetRValue(c);
      if (x < FMask->ImageWidth() && y < FMask->ImageHeight()) {
        const TColor m = FMask->PixelColor(x, y);
        icon->AndMask[i] = IsLight({GetRValue(m), GetGValue(m), GetBValue(m), 0}) ? 1 : 0;
      }
    }
  return CreateIconHandle(std::move(icon));
}

void TzelCursorImage::SaveStream(TStream& stream) {
  if (!FComposite) throw Exception(SNoCursor);
  const std::optional<TDib> image = GetDIB(*FImage);
  if (!image || FMask->ImageHeight() != FImage->ImageHeight() || FMask->ImageWidth() != FImage->ImageWidth())
    throw Exception(SInvalidCursor);
  const std::vector<uint8_t> mask = MaskBits(*FMask);
  const int32_t width = FImage->ImageWidth(), height = FImage->ImageHeight();
  const size_t bitsSize = image->Bits.size() + mask.size();
  if (bitsSize + 40 + image->Table.size() > UINT32_MAX) throw Exception(SInvalidCursor);
  // A directory byte cannot hold 256 or more; 0 stands for that.
  auto sizeByte = [](int32_t v) { return static_cast<uint8_t>(v >= 256 ? 0 : v); };

  std::vector<uint8_t> out;
  AppendLE16(out, 0);
  AppendLE16(out, 2);
  AppendLE16(out, 1);
  out.push_back(sizeByte(width));
  out.push_back(sizeByte(height));
  out.push_back(static_cast<uint8_t>(image->ColourCount));
  out.push_back(0);
  AppendLE16(out, static_cast<uint16_t>(HotSpotX));
  AppendLE16(out, static_cast<uint16_t>(HotSpotY));
  AppendLE32(out, static_cast<uint32_t>(40 + image->Table.size() + bitsSize));
  AppendLE32(out, 22);
  AppendLE32(out, 40);
  AppendLE32(out, static_cast<uint32_t>(width));
  AppendLE32(out, static_cast<uint32_t>(2 * int64_t{height}));
  AppendLE16(out, 1);
  AppendLE16(out, image->BitCount);
  AppendLE32(out, image->Compression);
  AppendLE32(out, static_cast<uint32_t>(bitsSize));
  for (int i = 0; i < 4; ++i) AppendLE32(out, 0);  // resolution, colours used and important
  out.insert(out.end(), image->Table.begin(), image->Table.end());
  // The XOR image first and the AND mask second, at every depth, as readers
  // of cursor files expect.
  out.insert(out.end(), image->Bits.begin(), image->Bits.end());
  out.insert(out.end(), mask.begin(), mask.end());
  stream.WriteExact(out.data(), out.size());
}

void InitializeAniImageUnit() {
  TPicture::RegisterExtension("cur", "Cursor file", &TzelCursorImage::StaticClass());
  TPicture::RegisterExtension("ani", "Animated cursor", &TzelCursorImage::StaticClass());
}

void FinalizeAniImageUnit() { TPicture::UnregisterGraphicKind(&TzelCursorImage::StaticClass()); }

}  // namespace tolvane
