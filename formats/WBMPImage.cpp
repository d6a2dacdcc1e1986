// Wireless bitmaps: the file's fields and rows, and the graphic that shows
// them through a 1-bit bitmap.
#include "formats/WBMPImage.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

TOLVANE_DEFINE_CLASS(TWBMPFile, TPersistent)
TOLVANE_DEFINE_CREATABLE_CLASS(TWBMPImage, TGraphic)

uint16_t CF_WBMP = 0;

namespace {

constexpr const char* SChangeSize = "Invalid operation: Change size.";
constexpr const char* SUnknownClipboard = "Unknown clipboard format";
constexpr const char* SClipboardSave = "Could not save to the clipboard";
constexpr const char* SDescription = "WBmp image";
constexpr int MaxIntegerBytes = 5;

// A set bit is white: a pixel is written as 1 when its colour is light.
bool IsLight(const TPaletteEntry& e) { return e.peRed * 30 + e.peGreen * 59 + e.peBlue * 11 >= 128 * 100; }

}  // namespace

uint32_t ReadMultiByteInt(TStream& stream) {
  uint32_t value = 0;
  for (int i = 0; i < MaxIntegerBytes; ++i) {
    uint8_t byte;
    if (stream.Read(&byte, 1) != 1) break;
    value = value << 7 | (byte & 0x7Fu);
    if (!(byte & 0x80)) break;
  }
  return value;
}

