// Windows BMP reading and writing of TBitmap, and its clipboard form (a
// packed device-independent bitmap). Every header value is checked before it
// sizes an allocation or indexes memory.
#include <algorithm>
#include <cstring>

#include "DibReader.h"
#include "Graphics.h"
#include "picture/ByteOrder.h"

namespace tolvane {

namespace {

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic(GraphicsConst::SInvalidBitmap); }


// A packed DIB held in memory (clipboard data, a metafile's bitmap record).
std::shared_ptr<TBitmapImage> DecodeDib(const uint8_t* data, size_t size, size_t bitsOffset) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TDibReader dib(stream, size, TDibKind::dkBitmap, GraphicsConst::SInvalidBitmap);
  return dib.ReadImage(bitsOffset);
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
  AppendLE32(out, 40);
  AppendLE32(out, static_cast<uint32_t>(image.Width));
  AppendLE32(out, static_cast<uint32_t>(image.Height));
  AppendLE16(out, 1);
  AppendLE16(out, static_cast<uint16_t>(bpp));
  AppendLE32(out, layout == pl16Bit ? BI_BITFIELDS : BI_RGB);
  AppendLE32(out, static_cast<uint32_t>(image.Bits.size()));
  AppendLE32(out, 3780);  // 96 dots per inch
  AppendLE32(out, 3780);
  AppendLE32(out, static_cast<uint32_t>(colours.size()));
  AppendLE32(out, 0);
  if (layout == pl16Bit) {
    AppendLE32(out, 0xF800);
    AppendLE32(out, 0x07E0);
    AppendLE32(out, 0x001F);
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
  uint32_t offBits = LoadLE32(fileHeader + 10);
  // The header, then only the bytes the pixels need: a small bitmap in a
  // large file costs what the small bitmap costs.
  TDibReader dib(stream, UINT64_MAX, TDibKind::dkBitmap, GraphicsConst::SInvalidBitmap);
  FImage = dib.ReadImage(offBits >= 14 ? offBits - 14 : 0);
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
  uint32_t colours = LoadLE32(p + 32);
  uint32_t offBits = 14 + 40 + (FImage->Layout == pl16Bit ? 12 : 0) + colours * 4;
  std::vector<uint8_t> header;
  header.push_back('B');
  header.push_back('M');
  AppendLE32(header, static_cast<uint32_t>(14 + dib.size()));
  AppendLE32(header, 0);
  AppendLE32(header, offBits);
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
