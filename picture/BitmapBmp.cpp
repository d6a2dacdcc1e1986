// Windows BMP reading and writing of TBitmap, and its clipboard form (a
// packed device-independent bitmap). Every header value is checked before it
// sizes an allocation or indexes memory.
#include <algorithm>
#include <cstring>

#include "Graphics.h"

namespace tolvane {

namespace {

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic(GraphicsConst::SInvalidBitmap); }

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LE32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
void PutLE16(std::vector<uint8_t>& v, uint16_t x) { v.push_back(static_cast<uint8_t>(x)), v.push_back(static_cast<uint8_t>(x >> 8)); }
void PutLE32(std::vector<uint8_t>& v, uint32_t x) { PutLE16(v, static_cast<uint16_t>(x)), PutLE16(v, static_cast<uint16_t>(x >> 16)); }

struct TDibHeader {
  uint32_t Size = 0;
  int32_t Width = 0, Height = 0;
  bool TopDown = false;
  uint16_t BitCount = 0;
  uint32_t Compression = BI_RGB;
  uint32_t SizeImage = 0;
  uint32_t ClrUsed = 0;
  uint32_t Masks[3] = {0, 0, 0};
  bool Core = false;
};

// One channel of bit-field pixels, scaled to 0..255 (an empty mask reads 0).
class TMaskChannel {
public:
  explicit TMaskChannel(uint32_t mask) : FMask(mask) {
    if (!mask) return;
    while (!(mask & 1)) mask >>= 1, ++FShift;
    FMax = mask;
  }
  uint8_t operator()(uint32_t pixel) const {
    if (!FMax) return 0;
    return static_cast<uint8_t>((uint64_t{(pixel & FMask) >> FShift} * 255 + FMax / 2) / FMax);
  }

private:
  uint32_t FMask, FMax = 0;
  int FShift = 0;
};

// Expands 4- and 8-bit run-length data into a zeroed bottom-up image. Runs
// and deltas that leave the image are clipped; the input is never overrun.
void ExpandRle(const uint8_t* in, size_t n, TBitmapImage& image, bool rle4) {
  int64_t x = 0, y = 0;  // y counts rows from the bottom, as the data does
  const int64_t w = image.Width, h = image.Height;
  auto put = [&](uint8_t index) {
    if (x >= 0 && x < w && y < h) {
      uint8_t* row = image.Bits.data() + static_cast<size_t>(y) * image.RowSize;
      if (rle4) {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 15)) : static_cast<uint8_t>((b & 0x0F) | index << 4);
      } else {
        row[x] = index;
      }
    }
    ++x;
  };
  size_t i = 0;
  while (i + 1 < n && y < h) {
    uint8_t count = in[i], value = in[i + 1];
    i += 2;
    if (count) {
      for (int k = 0; k < count && x < w; ++k) put(rle4 ? ((k & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0, ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (i + 1 >= n) break;
      x += in[i], y += in[i + 1];
      i += 2;
    } else {  // absolute run of value pixels, padded to a word
      size_t bytes = rle4 ? (value + 1u) / 2 : value;
      size_t avail = std::min(bytes, n - i);
      for (int k = 0; k < value; ++k) {
        size_t at = rle4 ? static_cast<size_t>(k / 2) : static_cast<size_t>(k);
        if (at >= avail) break;
        uint8_t b = in[i + at];
        put(rle4 ? ((k & 1) ? b & 15 : b >> 4) : b);
      }
      i += (bytes + 1) & ~size_t{1};
    }
  }
}

TDibHeader ParseHeader(const uint8_t* p, size_t n) {
  TDibHeader h;
  if (n < 4) InvalidBitmap();
  h.Size = LE32(p);
  if (h.Size == 12) {
    if (n < 12) InvalidBitmap();
    h.Core = true;
    h.Width = LE16(p + 4);
    h.Height = LE16(p + 6);
    h.BitCount = LE16(p + 10);
  } else if (h.Size >= 40) {
    if (n < 40) InvalidBitmap();
    h.Width = static_cast<int32_t>(LE32(p + 4));
    int32_t height = static_cast<int32_t>(LE32(p + 8));
    if (height == INT32_MIN) InvalidBitmap();
    h.TopDown = height < 0;
    h.Height = height < 0 ? -height : height;
    h.BitCount = LE16(p + 14);
    h.Compression = LE32(p + 16);
    h.SizeImage = LE32(p + 20);
    h.ClrUsed = LE32(p + 32);
    if (h.Size >= 52 && n >= 52)
      for (int i = 0; i < 3; ++i) h.Masks[i] = LE32(p + 40 + 4 * i);
  } else {
    InvalidBitmap();
  }
  return h;
}

// Decodes a DIB whose header starts at data[0] (data holds everything up to
// the end of the pixel bits). bitsOffset is where the pixels start, or 0 for
// "right after the colour table".
std::shared_ptr<TBitmapImage> DecodeDib(const uint8_t* data, size_t size, size_t bitsOffset) {
  TDibHeader h = ParseHeader(data, size);
  if (h.Width <= 0 || h.Height <= 0) InvalidBitmap();
  const int bpp = h.BitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) InvalidBitmap();
  if (!ImageSizeAllowed(h.Width, h.Height, bpp)) InvalidBitmap();
  switch (h.Compression) {
    case BI_RGB: break;
    case BI_RLE8: if (bpp != 8 || h.TopDown) InvalidBitmap(); break;
    case BI_RLE4: if (bpp != 4 || h.TopDown) InvalidBitmap(); break;
    case BI_BITFIELDS: if (bpp != 16 && bpp != 32) InvalidBitmap(); break;
    default: InvalidBitmap();
  }
  size_t pos = h.Size;
  if (h.Compression == BI_BITFIELDS && h.Size < 52) {
    if (size < pos + 12) InvalidBitmap();
    for (int i = 0; i < 3; ++i) h.Masks[i] = LE32(data + pos + 4 * i);
    pos += 12;
  }

  // Colour table.
  const size_t entrySize = h.Core ? 3 : 4;
  uint32_t colours = 0;
  if (bpp <= 8) {
    colours = h.ClrUsed ? h.ClrUsed : 1u << bpp;
    if (colours > (1u << bpp)) InvalidBitmap();
  } else if (!h.Core) {
    if (h.ClrUsed > 256) InvalidBitmap();
    colours = h.ClrUsed;  // present in the file, not used by direct-colour pixels
  }
  if (size - std::min(size, pos) < colours * entrySize) InvalidBitmap();
  HPALETTE palette;
  if (bpp <= 8) {
    std::vector<TPaletteEntry> entries(colours);
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t* e = data + pos + i * entrySize;
      entries[i] = TPaletteEntry{e[2], e[1], e[0], 0};
    }
    palette = CreatePalette(std::move(entries));
  }
  pos += colours * entrySize;
  if (bitsOffset == 0 || bitsOffset < pos) bitsOffset = pos;
  if (bitsOffset > size) InvalidBitmap();
  const uint8_t* bits = data + bitsOffset;
  const size_t bitsSize = size - bitsOffset;

  TPixelLayout layout = bpp == 1 ? pl1Bit : bpp == 4 ? pl4Bit : bpp == 8 ? pl8Bit : bpp == 24 ? pl24Bit : pl32Bit;
  bool direct = true;  // rows can be copied as stored
  if (bpp == 16) {
    if (h.Compression == BI_RGB || (h.Masks[0] == 0x7C00 && h.Masks[1] == 0x03E0 && h.Masks[2] == 0x001F)) {
      layout = pl15Bit;
    } else if (h.Masks[0] == 0xF800 && h.Masks[1] == 0x07E0 && h.Masks[2] == 0x001F) {
      layout = pl16Bit;
    } else {
      layout = pl24Bit;
      direct = false;
    }
  } else if (bpp == 32 && h.Compression == BI_BITFIELDS &&
             !(h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 && h.Masks[2] == 0xFF)) {
    direct = false;
  }

  auto image = std::make_shared<TBitmapImage>();
  image->Width = h.Width;
  image->Height = h.Height;
  image->Layout = layout;
  image->RowSize = RowSizeOf(h.Width, BitsPerPixelOf(layout));
  image->Palette = palette;
  image->Bits.assign(image->RowSize * static_cast<size_t>(h.Height), 0);

  if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
    ExpandRle(bits, bitsSize, *image, h.Compression == BI_RLE4);
    return image;
  }
  const size_t fileRow = RowSizeOf(h.Width, bpp);
  if (bitsSize / fileRow < static_cast<size_t>(h.Height)) InvalidBitmap();
  const TMaskChannel red(h.Masks[0]), green(h.Masks[1]), blue(h.Masks[2]);
  for (int32_t r = 0; r < h.Height; ++r) {
    // r counts stored rows; memory is bottom-up like an ordinary file.
    const uint8_t* src = bits + static_cast<size_t>(r) * fileRow;
    size_t memRow = h.TopDown ? static_cast<size_t>(h.Height - 1 - r) : static_cast<size_t>(r);
    uint8_t* dst = image->Bits.data() + memRow * image->RowSize;
    if (direct) {
      std::memcpy(dst, src, fileRow);
      continue;
    }
    for (int32_t x = 0; x < h.Width; ++x) {
      uint32_t px = bpp == 16 ? LE16(src + 2 * x) : LE32(src + 4 * x);
      uint8_t* d = dst + static_cast<size_t>(x) * (bpp == 16 ? 3 : 4);
      d[0] = blue(px);
      d[1] = green(px);
      d[2] = red(px);
    }
  }
  return image;
}

