// The SGI image reader.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

class TSGIRLEDecoder;

// SGI images ("sgi", "rgb", "rgba", "bw"): one, three or four channels of 8
// or 16 bits, run-length coded or verbatim, stored channel after channel,
// bottom row first. One channel loads as 8-bit grey, three as 24-bit and
// four as 32-bit images with the alpha in the fourth byte.
class TSGIGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TSGIGraphic)
public:
  TSGIGraphic();
  ~TSGIGraphic() override;

  void LoadStream(TStream& stream) override;
  // More than 512 bytes left and a header with the magic 474, 1 or 2 bytes
  // per channel and dimension 1 to 3; the position is restored.
  static bool ProbeStream(TStream& stream);
  // The 512-byte header; false unless its magic is 474.
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
  // File row `row` (0 = bottom) of each channel whose target is not null,
  // bytesPerChannel bytes per sample; what the file does not hold stays 0.
  void ReadRows(uint8_t* channel0, uint8_t* channel1, uint8_t* channel2, uint8_t* channel3, uint32_t row,
                uint32_t bytesPerChannel);

private:
  void ReadOffsetTables(TStream& stream);
  void ReadChannelRow(uint8_t* target, uint32_t channel, uint32_t row, uint32_t bytesPerChannel);
  size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count);
  void FreeLoadState() override;

  std::vector<uint32_t> FRowStarts, FRowLengths;  // run-length files, channel after channel
  std::unique_ptr<TSGIRLEDecoder> FDecoder;
  std::vector<uint8_t> FPacked;                   // one packed row
  std::vector<uint8_t> FChannels[4];              // one row of each channel
  uint64_t FStreamSize = 0;
};

}  // namespace tolvane
