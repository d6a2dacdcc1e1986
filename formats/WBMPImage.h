// Wireless bitmaps (WBMP): monochrome pictures behind a header of
// variable-length integers, read, written and exchanged through the
// clipboard.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/Graphics.h"

namespace tolvane {

// A multi-byte integer: 7 bits a byte, most significant group first, bit 7
// set on every byte but the last; at most 5 bytes, computed in 32 bits. A
// byte the stream does not deliver ends the integer.
uint32_t ReadMultiByteInt(TStream& stream);
// Writes value as a multi-byte integer; returns the bytes written.
int WriteMultiByteInt(TStream& stream, uint32_t value);

// The fields of a WBMP file and its packed rows.
class TWBMPFile : public TPersistent {
  TOLVANE_CLASS(TWBMPFile)
public:
  // Reads type, fixed header, width and height.
  void ReadHeader(TStream& stream);
  void WriteHeader(TStream& stream);
  // The header, then ReadRows.
  void LoadStream(TStream& stream);
  // The rows' bytes that follow the header: at most what Height rows of
  // Width pixels need, so trailing bytes never cost memory.
  void ReadRows(TStream& stream);
  void SaveStream(TStream& stream);
  void SetData(const uint8_t* bytes, size_t count);
  void GetData(uint8_t* destination) const;
  size_t DataSize() const { return Data.size(); }
  // From another TWBMPFile: Height, Width and Data (the type fields stay).
  void CopyFrom(TPersistent* source) override;

  // Bytes of one packed row: Ceil(Width / 8).
  size_t RowBytes() const { return (size_t{Width} + 7) / 8; }

  uint32_t Height = 0;
  uint32_t Width = 0;
  uint16_t TypeField = 0;
  uint16_t FixHeaderField = 0;
  std::vector<uint8_t> Data;
};

// The WBMP graphic: keeps the file and builds a 1-bit bitmap of it (the
// cache) when it is first drawn or asked for its pixels.
class TWBMPImage : public TGraphic {
  TOLVANE_CLASS(TWBMPImage)
public:
  TWBMPImage();
  ~TWBMPImage() override;

  void CopyFrom(TPersistent* source) override;
  void CopyInto(TPersistent& dest) override;
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override;
  int32_t ImageHeight() override;
  int32_t ImageWidth() override;
  HPALETTE PaletteOf() override;
  void ResizeHeight(int32_t value) override;
  void ResizeWidth(int32_t value) override;
  // A header whose size is beyond the picture limits raises EInvalidGraphic
  // "Bitmap image is not valid"; the earlier picture's cache is dropped.
  void LoadStream(TStream& stream) override;
  // From the cache when there is one (pixels through its palette: light is
  // bit 1), otherwise the file's own header and rows.
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // The cache, built on first use.
  TBitmap& GetBitmap();
  [[noreturn]] void Error(const std::string& text);

  const TWBMPFile& File() const { return *FFile; }

private:
  void BuildCache();
  void FileFromCache();

  std::unique_ptr<TBitmap> FCache;
  std::unique_ptr<TWBMPFile> FFile;
};

// The clipboard format registered as "WBmp image" (0 before start-up).
extern uint16_t CF_WBMP;

// Start-up: registers "wbmp", the clipboard format and the clipboard pair.
void InitializeWBMPImageUnit();
// Shutdown: takes the class out of the picture registry.
void FinalizeWBMPImageUnit();

}  // namespace tolvane
