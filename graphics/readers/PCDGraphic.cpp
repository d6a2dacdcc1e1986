// The Photo CD reader: the Base picture's luma rows and quarter-size chroma
// rows are read into three planes, the chroma planes are doubled in place,
// and every row goes through the colour manager's Photo YCC conversion,
// turned when the pack says so.
#include "graphics/readers/PCDGraphic.h"

#include <cstring>

#include "graphics/GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPCDGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr size_t SectorSize = 2048;
constexpr size_t InfoSize = 3 * SectorSize;
constexpr int64_t OverviewDataSector = 5;
constexpr int64_t BaseDataSector = 96;
constexpr uint32_t BaseWidth = 768;
constexpr uint32_t BaseHeight = 512;
constexpr size_t RotationOffset = 3586;
constexpr uint32_t BaseIndex = 2;

bool IsOverview(const uint8_t* info) { return std::memcmp(info, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* info) { return std::memcmp(info + SectorSize, "PCD", 3) == 0; }

// Percent of done out of total, as the progress reports it.
uint8_t Percent(uint32_t done, uint32_t total) { return static_cast<uint8_t>(done * 100 / total); }

}  // namespace

bool TPCDGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(InfoSize)) return false;
  uint8_t head[SectorSize + 3];
  const bool read = stream.Read(head, sizeof head) == sizeof head;
  stream.SetPosition(start);
  return read && (IsOverview(head) || IsImagePack(head));
}

bool TPCDGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  const uint32_t index = imageIndex > 5 ? 5 : imageIndex;
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  std::vector<uint8_t> info(InfoSize);
  stream.ReadExact(info.data(), InfoSize);
  TImageProperties& p = ImageProperties;
  p.PcdOverview = IsOverview(info.data());
  if (!p.PcdOverview && !IsImagePack(info.data())) return false;
  const uint32_t used = p.PcdOverview ? 0 : index;
  p.PcdRotation = info[RotationOffset] & 3;
  p.Width = 192u << used;
  p.Height = 128u << used;
  if (p.PcdRotation == 1 || p.PcdRotation == 3) std::swap(p.Width, p.Height);
  p.ColorScheme = ckPhotoYCC;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.BitsPerPixel = 24;
  p.Compression = used > 2 ? icPCDHuffman : icNone;
  p.PcdImageCount = static_cast<uint16_t>(info[10] * 256 + info[11]);
  return true;
}

void TPCDGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, BaseIndex)) return;
  stream.SetPosition(BasePosition);
  const TImageProperties& p = ImageProperties;
  StartProgress(static_cast<int32_t>(p.Width));
  const size_t planeSize = size_t{BaseWidth} * BaseHeight;
  FLuma.assign(planeSize, 0);
  FChroma1.assign(planeSize, 0);
  FChroma2.assign(planeSize, 0);
  stream.Seek(int64_t{SectorSize} * (p.PcdOverview ? OverviewDataSector : BaseDataSector), TSeekOrigin::soCurrent);

  TColorManager& cm = ColorManager;
  cm.SourceFlags = 0;
  cm.TargetFlags = 0;
  cm.SetSourceScheme(ckPhotoYCC);
  cm.SetSourceBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(3);
  cm.SetTargetScheme(ckBGR);
  cm.SetTargetBitsPerSample(8);
  cm.SetTargetSamplesPerPixel(3);
  SetPixelLayout(pl24Bit);
  cm.SetYCbCrSettings({0.2125f, 0.7154f, 0.0721f}, 2, 2);

  NextStage(S::SLoadingData);
  ReadPlanes(stream);
  NextStage(S::SUpsampling);
  ReportProgress(this, TProgressStage::psRunning, 80, false, ProgressRect, "");
  UpsamplePlane2x(BaseWidth / 2, BaseHeight / 2, BaseWidth, FChroma1);
  ReportProgress(this, TProgressStage::psRunning, 100, false, ProgressRect, "");
  UpsamplePlane2x(BaseWidth / 2, BaseHeight / 2, BaseWidth, FChroma2);
  NextStage(S::STransfering);
  TransferRows();
  EndProgress();
}

// Row pairs, top first: two luma rows, then one row of each chroma channel
// at half the width.
void TPCDGraphic::ReadPlanes(TStream& stream) {
  for (uint32_t r = 0; r < BaseHeight; r += 2) {
    ReportProgress(this, TProgressStage::psRunning, Percent(r, BaseHeight), false, ProgressRect, "");
    stream.ReadExact(FLuma.data() + size_t{r} * BaseWidth, BaseWidth);
    stream.ReadExact(FLuma.data() + size_t{r + 1} * BaseWidth, BaseWidth);
    stream.ReadExact(FChroma1.data() + size_t{r / 2} * BaseWidth, BaseWidth / 2);
    stream.ReadExact(FChroma2.data() + size_t{r / 2} * BaseWidth, BaseWidth / 2);
  }
}

void TPCDGraphic::TransferRows() {
  const uint8_t rotation = ImageProperties.PcdRotation;
  const bool turned = rotation == 1 || rotation == 3;
  ResizeWidth(static_cast<int32_t>(turned ? BaseHeight : BaseWidth));
  ResizeHeight(static_cast<int32_t>(turned ? BaseWidth : BaseHeight));
  ProgressRect.Right = static_cast<int32_t>(turned ? BaseHeight : BaseWidth);
  if (turned) FLine.assign(size_t{BaseWidth} * 3, 0);
  for (uint32_t y = 0; y < BaseHeight; ++y) {
    const size_t offset = size_t{y} * BaseWidth;
    const TRowPlane planes[3] = {TRowPlane(FLuma).subspan(offset, BaseWidth), TRowPlane(FChroma1).subspan(offset, BaseWidth),
                                 TRowPlane(FChroma2).subspan(offset, BaseWidth)};
    if (!turned) {
      ColorManager.ConvertRow(TRowPlanes(planes), RowPointer(static_cast<int32_t>(y)), BaseWidth, 0xFF);
    } else {
      ColorManager.ConvertRow(TRowPlanes(planes), FLine.data(), BaseWidth, 0xFF);
      // Rotation 1 turns the picture a quarter counter-clockwise, 3 clockwise.
      for (uint32_t x = 0; x < BaseWidth; ++x) {
        const uint32_t targetRow = rotation == 1 ? BaseWidth - 1 - x : x;
        const uint32_t column = rotation == 1 ? y : BaseHeight - 1 - y;
        std::memcpy(RowPointer(static_cast<int32_t>(targetRow)) + size_t{column} * 3, FLine.data() + size_t{x} * 3, 3);
      }
    }
    ReportProgress(this, TProgressStage::psRunning, Percent(y, BaseHeight), true, ProgressRect, "");
    ++ProgressRect.Top;
    ++ProgressRect.Bottom;
  }
}

void TPCDGraphic::FreeLoadState() {
  FLuma = {};
  FChroma1 = {};
  FChroma2 = {};
  FLine = {};
}

}  // namespace tolvane
