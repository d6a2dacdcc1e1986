// The Targa reader and writer. Rows are read or decoded straight into the
// bitmap; run-length packets may run on from one row into the next, so the
// reader reads ahead in a buffer and carries the rest of a packet over.
#include "graphics/readers/TargaGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicCompression.h"
#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TTargaGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr size_t HeaderSize = 18;
constexpr uint8_t RightToLeft = 0x10;
constexpr uint8_t TopLeftOrigin = 0x20;
// The name in the message for a picture beyond the library's size limits.
constexpr const char* FormatName = "TGA";
// Targa packets hold at most this many pixels.
constexpr size_t MaxPacketPixels = 128;
// Run-length data are read ahead at least this much at a time.
constexpr size_t ReadAhead = 64 * 1024;

bool IsGreyType(uint8_t imageType) { return imageType == 3 || imageType == 11; }
bool IsPackedType(uint8_t imageType) { return imageType >= 9 && imageType <= 11; }
bool IsKnownType(uint8_t imageType) { return (imageType >= 1 && imageType <= 3) || IsPackedType(imageType); }
bool IsKnownDepth(uint8_t depth) {
  return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}
bool IsKnownMapEntry(uint8_t size) { return size == 15 || size == 16 || size == 24 || size == 32; }
size_t BytesOf(uint32_t bits) { return (bits + 7) / 8; }

// Grey images of 16 bits hold a grey and an alpha byte per pixel.
bool IsGreyAlpha(const TTargaGraphic::TTargaHeader& h) { return IsGreyType(h.ImageType) && h.PixelDepth == 16; }

// Bytes of one pixel in the bitmap: the file's own, but one grey byte for
// grey and alpha.
size_t BitmapPixelBytes(const TTargaGraphic::TTargaHeader& h) { return IsGreyAlpha(h) ? 1 : BytesOf(h.PixelDepth); }

// Turns a row stored right to left into the bitmap's left-to-right order.
void MirrorRow(uint8_t* row, size_t width, size_t pixelBytes) {
  if (width < 2) return;
  for (size_t left = 0, right = width - 1; left < right; ++left, --right)
    std::swap_ranges(row + left * pixelBytes, row + (left + 1) * pixelBytes, row + right * pixelBytes);
}

TTargaGraphic::TTargaHeader ParseHeader(const uint8_t* b) {
  TTargaGraphic::TTargaHeader h;
  h.IdLength = b[0];
  h.ColorMapType = b[1];
  h.ImageType = b[2];
  h.ColorMapStart = LoadLE16(b + 3);
  h.ColorMapLength = LoadLE16(b + 5);
  h.ColorMapEntrySize = b[7];
  h.XOrigin = LoadLE16(b + 8);
  h.YOrigin = LoadLE16(b + 10);
  h.Width = LoadLE16(b + 12);
  h.Height = LoadLE16(b + 14);
  h.PixelDepth = b[16];
  h.Descriptor = b[17];
  return h;
}

// Moves on count bytes; reads past the end fail later, where they matter.
void SkipBytes(TStream& stream, int64_t count) {
  if (count > 0) stream.Seek(count, TSeekOrigin::soCurrent);
}

// Keeps the grey byte of each grey-and-alpha pixel.
void TakeGrey(const uint8_t* pixels, uint8_t* grey, size_t count) {
  for (size_t x = 0; x < count; ++x) grey[x] = pixels[2 * x];
}

// Puts grey bytes into the grey places of grey-and-alpha pixels.
void PutGrey(const uint8_t* grey, uint8_t* pixels, size_t count) {
  for (size_t x = 0; x < count; ++x) pixels[2 * x] = grey[x];
}

}  // namespace

// ---- Header ---------------------------------------------------------------------

TTargaGraphic::TTargaHeader TTargaGraphic::ReadHeader(TStream& stream) {
  uint8_t bytes[HeaderSize];
  stream.ReadExact(bytes, sizeof bytes);
  return ParseHeader(bytes);
}

bool TTargaGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(HeaderSize)) return false;
  uint8_t bytes[HeaderSize];
  const bool complete = stream.Read(bytes, sizeof bytes) == sizeof bytes;
  stream.SetPosition(start);
  if (!complete) return false;
  const TTargaHeader h = ParseHeader(bytes);
  // Writers put 0 into the entry size when there is no map.
  return IsKnownType(h.ImageType) && h.ColorMapType <= 1 &&
         (h.ColorMapType == 0 || IsKnownMapEntry(h.ColorMapEntrySize)) && IsKnownDepth(h.PixelDepth);
}

