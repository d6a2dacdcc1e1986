// Reading of a device-independent bitmap (DIB) from a stream: the header in
// each of its sizes (12-byte core, 40-byte info, the 52/56-byte forms with
// bit fields, V4 and V5), the bit-field masks, the colour table and the
// pixel rows of every depth, stored as they are, as bit fields or run-length
// coded (4 and 8 bits), bottom-up or top-down.
//
// BMP files, icon and cursor entries and DIBs inside metafiles all hold this
// structure. The reader takes its bytes through the stream within a byte
// budget (what the container says belongs to the DIB, and never more than
// the stream holds), checks every value before it sizes an allocation, and
// refuses uncompressed pixel data that cannot fit in the bytes left before it
// allocates the image. Memory is bounded by the image the header declares.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "picture/Classes.h"
#include "picture/Graphics.h"

namespace tolvane {

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

// What a DIB's header says.
struct TDibHeader {
  uint32_t Size = 0;           // of the header itself: 12, 40, 52, 56, 108, 124 ...
  int32_t Width = 0, Height = 0;  // Height as the rows of the image (positive)
  bool TopDown = false;
  bool Core = false;           // 12-byte header: 3-byte colour table entries
  uint16_t BitCount = 0;
  uint32_t Compression = BI_RGB;
  uint32_t SizeImage = 0;
  uint32_t ClrUsed = 0;
  uint32_t Masks[3] = {0, 0, 0};  // red, green, blue of bit-field pixels
};

// How the container holds the DIB.
enum class TDibKind : uint8_t {
  // A BMP file or a packed DIB: every header size and compression.
  dkBitmap,
  // An icon or cursor entry: an info header (40 bytes or more) whose height
  // counts the image and its 1-bit AND mask, uncompressed pixels straight
  // after the header and a colour table only for 1, 4 and 8 bits per pixel.
  dkIcon,
};

class TDibReader {
public:
  // Reads the header, the bit-field masks and the colour table from the
  // stream's position. budget is the number of bytes from there that belong
  // to the DIB (cut to what the stream holds). Anything malformed raises
  // EInvalidGraphic with invalidMessage.
  TDibReader(TStream& stream, uint64_t budget, TDibKind kind, const char* invalidMessage);

  const TDibHeader& Header() const { return FHeader; }
  // The colour table (empty for direct-colour pixels).
  const std::vector<TPaletteEntry>& Colours() const { return FColours; }

  // Reads the pixel rows into a bottom-up image. bitsOffset is where the
  // pixels lie, counted from the first byte of the header; 0 or an offset
  // inside the colour table means "right after the colour table".
  std::shared_ptr<TBitmapImage> ReadImage(uint64_t bitsOffset = 0);

  // Icons: reads the AND mask that follows the pixels, one byte per pixel
  // (1 = screen shows through), top row first. Empty when the bytes left
  // cannot hold it (32-bit entries may leave it out; others are refused).
  std::vector<uint8_t> ReadIconMask();

  // Bytes of the DIB read or skipped so far, from the header's first byte.
  uint64_t Consumed() const { return FConsumed; }

  // The header (and bit-field masks) of a bitmap-kind DIB whose first size
  // bytes are at data, checked as the constructor checks them; nothing when
  // the constructor would refuse it. The colour table is not looked at.
  static std::optional<TDibHeader> PeekHeader(const uint8_t* data, size_t size);
  // The most bytes of pixel data that ReadImage takes for a header: its
  // stored rows, or for run-length data what an encoder may spend on them
  // (four bytes a pixel, over rows eight pixels wider, the end of each row
  // and of the bitmap).
  static uint64_t PixelBytesBound(const TDibHeader& header);

private:
  TDibReader(TStream& stream, uint64_t budget, TDibKind kind, const char* invalidMessage, bool readColours);
  [[noreturn]] void Invalid() const;
  void ReadHeader();
  void ReadColourTable();
  void Read(void* buffer, uint64_t count);
  void Skip(uint64_t count);
  uint64_t Left() const { return FBudget - FConsumed; }
  void ReadUncompressed(TBitmapImage& image, bool direct);
  void ReadRunLength(TBitmapImage& image, bool rle4);

  TStream& FStream;
  uint64_t FBudget;
  uint64_t FConsumed = 0;
  TDibKind FKind;
  const char* FInvalidMessage;
  TDibHeader FHeader;
  std::vector<TPaletteEntry> FColours;
};

}  // namespace tolvane
