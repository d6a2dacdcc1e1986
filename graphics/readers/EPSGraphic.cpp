// The EPS reader: finds the TIFF preview through the binary header and reads
// it as a TIFF file that begins there.
#include "graphics/readers/EPSGraphic.h"

#include "graphics/GraphicStrings.h"
#include "picture/ByteOrder.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TEPSGraphic, TTIFFGraphic)

namespace {
constexpr uint32_t EPSSignature = 0xC6D3D0C5;
constexpr size_t EPSHeaderSize = 30;
}  // namespace

bool TEPSGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(EPSHeaderSize)) return false;
  uint8_t header[EPSHeaderSize];
  const bool read = stream.Read(header, EPSHeaderSize) == EPSHeaderSize;
  stream.SetPosition(start);
  return read && LoadLE32(header) == EPSSignature && start + 30 < int64_t{LoadLE32(header + 20)} &&
         LoadLE32(header + 24) > 0;
}

void TEPSGraphic::LoadStream(TStream& stream) {
  ReplaceHandle(0);
  const int64_t start = stream.Position();
  uint8_t header[EPSHeaderSize];
  stream.ReadExact(header, EPSHeaderSize);
  if (LoadLE32(header) != EPSSignature)
    RaiseInvalidGraphicFmt(GraphicStrings::SInvalidImage, {GraphicStrings::SFormatEPS});
  // The preview's own offsets count from its first byte.
  stream.SetPosition(start + int64_t{LoadLE32(header + 20)});
  TTIFFGraphic::LoadStream(stream);
}

}  // namespace tolvane