bool TTargaGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  stream.SetPosition(BasePosition);
  const TTargaHeader h = ReadHeader(stream);
  TImageProperties& p = ImageProperties;
  p.Width = h.Width;
  p.Height = h.Height;
  p.BitsPerSample = 8;
  switch (h.PixelDepth) {
    case 8:
      p.SamplesPerPixel = 1;
      p.ColorScheme = IsGreyType(h.ImageType) ? ckGrey : ckIndexed;
      break;
    case 15:
    case 16:
      if (IsGreyAlpha(h)) {
        p.SamplesPerPixel = 2;
        p.ColorScheme = ckGreyAlpha;
        p.HasAlpha = true;
      } else {
        p.SamplesPerPixel = 3;
        p.BitsPerSample = 5;
        p.ColorScheme = ckRGB;
      }
      break;
    case 24:
      p.SamplesPerPixel = 3;
      p.ColorScheme = ckRGB;
      break;
    case 32:
      p.SamplesPerPixel = 4;
      p.ColorScheme = ckRGBA;
      break;
    default: break;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.Compression = IsPackedType(h.ImageType) ? icRLE : icNone;
  return true;
}

// ---- Load -------------------------------------------------------------------------

void TTargaGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  ReadImageInfo(stream, 0);
  const TImageProperties& p = ImageProperties;
  stream.SetPosition(BasePosition);
  StartProgress(static_cast<int32_t>(p.Width));
  const TTargaHeader header = ReadHeader(stream);
  SkipBytes(stream, header.IdLength);

  // The colour manager only chooses the layout: the file's pixels are the
  // bitmap's own.
  TColorManager& cm = ColorManager;
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SourceFlags = 0;
  cm.TargetFlags = 0;
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  if (IsGreyAlpha(header)) {
    cm.SetTargetSamplesPerPixel(1);
    cm.SetTargetScheme(ckGrey);
  } else {
    cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
    cm.SetTargetScheme(ckBGR);
  }
  cm.SetTargetBitsPerSample(p.BitsPerSample);
  const TPixelLayout layout = cm.PixelFormatFor(1);
  CheckImageSize(FormatName, layout);
  SetPixelLayout(layout);

  ReadColorMap(stream, header);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  NextStage(S::STransfering);
  if (header.ImageType >= 1 && header.ImageType <= 3) ReadRawRows(stream, header);
  else if (IsPackedType(header.ImageType)) ReadPackedRows(stream, header);
  EndProgress();
}

// The map is always passed over when there is one, so that the pixels that
// follow are found whatever the image type; it becomes the palette of
// colour-mapped images. Grey images get the linear grey palette.
void TTargaGraphic::ReadColorMap(TStream& stream, const TTargaHeader& header) {
  const bool grey = IsGreyType(header.ImageType);
  if (header.ColorMapType == 1) {
    const size_t entrySize = BytesOf(header.ColorMapEntrySize);
    const size_t count = header.ColorMapLength;
    if (grey || !IsKnownMapEntry(header.ColorMapEntrySize)) {
      SkipBytes(stream, static_cast<int64_t>(count * entrySize));
    } else {
      std::vector<uint8_t> map(count * entrySize);
      stream.ReadExact(map.data(), map.size());
      // Pixels index the map from its first entry on: map entry k is palette
      // entry first + k. Palette entries below the first stay black, like
      // indices beyond the map's end.
      const size_t first = header.ColorMapStart;
      const size_t entries = std::min<size_t>(first + count, 256);
      const size_t reached = first < entries ? entries - first : 0;  // map entries an 8-bit pixel can index
      if (entrySize >= 3) {
        std::vector<uint8_t> shifted(entries * entrySize);
        if (reached > 0) std::memcpy(shifted.data() + first * entrySize, map.data(), reached * entrySize);
        const TColorMapLayout mapLayout = entrySize == 3 ? cmInterleaved8x3 : cmInterleaved8x4;
        AssignPalette(
            ColorManager.PaletteFromColorMap({shifted.data()}, mapLayout, static_cast<uint32_t>(entries), true));
      } else {
        std::vector<TPaletteEntry> palette(entries);
        for (size_t k = 0; k < reached; ++k) {
          const uint16_t v = LoadLE16(map.data() + 2 * k);
          palette[first + k] = TPaletteEntry{static_cast<uint8_t>((v & 0x7C00) >> 7),
                                             static_cast<uint8_t>((v & 0x03E0) >> 2),
                                             static_cast<uint8_t>((v & 0x1F) << 3), 0};
        }
        AssignPalette(CreatePalette(std::move(palette)));
      }
    }
  }
  if (grey) AssignPalette(ColorManager.GreyPalette(false));
}

