// ICO and CUR reading and drawing. An icon file holds several images; like a
// desktop showing 32 x 32 icons we pick the entry nearest to that size and,
// among equals, the deepest one.
#include <algorithm>
#include <cstring>

#include "DibReader.h"
#include "Graphics.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TIcon, TGraphic)

namespace {

[[noreturn]] void InvalidIcon() { throw EInvalidGraphic(GraphicsConst::SInvalidIcon); }

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t DirectoryHeaderSize = 6, DirectoryEntrySize = 16;

struct TEntry {
  uint64_t Offset = 0;  // from the start of the resource
  uint64_t Size = 0;
  int64_t Width = 0, Height = 0;
  int BitCount = 0;
  bool Png = false;
  const uint8_t* DirectoryEntry = nullptr;
};

// A read-only view of count bytes of another stream from a start position,
// so that an entry's reader cannot read past its entry.
class TStreamWindow : public TStream {
public:
  TStreamWindow(TStream& base, int64_t start, int64_t count) : FBase(base), FStart(start), FCount(count) {
    FBase.SetPosition(start);
  }
  size_t Read(void* buffer, size_t count) override {
    int64_t pos = FBase.Position() - FStart;
    size_t n = static_cast<size_t>(std::clamp<int64_t>(FCount - pos, 0, static_cast<int64_t>(count)));
    return n ? FBase.Read(buffer, n) : 0;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t from = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? FBase.Position() - FStart
                                                      : FCount;
    int64_t target = std::clamp<int64_t>(from + offset, 0, FCount);
    return FBase.Seek(FStart + target, TSeekOrigin::soBeginning) - FStart;
  }
  int64_t Size() override { return FCount; }

private:
  TStream& FBase;
  int64_t FStart, FCount;
};

struct TDecodedEntry {
  std::shared_ptr<TIconImage> Icon;
  uint64_t Used = 0;  // bytes of the entry that the image was read from
};

TDecodedEntry DecodeDibEntry(TStream& stream, int64_t base, const TEntry& e) {
  stream.SetPosition(base + static_cast<int64_t>(e.Offset));
  TDibReader dib(stream, e.Size, TDibKind::dkIcon, GraphicsConst::SInvalidIcon);
  std::shared_ptr<TBitmapImage> image = dib.ReadImage();
  std::vector<uint8_t> mask = dib.ReadIconMask();
  auto icon = std::make_shared<TIconImage>();
  icon->Width = image->Width;
  icon->Height = image->Height;
  icon->BitsPerPixel = dib.Header().BitCount;
  icon->XorBgra = ImageToBgra(*image, 0);
  if (mask.empty()) mask.assign(static_cast<size_t>(icon->Width) * static_cast<size_t>(icon->Height), 0);
  icon->AndMask = std::move(mask);
  bool anyAlpha = false;
  if (icon->BitsPerPixel == 32)
    for (size_t i = 3; i < icon->XorBgra.size() && !anyAlpha; i += 4) anyAlpha = icon->XorBgra[i] != 0;
  icon->HasAlpha = anyAlpha;
  return {icon, dib.Consumed()};
}

TDecodedEntry DecodePngEntry(TStream& stream, int64_t base, const TEntry& e) {
  TGraphicClass png = TPicture::FindGraphicKind("png");
  std::unique_ptr<TGraphic> graphic = TGraphic::ConstructEmpty(png);
  if (!graphic || !graphic->Is<TBitmap>()) InvalidIcon();
  TStreamWindow window(stream, base + static_cast<int64_t>(e.Offset), static_cast<int64_t>(e.Size));
  try {
    graphic->LoadStream(window);
  } catch (const Exception&) {
    InvalidIcon();
  }
  const uint64_t used = static_cast<uint64_t>(window.Position());
  auto& bmp = static_cast<TBitmap&>(*graphic);
  auto icon = std::make_shared<TIconImage>();
  icon->Width = bmp.ImageWidth();
  icon->Height = bmp.ImageHeight();
  icon->BitsPerPixel = 32;
  icon->AndMask.assign(static_cast<size_t>(icon->Width) * static_cast<size_t>(icon->Height), 0);
  icon->XorBgra = ImageToBgra(bmp.Image(), 255);
  icon->HasAlpha = true;
  return {icon, used};
}

// Ancillary chunks of a PNG entry longer than this (text, profiles,
// thumbnails) are not kept: the picture needs none of them, and a file may
// make them as long as it likes.
constexpr uint64_t MaxKeptAncillaryChunk = 64 * 1024;

// The `used` bytes of the PNG entry at the stream's position, which its
// reader went through chunk by chunk, without the long ancillary chunks.
void AppendPngEntry(TStream& stream, uint64_t used, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + sizeof PngSignature);
  stream.ReadExact(out.data() + start, sizeof PngSignature);
  uint8_t head[8];  // a chunk's length and type
  for (uint64_t at = sizeof PngSignature; at + sizeof head <= used;) {
    stream.ReadExact(head, sizeof head);
    // The data and the CRC, as far as the entry holds them (a file may end
    // without the CRC of its end chunk).
    const uint64_t rest = std::min(uint64_t{LoadBE32(head)} + 4, used - at - sizeof head);
    at += sizeof head + rest;
    const bool ancillary = (head[4] & 0x20) != 0;
    if (ancillary && LoadBE32(head) > MaxKeptAncillaryChunk) {
      stream.Seek(static_cast<int64_t>(rest), TSeekOrigin::soCurrent);
      continue;
    }
    const size_t chunk = out.size();
    out.resize(chunk + sizeof head + static_cast<size_t>(rest));
    std::memcpy(out.data() + chunk, head, sizeof head);
    stream.ReadExact(out.data() + chunk + sizeof head, static_cast<size_t>(rest));
  }
}

