// ICO and CUR reading and drawing. An icon file holds several images; like a
// desktop showing 32 x 32 icons we pick the entry nearest to that size and,
// among equals, the deepest one.
#include <algorithm>
#include <cstring>

#include "Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TIcon, TGraphic)

namespace {

[[noreturn]] void InvalidIcon() { throw EInvalidGraphic(GraphicsConst::SInvalidIcon); }

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LE32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint32_t BE32(const uint8_t* p) { return uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24; }

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TEntry {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  int64_t Width = 0, Height = 0;
  int BitCount = 0;
  bool Png = false;
  uint16_t HotX = 0, HotY = 0;
};

std::shared_ptr<TIconImage> DecodeDibEntry(const TEntry& e) {
  const uint8_t* p = e.Data;
  if (e.Size < 40) InvalidIcon();
  uint32_t headerSize = LE32(p);
  if (headerSize < 40 || headerSize > e.Size) InvalidIcon();
  int32_t width = static_cast<int32_t>(LE32(p + 4));
  int32_t fullHeight = static_cast<int32_t>(LE32(p + 8));
  int bpp = LE16(p + 14);
  uint32_t compression = LE32(p + 16);
  uint32_t clrUsed = LE32(p + 32);
  if (width <= 0 || fullHeight < 2 || compression != 0) InvalidIcon();
  int32_t height = fullHeight / 2;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) InvalidIcon();
  if (!ImageSizeAllowed(width, height, 32)) InvalidIcon();
  uint32_t colours = 0;
  if (bpp <= 8) {
    colours = clrUsed ? clrUsed : 1u << bpp;
    if (colours > (1u << bpp)) InvalidIcon();
  }
  size_t pos = headerSize;
  if ((e.Size - pos) / 4 < colours) InvalidIcon();
  const uint8_t* table = p + pos;
  pos += size_t{colours} * 4;
  const size_t xorRow = RowSizeOf(width, bpp), andRow = RowSizeOf(width, 1);
  if ((e.Size - pos) / xorRow < static_cast<size_t>(height)) InvalidIcon();
  const uint8_t* xorBits = p + pos;
  pos += xorRow * static_cast<size_t>(height);
  // 32-bit icons may omit the mask; their alpha then decides alone.
  const bool hasMask = (e.Size - pos) / andRow >= static_cast<size_t>(height);
  if (!hasMask && bpp != 32) InvalidIcon();
  const uint8_t* andBits = p + pos;

  auto icon = std::make_shared<TIconImage>();
  icon->Width = width;
  icon->Height = height;
  icon->BitsPerPixel = static_cast<uint16_t>(bpp);
  icon->AndMask.assign(static_cast<size_t>(width) * height, 0);
  icon->XorBgra.assign(static_cast<size_t>(width) * height * 4, 0);
  bool anyAlpha = false;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* xr = xorBits + static_cast<size_t>(height - 1 - y) * xorRow;
    const uint8_t* ar = andBits + static_cast<size_t>(height - 1 - y) * andRow;
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* d = &icon->XorBgra[(static_cast<size_t>(y) * width + x) * 4];
      uint32_t index = 0;
      switch (bpp) {
        case 1: index = (xr[x >> 3] >> (7 - (x & 7))) & 1; break;
        case 4: index = (x & 1) ? xr[x >> 1] & 15 : xr[x >> 1] >> 4; break;
        case 8: index = xr[x]; break;
        case 16: {
          unsigned v = LE16(xr + 2 * x);
          d[0] = static_cast<uint8_t>((v & 31) << 3 | (v & 31) >> 2);
          d[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3 | ((v >> 5) & 31) >> 2);
          d[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3 | ((v >> 10) & 31) >> 2);
          break;
        }
        case 24: d[0] = xr[3 * x], d[1] = xr[3 * x + 1], d[2] = xr[3 * x + 2]; break;
        case 32:
          d[0] = xr[4 * x], d[1] = xr[4 * x + 1], d[2] = xr[4 * x + 2], d[3] = xr[4 * x + 3];
          anyAlpha |= d[3] != 0;
          break;
      }
      if (bpp <= 8 && index < colours) d[0] = table[4 * index], d[1] = table[4 * index + 1], d[2] = table[4 * index + 2];
      if (hasMask) icon->AndMask[static_cast<size_t>(y) * width + x] = (ar[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  icon->HasAlpha = anyAlpha;
  return icon;
}

std::shared_ptr<TIconImage> DecodePngEntry(const TEntry& e) {
  TGraphicClass png = TPicture::FindGraphicKind("png");
  std::unique_ptr<TGraphic> graphic = TGraphic::ConstructEmpty(png);
  if (!graphic || !graphic->Is<TBitmap>()) InvalidIcon();
  TMemoryStream stream(std::vector<uint8_t>(e.Data, e.Data + e.Size));
  try {
    graphic->LoadStream(stream);
  } catch (const Exception&) {
    InvalidIcon();
  }
  auto& bmp = static_cast<TBitmap&>(*graphic);
  auto icon = std::make_shared<TIconImage>();
  icon->Width = bmp.ImageWidth();
  icon->Height = bmp.ImageHeight();
  icon->BitsPerPixel = 32;
  icon->HasAlpha = bmp.PixelLayoutOf() == pl32Bit;
  icon->AndMask.assign(static_cast<size_t>(icon->Width) * icon->Height, 0);
  icon->XorBgra.assign(static_cast<size_t>(icon->Width) * icon->Height * 4, 0);
  for (int32_t y = 0; y < icon->Height; ++y) {
    const uint8_t* row = bmp.ConstRowPointer(y);
    for (int32_t x = 0; x < icon->Width; ++x) {
      uint8_t* d = &icon->XorBgra[(static_cast<size_t>(y) * icon->Width + x) * 4];
      TColor c = bmp.PixelColor(x, y);
      d[0] = GetBValue(c), d[1] = GetGValue(c), d[2] = GetRValue(c);
      d[3] = icon->HasAlpha ? row[4 * x + 3] : 255;
    }
  }
  icon->HasAlpha = true;
  return icon;
}

}  // namespace

std::shared_ptr<TIconImage> ReadIconResource(const uint8_t* data, size_t size) {
  if (size < 6 || LE16(data) != 0) InvalidIcon();
  uint16_t type = LE16(data + 2), count = LE16(data + 4);
  if ((type != 1 && type != 2) || count == 0) InvalidIcon();
  if ((size - 6) / 16 < count) InvalidIcon();
  const bool pngAvailable = TPicture::FindGraphicKind("png") != nullptr;
  std::vector<TEntry> entries;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* d = data + 6 + 16 * i;
    uint32_t bytes = LE32(d + 8), offset = LE32(d + 12);
    if (offset > size || bytes > size - offset || bytes < 8) continue;
    TEntry e;
    e.Data = data + offset;
    e.Size = bytes;
    e.HotX = LE16(d + 4);
    e.HotY = LE16(d + 6);
    if (std::memcmp(e.Data, PngSignature, 8) == 0) {
      if (!pngAvailable || bytes < 24) continue;
      e.Png = true;
      e.Width = BE32(e.Data + 16);
      e.Height = BE32(e.Data + 20);
      e.BitCount = 32;
    } else {
      if (bytes < 40) continue;
      e.Width = static_cast<int32_t>(LE32(e.Data + 4));
      e.Height = static_cast<int32_t>(LE32(e.Data + 8)) / 2;
      e.BitCount = LE16(e.Data + 14);
    }
    entries.push_back(e);
  }
  if (entries.empty()) InvalidIcon();
  auto distance = [](const TEntry& e) { return std::abs(e.Width - 32) + std::abs(e.Height - 32); };
  const TEntry* best = &entries[0];
  for (const TEntry& e : entries)
    if (distance(e) < distance(*best) || (distance(e) == distance(*best) && e.BitCount > best->BitCount)) best = &e;
  std::shared_ptr<TIconImage> icon = best->Png ? DecodePngEntry(*best) : DecodeDibEntry(*best);
  icon->IsIcon = type == 1;
  if (type == 2) icon->HotSpotX = best->HotX, icon->HotSpotY = best->HotY;
  return icon;
}