uint8_t* TTargaGraphic::TargetRow(uint32_t fileRow, bool topDown) {
  const uint32_t y = topDown ? fileRow : ImageProperties.Height - 1 - fileRow;
  return RowPointer(static_cast<int32_t>(y));
}

void TTargaGraphic::ReadRawRows(TStream& stream, const TTargaHeader& header) {
  const TImageProperties& p = ImageProperties;
  const bool topDown = header.Descriptor & TopLeftOrigin;
  const bool rightToLeft = header.Descriptor & RightToLeft;
  const bool greyAlpha = IsGreyAlpha(header);
  const size_t rowBytes = size_t{p.Width} * BytesOf(header.PixelDepth);
  if (greyAlpha) FRow.resize(rowBytes);
  for (uint32_t i = 0; i < p.Height; ++i) {
    uint8_t* target = TargetRow(i, topDown);
    stream.ReadExact(greyAlpha ? FRow.data() : target, rowBytes);
    if (greyAlpha) TakeGrey(FRow.data(), target, p.Width);
    if (rightToLeft) MirrorRow(target, p.Width, BitmapPixelBytes(header));
    RowDone(i + 1);
  }
}

// Each row is decoded from the read-ahead buffer. A packet that runs past
// the row's end (older writers do this, and other readers accept it) is
// carried into the next rows; only the image's end cuts it. Data that end
// early leave the rest of the picture as it was.
void TTargaGraphic::ReadPackedRows(TStream& stream, const TTargaHeader& header) {
  const TImageProperties& p = ImageProperties;
  const bool topDown = header.Descriptor & TopLeftOrigin;
  const bool rightToLeft = header.Descriptor & RightToLeft;
  const bool greyAlpha = IsGreyAlpha(header);
  const size_t pixelSize = BytesOf(header.PixelDepth);
  const size_t width = p.Width;
  // The most one row can take: a packet per pixel, then the rest of a
  // packet that runs past the row's end.
  const size_t rowInput = width * (pixelSize + 1) + MaxPacketPixels * pixelSize + 1;
  FInput.resize(std::max(rowInput, ReadAhead));
  if (greyAlpha) FRow.resize(width * pixelSize);
  size_t start = 0, end = 0;
  bool atEnd = false;

  TTargaRLEDecoder decoder(header.PixelDepth);
  uint8_t carried[MaxPacketPixels * 4];
  size_t carryLeft = 0, carryNext = 0;  // pixels of the carried packet, and the next one to use
  bool carryRun = false;

  for (uint32_t i = 0; i < p.Height; ++i) {
    uint8_t* target = TargetRow(i, topDown);
    uint8_t* out = greyAlpha ? FRow.data() : target;
    // Pixels the data never reach keep the bitmap's own, as in other depths,
    // rather than the last row's.
    if (greyAlpha) PutGrey(target, FRow.data(), width);
    size_t filled = std::min(carryLeft, width);
    for (size_t x = 0; x < filled; ++x)
      std::memcpy(out + x * pixelSize, carried + (carryRun ? 0 : (carryNext + x) * pixelSize), pixelSize);
    carryLeft -= filled;
    carryNext += filled;

    if (filled < width) {
      if (end - start < rowInput && !atEnd) {
        std::memmove(FInput.data(), FInput.data() + start, end - start);
        end -= start;
        start = 0;
        while (end < FInput.size() && !atEnd) {
          const size_t got = stream.Read(FInput.data() + end, FInput.size() - end);
          atEnd = got == 0;
          end += got;
        }
      }
      const uint8_t* first = FInput.data() + start;
      const uint8_t* source = first;
      uint8_t* dest = out + filled * pixelSize;
      const size_t wanted = width - filled;
      decoder.Decode(source, dest, static_cast<int32_t>(end - start), static_cast<int32_t>(wanted));
      const uint8_t* const used = source;
      start += static_cast<size_t>(used - first);

      // The decoder cut the last packet at the row's end; what it left out
      // starts the next row.
      size_t total = 0, lastCount = 0;
      const uint8_t* packet = first;
      const uint8_t* last = nullptr;
      while (packet < used) {
        last = packet;
        lastCount = (*packet & 0x7Fu) + 1;
        packet += 1 + (*packet & 0x80 ? pixelSize : lastCount * pixelSize);
        total += lastCount;
      }
      if (packet == used && last && total > wanted) {
        carryLeft = total - wanted;
        carryNext = 0;
        carryRun = (*last & 0x80) != 0;
        const uint8_t* from = carryRun ? last + 1 : last + 1 + (lastCount - carryLeft) * pixelSize;
        std::memcpy(carried, from, (carryRun ? 1 : carryLeft) * pixelSize);
      }
    }
    if (greyAlpha) TakeGrey(FRow.data(), target, width);
    if (rightToLeft) MirrorRow(target, width, BitmapPixelBytes(header));
    RowDone(i + 1);
  }
}

