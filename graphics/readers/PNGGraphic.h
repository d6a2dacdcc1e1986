// The PNG reader.
#pragma once

#include <memory>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

class TLZ77Decoder;

// Portable Network Graphics ("png"): every colour type and bit depth, Adam7
// interlace, the palette and the ancillary chunks gAMA, bKGD and tRNS.
// Every chunk read is checked against its CRC. Grey with alpha becomes an
// 8-bit grey bitmap and RGB with alpha a 32-bit one with the alpha kept in
// the fourth byte; a tRNS colour becomes the bitmap's transparent colour.
// Loading only; SaveStream writes the bitmap as BMP.
class TPNGGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPNGGraphic)
public:
  TPNGGraphic();
  ~TPNGGraphic() override;

  void LoadStream(TStream& stream) override;
  // More than 8 bytes left, the first 8 the PNG signature; the position is
  // restored.
  static bool ProbeStream(TStream& stream);
  // The header chunk (which must come first) and a gAMA chunk before IEND.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

  // The 13 data bytes of the header chunk, in host order.
  struct TPngHeader {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint8_t BitDepth = 0;
    uint8_t ColorType = 0;
    uint8_t Compression = 0;
    uint8_t Filter = 0;
    uint8_t Interlace = 0;
    friend bool operator==(const TPngHeader&, const TPngHeader&) = default;
  };

private:
  // Chunks.
  bool IsChunk(const char* type) const;
  bool IsCritical() const { return (ChunkType[0] & 0x20) == 0; }
  uint32_t ReadChunkHeader(TStream& stream);
  void CheckChunkLength(TStream& stream) const;
  // A chunk's data are read in parts, each through the CRC, which is
  // checked once they have all been read.
  void BeginChunkData(TStream& stream);
  void ReadChunkPart(TStream& stream, uint8_t* dest, uint32_t count);
  void EndChunkData(TStream& stream);
  uint8_t* Window(size_t count);
  void ReadChunkData(TStream& stream);
  void SkipChunk(TStream& stream);
  TPngHeader ReadHeader(TStream& stream);
  void CheckMemory() const;
  // The palette and the ancillary chunks.
  bool ReadKnownChunk(TStream& stream, const TPngHeader& header);
  void ReadPalette(TStream& stream, const TPngHeader& header);
  void ReadGamma(TStream& stream);
  void ReadBackground(TStream& stream, const TPngHeader& header);
  void ReadTransparency(TStream& stream, const TPngHeader& header);
  bool ColorOfSamples(const TPngHeader& header, const std::vector<uint8_t>& data, TColor& colour) const;
  // The transparent colour stands for the tRNS samples alone: pixels whose
  // stored samples differ from them but that gamma or the scaling of 16-bit
  // samples would show in the same colour are kept one level apart.
  void SeparateKeyInPalette(const TPngHeader& header);
  void SeparateKeyInRow(const TPngHeader& header, const uint8_t* samples, uint8_t* row, uint32_t firstColumn,
                        uint32_t columnStep, uint32_t width) const;
  // Image data.
  uint32_t SetupColorManager(uint8_t colorType, uint8_t bitDepth);
  void ReadImageData(TStream& stream, const TPngHeader& header);
  bool NextInput(TStream& stream);
  void FinishImageChunk(TStream& stream);
  [[noreturn]] void RaiseInImageData(TStream& stream, const char* format);
  bool ImageDataLeft() const { return FInputLeft > 0 || FChunkUnread > 0; }
  int32_t Inflate(uint8_t*& dest, size_t count);
  bool InflateData(TStream& stream, uint8_t* buffer, size_t count);
  void CheckDataEnd(TStream& stream);
  void FreeLoadState() override;

  std::vector<uint8_t> RawBuffer;          // the data of the chunk read last, or a window of IDAT data
  const uint8_t* CurrentSource = nullptr;  // the inflater's position in RawBuffer
  uint32_t ChunkLength = 0;
  uint32_t FChunkUnread = 0;               // data bytes of the current chunk not yet read
  bool FInImageChunk = false;              // an IDAT chunk is being read, its CRC still unchecked
  uint8_t ChunkType[4] = {};
  uint32_t ChunkCrc = 0;
  std::unique_ptr<TLZ77Decoder> Decoder;   // made for one load
  uint32_t SourceBPP = 1;                  // bytes per complete pixel, the filter distance
  HPALETTE PngPalette;
  TColor BackgroundColor = 0xFFFFFF;
  TColor TransparentColor = 0x1FFFFFFF;    // none
  // bKGD and tRNS as stored; their colours are worked out once the colour
  // manager knows the image.
  std::vector<uint8_t> FBackground, FTransparency;
  size_t FInputLeft = 0;                   // window bytes the inflater has not consumed
  TPngHeader FInfoHeader;                  // as ReadImageInfo read it
  bool FImageRead = false;
  uint64_t FImageBytes = 0;                // zlib bytes handed to the inflater
};

}  // namespace tolvane