void DrawIconImage(TBitmap& target, const TIconImage& icon, int32_t x, int32_t y) {
  int32_t x0 = std::max(x, 0), x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + icon.Width, target.ImageWidth()));
  int32_t y0 = std::max(y, 0), y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + icon.Height, target.ImageHeight()));
  for (int32_t ty = y0; ty < y1; ++ty)
    for (int32_t tx = x0; tx < x1; ++tx) {
      size_t i = static_cast<size_t>(ty - y) * icon.Width + (tx - x);
      const uint8_t* s = &icon.XorBgra[i * 4];
      TColor src = RGBColor(s[2], s[1], s[0]);
      TColor dst = target.PixelColor(tx, ty);
      TColor out;
      if (icon.HasAlpha) {
        unsigned a = s[3];
        auto mix = [a](unsigned sv, unsigned dv) { return static_cast<uint8_t>((sv * a + dv * (255 - a) + 127) / 255); };
        out = RGBColor(mix(s[2], GetRValue(dst)), mix(s[1], GetGValue(dst)), mix(s[0], GetBValue(dst)));
      } else {
        out = icon.AndMask[i] ? (dst ^ src) & 0xFFFFFF : src;
      }
      target.SetPixelColor(tx, ty, out);
    }
}

TIcon::~TIcon() = default;

void TIcon::CopyFrom(TPersistent* source) {
  if (!source) {
    FImage.reset();
    FData.clear();
  } else if (source->Is<TIcon>()) {
    auto* other = static_cast<TIcon*>(source);
    FImage = other->FImage;
    FData = other->FData;
  } else {
    TGraphic::CopyFrom(source);
    return;
  }
  NotifyChanged(this);
}

void TIcon::Render(TCanvas& canvas, const TRect& rect) {
  if (FImage) DrawIconImage(canvas.DeviceContext(), *FImage, rect.Left, rect.Top);
}

void TIcon::ResizeHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::ResizeWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }

void TIcon::LoadStream(TStream& stream) {
  std::vector<uint8_t> data(static_cast<size_t>(stream.Remaining()));
  data.resize(stream.Read(data.data(), data.size()));
  FImage = ReadIconResource(data.data(), data.size());
  FData = std::move(data);
  NotifyChanged(this);
}

void TIcon::SaveStream(TStream& stream) { stream.WriteExact(FData.data(), FData.size()); }

void TIcon::LoadClipboard(uint16_t, THandle, HPALETTE) { throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat); }

void TIcon::SaveClipboard(uint16_t&, THandle&, HPALETTE&) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

void TIcon::ReplaceIconHandle(HICON handle) {
  FImage = IconFromHandle(handle);
  FData.clear();
  NotifyChanged(this);
}

}  // namespace tolvane