void TTargaGraphic::FreeLoadState() {
  FInput = {};
  FRow = {};
}

// ---- Write ------------------------------------------------------------------------

void TTargaGraphic::SaveStream(TStream& stream) { WriteTarga(stream, true); }

void TTargaGraphic::WriteTarga(TStream& stream, bool compressed) {
  const int32_t width = ImageWidth(), height = ImageHeight();
  StartProgress(width);
  if (IsBlank()) return;
  if (width > 0xFFFF || height > 0xFFFF)
    throw EInvalidGraphicOperation(Format("Cannot write a %dx%d picture as Targa", {width, height}));

  // Rows as the file stores them. Indexed bitmaps of 1 and 4 bits are spread
  // to one index a byte with their own palette (going through an 8-bit
  // layout would map them onto another palette); 5-6-5 pixels are written
  // as 24-bit, since every reader takes 16-bit Targa pixels for 5-5-5.
  const TPixelLayout layout = PixelLayoutOf();
  const TBitmap* pixels = this;
  TBitmap wide;
  size_t pixelSize;
  switch (layout) {
    case pl1Bit:
    case pl4Bit:
    case pl8Bit: pixelSize = 1; break;
    case pl15Bit: pixelSize = 2; break;
    case pl16Bit:
      wide.CopyFrom(this);
      wide.SetPixelLayout(pl24Bit);
      pixels = &wide;
      pixelSize = 3;
      break;
    case pl24Bit: pixelSize = 3; break;
    default: pixelSize = 4; break;  // 32-bit and device bitmaps: B, G, R, X
  }
  const size_t rowBytes = static_cast<size_t>(width) * pixelSize;
  if (pixels->RowSize() < rowBytes && layout != pl1Bit && layout != pl4Bit)
    throw EInvalidGraphic(GraphicsConst::SInvalidPixelFormat);

  uint8_t header[HeaderSize] = {};
  header[1] = pixelSize == 1 ? 1 : 0;
  header[2] = static_cast<uint8_t>((pixelSize == 1 ? 1 : 2) + (compressed ? 8 : 0));
  StoreLE16(header + 5, 256);
  header[7] = 24;
  StoreLE16(header + 12, static_cast<uint16_t>(width));
  StoreLE16(header + 14, static_cast<uint16_t>(height));
  header[16] = static_cast<uint8_t>(8 * pixelSize);
  header[17] = TopLeftOrigin;  // rows go out from the top
  stream.WriteExact(header, sizeof header);

  if (pixelSize == 1) {
    const std::vector<TPaletteEntry> palette = EffectivePalette();
    uint8_t map[3 * 256] = {};  // entries past the palette are black
    for (size_t i = 0; i < std::min<size_t>(palette.size(), 256); ++i) {
      map[3 * i] = palette[i].peBlue;
      map[3 * i + 1] = palette[i].peGreen;
      map[3 * i + 2] = palette[i].peRed;
    }
    stream.WriteExact(map, sizeof map);
  }

  NextStage(S::STransfering);
  TTargaRLEDecoder encoder(static_cast<int32_t>(8 * pixelSize));
  std::vector<uint8_t> spread(layout == pl1Bit || layout == pl4Bit ? rowBytes : 0);
  std::vector<uint8_t> packed(compressed ? encoder.MaxEncodedSize(static_cast<uint32_t>(width)) : 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = pixels->ConstRowPointer(y);
    if (layout == pl1Bit) {
      for (size_t x = 0; x < spread.size(); ++x) spread[x] = (row[x / 8] >> (7 - x % 8)) & 1;
      row = spread.data();
    } else if (layout == pl4Bit) {
      for (size_t x = 0; x < spread.size(); ++x) spread[x] = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
      row = spread.data();
    }
    if (compressed) {
      uint32_t stored = 0;
      encoder.Encode(row, packed.data(), static_cast<uint32_t>(width), stored);
      stream.WriteExact(packed.data(), stored);
    } else {
      stream.WriteExact(row, rowBytes);
    }
    ReportProgress(this, TProgressStage::psRunning, 0, false, ProgressRect, "");
    ++ProgressRect.Top;
    ++ProgressRect.Bottom;
  }
  EndProgress();
}

}  // namespace tolvane
