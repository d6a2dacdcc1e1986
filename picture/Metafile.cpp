// Reading of metafiles: which kind a file holds and how large its picture
// is. The records themselves are left to the player (see SetMetafilePlayer),
// which is the only part that needs a drawing library.
#include <algorithm>
#include <cstdlib>

#include "Graphics.h"
#include "MetafileRecords.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TMetafile, TGraphic)

namespace {

TMetafilePlayer Player = nullptr;

constexpr uint32_t EmrHeaderType = 1;
constexpr uint32_t EmfSignature = 0x464D4520;  // " EMF"
constexpr size_t EmfMinHeader = 88;
constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr size_t PlaceableHeaderSize = 22;
constexpr size_t WmfHeaderSize = 18;
constexpr uint16_t WmfSetWindowOrg = 0x020B;
constexpr uint16_t WmfSetWindowExt = 0x020C;
constexpr int32_t PixelsPerInch = 96;

[[noreturn]] void InvalidMetafile() { throw EInvalidGraphic(GraphicsConst::SInvalidMetafile); }

struct TMetafileInfo {
  TMetafileKind Kind = TMetafileKind::mkNone;
  TRect Frame;
  int32_t UnitsPerInch = PixelsPerInch;
  size_t Length = 0;  // bytes that belong to the metafile
};

// value * numerator / denominator rounded half away from zero, held to the
// 64-bit range (header fields multiplied together can pass it).
int64_t ScaleRounded(int64_t value, int64_t numerator, int64_t denominator) {
  const __int128 n = static_cast<__int128>(value) * numerator;
  const __int128 half = denominator / 2;
  const __int128 q = n >= 0 ? (n + half) / denominator : -((-n + half) / denominator);
  return static_cast<int64_t>(std::clamp<__int128>(q, INT64_MIN, INT64_MAX));
}

bool IsWmfHeader(const uint8_t* p, size_t available) {
  if (available < WmfHeaderSize) return false;
  uint16_t type = LoadLE16(p), headerWords = LoadLE16(p + 2);
  return (type == 1 || type == 2) && headerWords == WmfHeaderSize / 2;
}

// Bytes of a Windows metafile whose header starts at p: the header's size
// field in words, cut to what is there. Writers disagree on whether that
// size counts a placeable header, so a file shorter than it is kept, and
// playback ends where its records do.
size_t WmfLength(const uint8_t* p, size_t available) {
  uint64_t bytes = uint64_t{LoadLE32(p + 6)} * 2;
  if (bytes < WmfHeaderSize) InvalidMetafile();
  return static_cast<size_t>(std::min<uint64_t>(bytes, available));
}

// The first window origin and extent that a Windows metafile's records set;
// the walk stops at the first record that does not fit.
TRect WmfWindow(const uint8_t* p, size_t size) {
  bool haveOrg = false, haveExt = false;
  int32_t orgX = 0, orgY = 0, extX = 0, extY = 0;
  size_t pos = WmfHeaderSize;
  while (pos + 6 <= size && !(haveOrg && haveExt)) {
    uint64_t bytes = uint64_t{LoadLE32(p + pos)} * 2;
    uint16_t function = LoadLE16(p + pos + 4);
    if (bytes < 6 || bytes > size - pos || function == 0) break;
    if (bytes >= 10 && (function == WmfSetWindowOrg || function == WmfSetWindowExt)) {
      int32_t y = LoadLES16(p + pos + 6), x = LoadLES16(p + pos + 8);
      if (function == WmfSetWindowOrg && !haveOrg) orgX = x, orgY = y, haveOrg = true;
      if (function == WmfSetWindowExt && !haveExt) extX = x, extY = y, haveExt = true;
    }
    pos += static_cast<size_t>(bytes);
  }
  if (!haveExt) return TRect{};
  return Rect(orgX, orgY, orgX + extX, orgY + extY);
}

TMetafileInfo ReadEnhanced(const uint8_t* p, size_t size) {
  TMetafileInfo info;
  info.Kind = TMetafileKind::mkEnhanced;
  info.UnitsPerInch = 2540;  // the frame is in 0.01 mm
  uint32_t headerSize = LoadLE32(p + 4);
  uint32_t total = LoadLE32(p + 48);
  if (headerSize < EmfMinHeader || headerSize > size || total < headerSize || total > size) InvalidMetafile();
  info.Length = total;
  info.Frame = Rect(LoadLES32(p + 24), LoadLES32(p + 28), LoadLES32(p + 32), LoadLES32(p + 36));
  if (int64_t{info.Frame.Right} - info.Frame.Left <= 0 || int64_t{info.Frame.Bottom} - info.Frame.Top <= 0) {
    // No frame: the bounds of what was drawn, in reference-device pixels
    // (both edges inside), brought to 0.01 mm with the device's metrics.
    int64_t devX = LoadLES32(p + 72), devY = LoadLES32(p + 76), mmX = LoadLES32(p + 80), mmY = LoadLES32(p + 84);
    TRect b = Rect(LoadLES32(p + 8), LoadLES32(p + 12), LoadLES32(p + 16), LoadLES32(p + 20));
    if (devX <= 0 || devY <= 0 || mmX <= 0 || mmY <= 0 || b.Right < b.Left || b.Bottom < b.Top) {
      info.Frame = TRect{};
    } else {
      auto cx = [&](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(ScaleRounded(v, mmX * 100, devX), INT32_MIN, INT32_MAX)); };
      auto cy = [&](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(ScaleRounded(v, mmY * 100, devY), INT32_MIN, INT32_MAX)); };
      info.Frame = Rect(cx(b.Left), cy(b.Top), cx(int64_t{b.Right} + 1), cy(int64_t{b.Bottom} + 1));
    }
  }
  return info;
}