// The info header, colour table and bits of an image (a packed DIB);
// palette holds the colours that its pixels index.
std::vector<uint8_t> EncodeDib(const TBitmapImage& image, std::vector<TPaletteEntry> palette) {
  TPixelLayout layout = image.Layout;
  int bpp = BitsPerPixelOf(layout);
  std::vector<TPaletteEntry> colours;
  if (bpp <= 8) {
    colours = std::move(palette);
    if (colours.size() > (1u << bpp)) colours.resize(1u << bpp);
  }
  std::vector<uint8_t> out;
  PutLE32(out, 40);
  PutLE32(out, static_cast<uint32_t>(image.Width));
  PutLE32(out, static_cast<uint32_t>(image.Height));
  PutLE16(out, 1);
  PutLE16(out, static_cast<uint16_t>(bpp));
  PutLE32(out, layout == pl16Bit ? BI_BITFIELDS : BI_RGB);
  PutLE32(out, static_cast<uint32_t>(image.Bits.size()));
  PutLE32(out, 3780);  // 96 dots per inch
  PutLE32(out, 3780);
  PutLE32(out, static_cast<uint32_t>(colours.size()));
  PutLE32(out, 0);
  if (layout == pl16Bit) {
    PutLE32(out, 0xF800);
    PutLE32(out, 0x07E0);
    PutLE32(out, 0x001F);
  }
  for (const TPaletteEntry& e : colours) {
    out.push_back(e.peBlue), out.push_back(e.peGreen), out.push_back(e.peRed), out.push_back(0);
  }
  out.insert(out.end(), image.Bits.begin(), image.Bits.end());
  return out;
}

}  // namespace