// The icon file that SaveStream writes: the directory entry of the image
// shown and the bytes that image was read from.
std::vector<uint8_t> SingleEntryFile(TStream& stream, int64_t base, const uint8_t* header, const TEntry& e,
                                     uint64_t used) {
  constexpr size_t ImageOffset = DirectoryHeaderSize + DirectoryEntrySize;
  std::vector<uint8_t> out(ImageOffset);
  std::memcpy(out.data(), header, 4);
  StoreLE16(out.data() + 4, 1);
  std::memcpy(out.data() + 6, e.DirectoryEntry, 8);
  const uint64_t bytes = std::min(used, e.Size);
  stream.SetPosition(base + static_cast<int64_t>(e.Offset));
  if (e.Png) {
    AppendPngEntry(stream, bytes, out);
  } else {
    out.resize(ImageOffset + static_cast<size_t>(bytes));
    stream.ReadExact(out.data() + ImageOffset, static_cast<size_t>(bytes));
  }
  StoreLE32(out.data() + 14, static_cast<uint32_t>(out.size() - ImageOffset));
  StoreLE32(out.data() + 18, static_cast<uint32_t>(ImageOffset));
  return out;
}

}  // namespace

std::shared_ptr<TIconImage> ReadIconResource(TStream& stream, std::vector<uint8_t>* saved) {
  const int64_t base = stream.Position();
  const uint64_t size = static_cast<uint64_t>(stream.Remaining());
  uint8_t header[DirectoryHeaderSize];
  if (size < sizeof header || stream.Read(header, sizeof header) != sizeof header) InvalidIcon();
  uint16_t type = LoadLE16(header + 2), count = LoadLE16(header + 4);
  if (LoadLE16(header) != 0 || (type != 1 && type != 2) || count == 0) InvalidIcon();
  if ((size - DirectoryHeaderSize) / DirectoryEntrySize < count) InvalidIcon();
  std::vector<uint8_t> directory(DirectoryEntrySize * count);
  stream.ReadExact(directory.data(), directory.size());

  // Only the first bytes of each entry are read to choose one.
  const bool pngAvailable = TPicture::FindGraphicKind("png") != nullptr;
  std::vector<TEntry> entries;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* d = directory.data() + DirectoryEntrySize * i;
    TEntry e;
    e.Size = LoadLE32(d + 8);
    e.Offset = LoadLE32(d + 12);
    e.DirectoryEntry = d;
    if (e.Offset > size || e.Size > size - e.Offset || e.Size < 8) continue;
    uint8_t head[40];
    const size_t headSize = static_cast<size_t>(std::min<uint64_t>(e.Size, sizeof head));
    stream.SetPosition(base + static_cast<int64_t>(e.Offset));
    stream.ReadExact(head, headSize);
    if (std::memcmp(head, PngSignature, 8) == 0) {
      if (!pngAvailable || e.Size < 24) continue;
      e.Png = true;
      e.Width = LoadBE32(head + 16);
      e.Height = LoadBE32(head + 20);
      e.BitCount = 32;
    } else {
      if (e.Size < 40) continue;
      e.Width = LoadLES32(head + 4);
      e.Height = LoadLES32(head + 8) / 2;
      e.BitCount = LoadLE16(head + 14);
    }
    entries.push_back(e);
  }
  if (entries.empty()) InvalidIcon();
  auto distance = [](const TEntry& e) { return std::abs(e.Width - 32) + std::abs(e.Height - 32); };
  const TEntry* best = &entries[0];
  for (const TEntry& e : entries)
    if (distance(e) < distance(*best) || (distance(e) == distance(*best) && e.BitCount > best->BitCount)) best = &e;
  TDecodedEntry decoded = best->Png ? DecodePngEntry(stream, base, *best) : DecodeDibEntry(stream, base, *best);
  std::shared_ptr<TIconImage> icon = decoded.Icon;
  icon->IsIcon = type == 1;
  if (type == 2) icon->HotSpotX = LoadLE16(best->DirectoryEntry + 4), icon->HotSpotY = LoadLE16(best->DirectoryEntry + 6);
  if (saved) *saved = SingleEntryFile(stream, base, header, *best, decoded.Used);
  return icon;
}

void DrawIconImage(TBitmap& target, const TIconImage& icon, int32_t x, int32_t y) {
  // The sum can pass 32 bits, the minimum with the target's size cannot.
  int32_t x0 = std::max(x, 0), x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + icon.Width, target.ImageWidth()));
  int32_t y0 = std::max(y, 0), y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + icon.Height, target.ImageHeight()));
  for (int32_t ty = y0; ty < y1; ++ty)
    for (int32_t tx = x0; tx < x1; ++tx) {
      size_t i = static_cast<size_t>(ty - y) * static_cast<size_t>(icon.Width) + static_cast<size_t>(tx - x);
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
  std::vector<uint8_t> data;
  FImage = ReadIconResource(stream, &data);
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