TMetafileInfo ReadPlaceable(const uint8_t* p, size_t size) {
  if (size < PlaceableHeaderSize + WmfHeaderSize) InvalidMetafile();
  uint16_t checksum = 0;
  for (size_t i = 0; i < 20; i += 2) checksum ^= LoadLE16(p + i);
  if (checksum != LoadLE16(p + 20)) InvalidMetafile();
  uint16_t inch = LoadLE16(p + 14);
  if (inch == 0 || !IsWmfHeader(p + PlaceableHeaderSize, size - PlaceableHeaderSize)) InvalidMetafile();
  TMetafileInfo info;
  info.Kind = TMetafileKind::mkPlaceable;
  info.Frame = Rect(LoadLES16(p + 6), LoadLES16(p + 8), LoadLES16(p + 10), LoadLES16(p + 12));
  info.UnitsPerInch = inch;
  info.Length = PlaceableHeaderSize + WmfLength(p + PlaceableHeaderSize, size - PlaceableHeaderSize);
  return info;
}

// The plain metafile's frame comes from its records, once they are read.
TMetafileInfo ReadPlain(const uint8_t* p, size_t size) {
  TMetafileInfo info;
  info.Kind = TMetafileKind::mkPlain;
  info.Length = WmfLength(p, size);
  return info;
}

// p holds the file's first bytes (as many as an enhanced header needs, or
// the whole file when it is shorter); size is the length of the file.
TMetafileInfo ReadMetafileInfo(const uint8_t* p, size_t prefix, size_t size) {
  if (prefix >= EmfMinHeader && LoadLE32(p) == EmrHeaderType && LoadLE32(p + 40) == EmfSignature) return ReadEnhanced(p, size);
  if (prefix >= PlaceableHeaderSize + WmfHeaderSize && LoadLE32(p) == PlaceableKey) return ReadPlaceable(p, size);
  if (prefix >= 4 && LoadLE32(p) == PlaceableKey) InvalidMetafile();
  if (IsWmfHeader(p, prefix)) return ReadPlain(p, size);
  InvalidMetafile();
}

}  // namespace