int WriteMultiByteInt(TStream& stream, uint32_t value) {
  uint8_t groups[MaxIntegerBytes];
  int count = 0;
  do {
    groups[count++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && count < MaxIntegerBytes);
  for (int i = count - 1; i >= 0; --i) stream.WriteByte(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
  return count;
}

// ---- TWBMPFile -------------------------------------------------------------------

void TWBMPFile::ReadHeader(TStream& stream) {
  TypeField = static_cast<uint16_t>(ReadMultiByteInt(stream));
  FixHeaderField = static_cast<uint16_t>(ReadMultiByteInt(stream));
  Width = ReadMultiByteInt(stream);
  Height = ReadMultiByteInt(stream);
}

void TWBMPFile::WriteHeader(TStream& stream) {
  WriteMultiByteInt(stream, TypeField);
  WriteMultiByteInt(stream, FixHeaderField);
  WriteMultiByteInt(stream, Width);
  WriteMultiByteInt(stream, Height);
}

void TWBMPFile::LoadStream(TStream& stream) {
  ReadHeader(stream);
  ReadRows(stream);
}

void TWBMPFile::ReadRows(TStream& stream) {
  const uint64_t needed = uint64_t{RowBytes()} * Height;
  Data.assign(static_cast<size_t>(std::min<uint64_t>(needed, static_cast<uint64_t>(stream.Remaining()))), 0);
  Data.resize(stream.Read(Data.data(), Data.size()));
}

void TWBMPFile::SaveStream(TStream& stream) {
  WriteHeader(stream);
  stream.WriteExact(Data.data(), Data.size());
}

void TWBMPFile::SetData(const uint8_t* bytes, size_t count) { Data.assign(bytes, bytes + count); }

void TWBMPFile::GetData(uint8_t* destination) const {
  if (!Data.empty()) std::memcpy(destination, Data.data(), Data.size());
}

void TWBMPFile::CopyFrom(TPersistent* source) {
  if (!source || !source->Is<TWBMPFile>()) return TPersistent::CopyFrom(source);
  const auto& other = static_cast<const TWBMPFile&>(*source);
  Height = other.Height;
  Width = other.Width;
  Data = other.Data;
}

// ---- TWBMPImage ------------------------------------------------------------------

TWBMPImage::TWBMPImage() : FFile(std::make_unique<TWBMPFile>()) {}
TWBMPImage::~TWBMPImage() = default;

void TWBMPImage::Error(const std::string& text) { throw EInvalidGraphicOperation(text); }

void TWBMPImage::LoadStream(TStream& stream) {
  auto file = std::make_unique<TWBMPFile>();
  file->ReadHeader(stream);
  if (!ImageSizeAllowed(file->Width, file->Height, 1)) throw EInvalidGraphic(GraphicsConst::SInvalidBitmap);
  file->ReadRows(stream);
  FFile = std::move(file);
  // The new file's pixels, not the last picture's, must show.
  FCache.reset();
  NotifyChanged(this);
}

void TWBMPImage::BuildCache() {
  auto cache = std::make_unique<TBitmap>();
  cache->SetPixelLayout(pl1Bit);
  cache->ResizeWidth(static_cast<int32_t>(FFile->Width));
  cache->ResizeHeight(static_cast<int32_t>(FFile->Height));
  const size_t rowBytes = FFile->RowBytes();
  const std::vector<uint8_t>& data = FFile->Data;
  for (uint32_t y = 0; y < FFile->Height && rowBytes > 0; ++y) {
    uint8_t* row = cache->RowPointer(static_cast<int32_t>(y));
    // Bytes the file did not hold are white, the colour of an empty screen.
    const size_t offset = size_t{y} * rowBytes;
    const size_t have = offset < data.size() ? std::min(rowBytes, data.size() - offset) : 0;
    if (have) std::memcpy(row, data.data() + offset, have);
    std::memset(row + have, 0xFF, rowBytes - have);
  }
  FCache = std::move(cache);
}

TBitmap& TWBMPImage::GetBitmap() {
  if (!FCache) BuildCache();
  return *FCache;
}

void TWBMPImage::FileFromCache() {
  TBitmap& cache = *FCache;
  cache.SetPixelLayout(pl1Bit);
  FFile->Width = static_cast<uint32_t>(cache.ImageWidth());
  FFile->Height = static_cast<uint32_t>(cache.ImageHeight());
  const size_t rowBytes = FFile->RowBytes();
  // Through the palette: a bitmap whose palette puts white first (as every
  // portable bitmap does) is written with its colours, not inverted.
  bool light[2] = {false, true};
  HPALETTE palette = cache.PaletteOf();
  for (uint32_t i = 0; i < 2 && i < PaletteEntryCount(palette); ++i) light[i] = IsLight(palette->Entries[i]);
  std::vector<uint8_t> data(rowBytes * FFile->Height);
  for (uint32_t y = 0; y < FFile->Height; ++y) {
    const uint8_t* row = cache.RowPointer(static_cast<int32_t>(y));
    uint8_t* out = data.data() + size_t{y} * rowBytes;
    for (uint32_t x = 0; x < FFile->Width; ++x) {
      const bool bit = row[x / 8] >> (7 - x % 8) & 1;
      if (light[bit]) out[x / 8] = static_cast<uint8_t>(out[x / 8] | 0x80 >> (x % 8));
    }
  }
  FFile->Data = std::move(data);
}

void TWBMPImage::SaveStream(TStream& stream) {
  // A picture that was never drawn has no cache: its own rows are written,
  // so saving never loses a loaded picture.
  if (FCache) FileFromCache();
  FFile->SaveStream(stream);
}

void TWBMPImage::Render(TCanvas& canvas, const TRect& rect) { canvas.StretchInto(rect, &GetBitmap()); }

bool TWBMPImage::IsBlank() { return FCache ? FCache->IsBlank() : FFile->Width == 0 || FFile->Height == 0; }
int32_t TWBMPImage::ImageWidth() { return FCache ? FCache->ImageWidth() : static_cast<int32_t>(FFile->Width); }
int32_t TWBMPImage::ImageHeight() { return FCache ? FCache->ImageHeight() : static_cast<int32_t>(FFile->Height); }
HPALETTE TWBMPImage::PaletteOf() { return FCache ? FCache->PaletteOf() : nullptr; }

void TWBMPImage::ResizeWidth(int32_t) { Error(SChangeSize); }
void TWBMPImage::ResizeHeight(int32_t) { Error(SChangeSize); }

void TWBMPImage::CopyFrom(TPersistent* source) {
  if (source && source->Is<TWBMPImage>()) {
    FFile->CopyFrom(static_cast<TWBMPImage*>(source)->FFile.get());
    FCache.reset();  // the copied file's pixels must show, not the earlier picture
    NotifyChanged(this);
  } else if (source && source->Is<TBitmap>()) {
    if (!FCache) FCache = std::make_unique<TBitmap>();
    FCache->CopyFrom(source);
    NotifyChanged(this);
  } else {
    TGraphic::CopyFrom(source);
  }
}

void TWBMPImage::CopyInto(TPersistent& dest) {
  if (dest.Is<TBitmap>()) dest.CopyFrom(&GetBitmap());
  else TGraphic::CopyInto(dest);
}

void TWBMPImage::LoadClipboard(uint16_t format, THandle data, HPALETTE palette) {
  if (!data) data = GetClipboardData(format);
  if (data && format == CF_WBMP) {
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(data));
    struct TUnlock {
      THandle Block;
      ~TUnlock() { GlobalUnlock(Block); }
    } unlock{data};
    if (!bytes) Error(SUnknownClipboard);
    TMemoryStream stream(std::vector<uint8_t>(bytes, bytes + GlobalSize(data)));
    LoadStream(stream);
    return;
  }
  if (!data || format != CF_BITMAP) Error(SUnknownClipboard);
  TBitmap bitmap;
  bitmap.LoadClipboard(format, data, palette);
  CopyFrom(&bitmap);
}

void TWBMPImage::SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) {
  if (IsBlank()) return;
  GetBitmap().SaveClipboard(format, data, palette);
  TMemoryStream stream;
  SaveStream(stream);
  const THandle block = GlobalAlloc(GMEM_MOVEABLE, stream.Data().size());
  if (!block) return;
  try {
    std::memcpy(GlobalLock(block), stream.Data().data(), stream.Data().size());
    GlobalUnlock(block);
    if (!SetClipboardData(CF_WBMP, block)) Error(SClipboardSave);
  } catch (...) {
    GlobalFree(block);  // the clipboard owns the block only once it is set
    throw;
  }
}

// ---- Unit -------------------------------------------------------------------------

void InitializeWBMPImageUnit() {
  TPicture::RegisterExtension("WBMP", SDescription, &TWBMPImage::StaticClass());
  CF_WBMP = RegisterClipboardFormat(SDescription);
  TPicture::RegisterClipboardKind(CF_WBMP, &TWBMPImage::StaticClass());
}

void FinalizeWBMPImageUnit() { TPicture::UnregisterGraphicKind(&TWBMPImage::StaticClass()); }

}  // namespace tolvane