void TBitmap::LoadStream(TStream& stream) { ReadBmp(stream); }

void TBitmap::ReadBmp(TStream& stream) {
  uint8_t fileHeader[14];
  if (stream.Read(fileHeader, sizeof fileHeader) != sizeof fileHeader) InvalidBitmap();
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') InvalidBitmap();
  uint32_t offBits = LE32(fileHeader + 10);
  // The rest of the BMP, bounded by what the stream holds.
  int64_t left = stream.Remaining();
  std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(left, 0)));
  data.resize(stream.Read(data.data(), data.size()));
  size_t bitsOffset = offBits >= 14 ? offBits - 14 : 0;
  auto image = DecodeDib(data.data(), data.size(), bitsOffset);
  FImage = std::move(image);
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

void TBitmap::LoadDib(const uint8_t* data, size_t size, size_t bitsOffset) {
  if (!data) InvalidBitmap();
  FImage = DecodeDib(data, size, bitsOffset);
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

void TBitmap::SaveStream(TStream& stream) {
  std::vector<uint8_t> dib = EncodeDib(*FImage, EffectivePalette());
  const uint8_t* p = dib.data();
  uint32_t colours = LE32(p + 32);
  uint32_t offBits = 14 + 40 + (FImage->Layout == pl16Bit ? 12 : 0) + colours * 4;
  std::vector<uint8_t> header;
  header.push_back('B');
  header.push_back('M');
  PutLE32(header, static_cast<uint32_t>(14 + dib.size()));
  PutLE32(header, 0);
  PutLE32(header, offBits);
  stream.WriteExact(header.data(), header.size());
  stream.WriteExact(dib.data(), dib.size());
}

void TBitmap::LoadClipboard(uint16_t format, THandle data, HPALETTE palette) {
  if ((format != CF_BITMAP && format != CF_DIB) || !data) throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
  auto* p = static_cast<const uint8_t*>(GlobalLock(data));
  size_t size = GlobalSize(data);
  if (!p) throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
  std::vector<uint8_t> copy(p, p + size);
  GlobalUnlock(data);
  FImage = DecodeDib(copy.data(), copy.size(), 0);
  if (palette && FImage->Layout >= pl1Bit && FImage->Layout <= pl8Bit) FImage->Palette = palette;
  PaletteModified = FImage->Palette != nullptr;
  NotifyChanged(this);
}

void TBitmap::SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) {
  std::vector<uint8_t> dib = EncodeDib(*FImage, EffectivePalette());
  data = GlobalAlloc(GMEM_MOVEABLE, dib.size());
  std::memcpy(GlobalLock(data), dib.data(), dib.size());
  GlobalUnlock(data);
  format = CF_BITMAP;
  palette = FImage->Palette;
}

}  // namespace tolvane