void SetMetafilePlayer(TMetafilePlayer player) { Player = player; }
TMetafilePlayer MetafilePlayer() { return Player; }

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::CopyFrom(TPersistent* source) {
  if (source && source->Is<TMetafile>()) {
    auto* other = static_cast<TMetafile*>(source);
    FData = other->FData;
    FKind = other->FKind;
    FFrame = other->FFrame;
    FUnitsPerInch = other->FUnitsPerInch;
    FWidth = other->FWidth;
    FHeight = other->FHeight;
    NotifyChanged(this);
    return;
  }
  if (!source) {
    FData.clear();
    FKind = TMetafileKind::mkNone;
    FFrame = TRect{};
    FUnitsPerInch = PixelsPerInch;
    FWidth = FHeight = 0;
    NotifyChanged(this);
    return;
  }
  TGraphic::CopyFrom(source);
}

void TMetafile::Render(TCanvas& canvas, const TRect& rect) {
  if (FData.empty() || !Player || rect.Right <= rect.Left || rect.Bottom <= rect.Top) return;
  TBitmap& target = canvas.DeviceContext();
  Player(*this, target, rect);
  target.NotifyChanged(&target);
}

bool TMetafile::IsBlank() { return FData.empty(); }
int32_t TMetafile::ImageHeight() { return FHeight; }
int32_t TMetafile::ImageWidth() { return FWidth; }

void TMetafile::ResizeHeight(int32_t value) {
  FHeight = value;
  NotifyChanged(this);
}

void TMetafile::ResizeWidth(int32_t value) {
  FWidth = value;
  NotifyChanged(this);
}

void TMetafile::LoadStream(TStream& stream) {
  const int64_t start = stream.Position();
  const uint64_t available = static_cast<uint64_t>(stream.Remaining());
  std::vector<uint8_t> data(static_cast<size_t>(std::min<uint64_t>(available, EmfMinHeader)));
  data.resize(stream.Read(data.data(), data.size()));
  TMetafileInfo info = ReadMetafileInfo(data.data(), data.size(), static_cast<size_t>(std::min<uint64_t>(available, SIZE_MAX)));
  // A size past the limits is refused before the records are read, where
  // the header gives it.
  int64_t width = 0, height = 0;
  auto checkSize = [&info, &width, &height] {
    width = ScaleRounded(std::llabs(int64_t{info.Frame.Right} - info.Frame.Left), PixelsPerInch, info.UnitsPerInch);
    height = ScaleRounded(std::llabs(int64_t{info.Frame.Bottom} - info.Frame.Top), PixelsPerInch, info.UnitsPerInch);
    if (!ImageSizeAllowed(width, height, 32)) InvalidMetafile();
  };
  if (info.Kind != TMetafileKind::mkPlain) checkSize();
  // The records are read one by one up to the length the header declares;
  // of a long record only what can be drawn is kept.
  if (info.Kind == TMetafileKind::mkEnhanced) {
    data.resize(EmfMinHeader);
    if (!ReadEnhancedRecords(stream, data, info.Length)) InvalidMetafile();
  } else {
    const size_t headerAt = info.Kind == TMetafileKind::mkPlaceable ? PlaceableHeaderSize : 0;
    data.resize(headerAt + WmfHeaderSize);
    stream.SetPosition(start + static_cast<int64_t>(data.size()));
    ReadWindowsRecords(stream, data, headerAt, info.Length);
    if (info.Kind == TMetafileKind::mkPlain) {
      info.Frame = WmfWindow(data.data(), data.size());
      checkSize();
    }
  }
  // No shrink to fit: it would hold the records twice while it copies them,
  // and spare capacity that was never written costs no memory.
  FData = std::move(data);
  FKind = info.Kind;
  FFrame = info.Frame;
  FUnitsPerInch = info.UnitsPerInch;
  FWidth = static_cast<int32_t>(width);
  FHeight = static_cast<int32_t>(height);
  NotifyChanged(this);
}

void TMetafile::SaveStream(TStream& stream) { stream.WriteExact(FData.data(), FData.size()); }

void TMetafile::LoadClipboard(uint16_t, THandle, HPALETTE) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

void TMetafile::SaveClipboard(uint16_t&, THandle&, HPALETTE&) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

}  // namespace tolvane
