// The Paint Shop Pro reader.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Paint Shop Pro images ("psp"), major version 3 and later: the image
// attributes, the palette and the first raster layer of the layer bank,
// whose channels are stored raw, run-length coded or deflated. 1-, 4- and
// 8-bit grey and indexed images load into bitmaps of their depth, 24-bit
// images into 24-bit bitmaps, or 32-bit ones with the transparency plane as
// alpha when the layer has one. Loading only.
class TPSPGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPSPGraphic)
public:
  TPSPGraphic();
  ~TPSPGraphic() override;

  void LoadStream(TStream& stream) override;
  // More than 36 bytes left, the signature text in any letter case and a
  // major version of 3 or more; the position is restored.
  static bool ProbeStream(TStream& stream);
  // The file header and the image attributes of the first block.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

  // A block header; false, reading nothing, at the end of the stream.
  bool ReadBlockHeader(TStream& stream);

private:
  // One channel of a layer as its header describes it.
  struct TChannel {
    int64_t DataStart = 0;
    uint32_t CompressedLength = 0;
    uint32_t UncompressedLength = 0;
  };

  void ReadAttributes(TStream& stream);
  void SetUpColors();
  void ReadPalette(TStream& stream);
  void ReadLayerBank(TStream& stream);
  bool ReadLayerHeader(TStream& stream, uint16_t& channelCount);
  void ReadChannels(TStream& stream, uint16_t channelCount);
  void ReadChannel(TStream& stream, const TChannel& channel, std::vector<uint8_t>& plane);
  void DecodeChannel(TStream& stream, const TChannel& channel, std::vector<uint8_t>& plane);
  void TransferRows();
  void FreeLoadState() override;

  uint8_t BlockId = 0;        // first byte of the identifier of the block header read last
  uint16_t BlockType = 0;
  uint32_t BlockLength = 0;
  uint32_t FRowLength = 0;    // bytes of one row of a channel plane
  bool FImageRead = false;    // the first acceptable layer has been read
  // Composite (or transparency), red, green, blue; empty when the layer
  // has no such channel.
  std::array<std::vector<uint8_t>, 4> FPlanes;
};

}  // namespace tolvane
