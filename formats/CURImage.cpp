#include "CURImage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TCURObject, TGraphic)

namespace {

const char* const SInvalidCursor = "Invalid cursor";
const char* const SNotSupported = "Not supported";

// Animated cursors hold a handful of chunks before their frames.
constexpr int MaxChunks = 1024;

[[noreturn]] void InvalidCursor() { throw Exception(SInvalidCursor); }

std::vector<uint8_t> ReadBlock(TStream& stream, int64_t position, int64_t count) {
  std::vector<uint8_t> data(static_cast<size_t>(count));
  stream.SetPosition(position);
  stream.ReadExact(data.data(), data.size());
  return data;
}

// The bytes from start to end of another stream, seen as a stream of their
// own: the cursor file inside an animated cursor's frame is read in place,
// and its entries cannot reach past the frame.
class TByteRange : public TStream {
public:
  TByteRange(TStream& base, int64_t start, int64_t end) : FBase(base), FStart(start), FCount(end - start) {
    FBase.SetPosition(start);
  }
  size_t Read(void* buffer, size_t count) override {
    const int64_t left = FCount - (FBase.Position() - FStart);
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(left, 0, static_cast<int64_t>(count)));
    return n ? FBase.Read(buffer, n) : 0;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t from = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? FBase.Position() - FStart
                                                            : FCount;
    const int64_t target = std::clamp<int64_t>(from + offset, 0, FCount);
    return FBase.Seek(FStart + target, TSeekOrigin::soBeginning) - FStart;
  }
  int64_t Size() override { return FCount; }

private:
  TStream& FBase;
  const int64_t FStart, FCount;
};

// A cursor or icon file from base to end, read through the stream: only the
// bytes its chosen image needs are read, however large the file claims to be.
std::shared_ptr<TIconImage> ReadCursorFile(TStream& stream, int64_t base, int64_t end) {
  TByteRange bytes(stream, base, end);
  return ReadIconResource(bytes);
}

struct TChunk {
  char Id[5] = {};
  int64_t Data = 0, Size = 0;  // the data's position and size, within the parent
};

// The chunk at position, its size bounded by the bytes left before end.
TChunk ReadChunk(TStream& stream, int64_t position, int64_t end) {
  std::vector<uint8_t> head = ReadBlock(stream, position, 8);
  TChunk chunk;
  std::memcpy(chunk.Id, head.data(), 4);
  chunk.Data = position + 8;
  chunk.Size = std::min<int64_t>(LoadLE32(&head[4]), end - chunk.Data);
  return chunk;
}

int64_t NextChunk(const TChunk& chunk) { return chunk.Data + chunk.Size + (chunk.Size & 1); }

// The first frame of an animated cursor: a RIFF "ACON" container whose
// "LIST" "fram" holds "icon" chunks, each a whole cursor file. Frames are
// only taken when the "anih" header says they are icons.
std::shared_ptr<TIconImage> ReadAnimatedCursor(TStream& stream, int64_t base, int64_t end) {
  std::vector<uint8_t> head = ReadBlock(stream, base, 12);
  if (std::memcmp(&head[8], "ACON", 4) != 0) InvalidCursor();
  const int64_t riffEnd = std::min<int64_t>(end, base + 8 + LoadLE32(&head[4]));
  bool iconFrames = false;
  int chunks = 0;
  for (int64_t pos = base + 12; riffEnd - pos >= 8; ++chunks) {
    if (chunks == MaxChunks) InvalidCursor();
    const TChunk chunk = ReadChunk(stream, pos, riffEnd);
    pos = NextChunk(chunk);
    if (std::strcmp(chunk.Id, "anih") == 0) {
      if (chunk.Size < 36) InvalidCursor();
      iconFrames = (LoadLE32(&ReadBlock(stream, chunk.Data + 32, 4)[0]) & 1) != 0;
    } else if (std::strcmp(chunk.Id, "LIST") == 0 && chunk.Size >= 4) {
      if (std::memcmp(ReadBlock(stream, chunk.Data, 4).data(), "fram", 4) != 0) continue;
      const int64_t listEnd = chunk.Data + chunk.Size;
      for (int64_t sub = chunk.Data + 4; listEnd - sub >= 8; ++chunks) {
        if (chunks == MaxChunks) InvalidCursor();
        const TChunk frame = ReadChunk(stream, sub, listEnd);
        sub = NextChunk(frame);
        if (std::strcmp(frame.Id, "icon") != 0) continue;
        if (!iconFrames) InvalidCursor();
        return ReadCursorFile(stream, frame.Data, frame.Data + frame.Size);
      }
    }
  }
  InvalidCursor();
}

}  // namespace

HICON LoadCursorFromStream(TStream& stream) {
  try {
    const int64_t base = stream.Position(), end = stream.Size();
    char signature[4] = {};
    if (stream.Read(signature, 4) == 4 && std::memcmp(signature, "RIFF", 4) == 0)
      return CreateIconHandle(ReadAnimatedCursor(stream, base, end));
    return CreateIconHandle(ReadCursorFile(stream, base, end));
  } catch (const Exception&) {
    return 0;
  }
}

HICON LoadCursorFromFile(const std::string& fileName) {
  try {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return LoadCursorFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
}

TCURObject::TCURObject() : FBitmap(std::make_unique<TBitmap>()) { FBitmap->SetPixelLayout(pl24Bit); }

TCURObject::~TCURObject() = default;

void TCURObject::LoadFile(const std::string& fileName) {
  TCursorHandle handle(LoadCursorFromFile(fileName));
  if (!handle.Get()) throw Exception(SInvalidCursor);
  TIcon icon;
  icon.ReplaceIconHandle(handle.Get());
  FBitmap->ResizeHeight(icon.ImageHeight());
  FBitmap->ResizeWidth(icon.ImageWidth());
  // A cursor loaded before must not show through this one's transparent parts.
  FBitmap->FillRect(Rect(0, 0, FBitmap->ImageWidth(), FBitmap->ImageHeight()), clWhite);
  FBitmap->BitmapCanvas().DrawAt(0, 0, &icon);
  Width = FBitmap->ImageWidth();
  Height = FBitmap->ImageHeight();
}

void TCURObject::Render(TCanvas& canvas, const TRect&) { canvas.DrawAt(0, 0, FBitmap.get()); }

bool TCURObject::IsBlank() { throw Exception(SNotSupported); }
void TCURObject::SaveFile(const std::string&) { throw Exception(SNotSupported); }
void TCURObject::LoadStream(TStream&) { throw Exception(SNotSupported); }
void TCURObject::SaveStream(TStream&) { throw Exception(SNotSupported); }
void TCURObject::LoadClipboard(uint16_t, THandle, HPALETTE) { throw Exception(SNotSupported); }
void TCURObject::SaveClipboard(uint16_t&, THandle&, HPALETTE&) { throw Exception(SNotSupported); }

void InitializeCURImageUnit() {
  TPicture::RegisterExtension("CUR", "Cursor Bitmap", &TCURObject::StaticClass());
  TPicture::RegisterExtension("ANI", "animated Cursor", &TCURObject::StaticClass());
}

void FinalizeCURImageUnit() { TPicture::UnregisterGraphicKind(&TCURObject::StaticClass()); }

}  // namespace tolvane
