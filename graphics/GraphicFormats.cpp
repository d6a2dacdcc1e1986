// The base class of the raster readers and the routines they share.
#include "GraphicFormats.h"

#include <algorithm>
#include <cstring>

#include "GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TFormatGraphic, TBitmap)

TImageCompression CompressionFromTIFF(uint16_t value) {
  switch (value) {
    case 1: return icNone;
    case 2: return icCCITTMH;
    case 3: return icFax3;
    case 4: return icFax4;
    case 5: return icLZW;
    case 6: return icOldJPEG;
    case 7: return icJPEG;
    case 8: return icLZ77;
    case 32766: return icNeXT;
    case 32771: return icCCITTRLEW;
    case 32773: return icPackBits;
    case 32809: return icThunderScan;
    case 32895: return icIT8CTPad;
    case 32896: return icIT8LW;
    case 32897: return icIT8MP;
    case 32898: return icIT8BL;
    case 32908: return icPixarFilm;
    case 32909: return icPixarLog;
    case 32946: return icLZ77;
    case 32947: return icDCS;
    case 34661: return icJBIG;
    default: return icUnknown;
  }
}

bool TFormatGraphicClassInfo::ProbeFile(const std::string& fileName) const {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  return ProbeStream(stream);
}

TFormatGraphic::~TFormatGraphic() = default;

void TFormatGraphic::CopyFrom(TPersistent* source) {
  if (source && source->Is<TFormatGraphic>()) ImageProperties = static_cast<TFormatGraphic*>(source)->ImageProperties;
  TBitmap::CopyFrom(source);
}

bool TFormatGraphic::ProbeStream(TStream&) { return false; }

bool TFormatGraphic::ReadImageInfo(TStream& stream, uint32_t) {
  ImageProperties = TImageProperties{};
  ImageProperties.Gamma = 1.0f;
  if (!FLoading) BasePosition = stream.Position();
  return false;
}

TFormatGraphic::TLoadFrame::TLoadFrame(TFormatGraphic& graphic, TStream& stream) : FGraphic(graphic) {
  graphic.ReplaceHandle(0);
  graphic.BasePosition = stream.Position();
  graphic.SourceStream = &stream;
  graphic.FLoading = true;
}

TFormatGraphic::TLoadFrame::~TLoadFrame() {
  // A progress handler that throws while the frame unwinds must not end the
  // program; the load's own exception is the one that counts.
  try {
    FGraphic.FreeLoadState();
    if (FGraphic.FProgressOpen) FGraphic.EndProgress();
  } catch (...) {
  }
  FGraphic.SourceStream = nullptr;
  FGraphic.FLoading = false;
}

void TFormatGraphic::CheckImageSize(const char* formatName, TPixelLayout layout) const {
  const int bits = std::max(BitsPerPixelOf(layout), 1);
  if (!ImageSizeAllowed(ImageProperties.Width, ImageProperties.Height, bits))
    RaiseInvalidGraphicFmt(GraphicStrings::SInvalidImage, {formatName});
}

void TFormatGraphic::StartProgress(int32_t width, const char* text) {
  ProgressRect = Rect(0, 0, width, 1);
  FProgressOpen = true;
  ReportProgress(this, TProgressStage::psStarting, 0, false, ProgressRect, text ? text : GraphicStrings::SPreparing);
}

void TFormatGraphic::NextStage(const char* text) {
  ReportProgress(this, TProgressStage::psEnding, 0, false, ProgressRect, "");
  ReportProgress(this, TProgressStage::psStarting, 0, false, ProgressRect, text);
}

void TFormatGraphic::RowDone(uint32_t rowsDone) {
  // rowsDone x 100 / Height in 64 bits, rounded half away from zero.
  const uint64_t height = ImageProperties.Height;
  const uint64_t percent = height ? (uint64_t{rowsDone} * 200 + height) / (2 * height) : 0;
  ReportProgress(this, TProgressStage::psRunning, static_cast<uint8_t>(std::min<uint64_t>(percent, 255)), true,
                 ProgressRect, "");
  ++ProgressRect.Top;
  ++ProgressRect.Bottom;
}

void TFormatGraphic::EndProgress() {
  FProgressOpen = false;
  ReportProgress(this, TProgressStage::psEnding, 0, false, ProgressRect, "");
}

void TFormatGraphic::SetUpColorManager(float fileGamma) {
  TImageProperties& p = ImageProperties;
  TColorManager& cm = ColorManager;
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SourceFlags = (p.Options & optBigEndian) && p.BitsPerSample == 16 ? cvSwap16 : 0;
  cm.TargetFlags = 0;
  switch (p.ColorScheme) {
    case ckIndexed:
    case ckGrey:
    case ckGreyAlpha:
      cm.SetTargetScheme(p.ColorScheme == ckIndexed ? ckIndexed : ckGrey);
      cm.SetTargetSamplesPerPixel(1);
      break;
    default:
      cm.SetTargetScheme(p.HasAlpha ? ckBGRA : ckBGR);
      cm.SetTargetSamplesPerPixel(p.HasAlpha ? 4 : 3);
      break;
  }
  cm.SetTargetBitsPerSample(p.BitsPerSample == 16 ? 8 : p.BitsPerSample);
  if (fileGamma > 0) {
    cm.SetGammaValues(fileGamma, 2.2f);
    cm.TargetFlags |= cvGamma;
    p.Options |= optFileGamma;
  }
}

void RaiseInvalidGraphic(const std::string& message) { throw EInvalidGraphic(message); }

void RaiseInvalidGraphicFmt(std::string_view format, std::initializer_list<TFormatArg> arguments) {
  throw EInvalidGraphic(Format(format, arguments));
}

void UpsamplePlane2x(uint32_t width, uint32_t height, uint32_t rowStride, std::span<uint8_t> plane) {
  const size_t w = width, h = height, s = rowStride;
  if (w < 2 || h < 2 || s < 2 * w || plane.size() < (2 * h - 1) * s + 2 * w) return;
  uint8_t* p = plane.data();
  // Rows spread apart bottom first and each from its right end, so nothing
  // is overwritten before it is read.
  for (size_t r = h; r-- > 0;) {
    const uint8_t* from = p + r * s;
    uint8_t* to = p + 2 * r * s;
    const uint8_t last = from[w - 1];
    to[2 * w - 2] = last;
    to[2 * w - 1] = last;
    for (size_t i = w - 1; i-- > 0;) {
      const uint8_t a = from[i], b = from[i + 1];
      to[2 * i + 1] = static_cast<uint8_t>((a + b + 1) >> 1);
      to[2 * i] = a;
    }
  }
  // Rows between two spread rows take their average, odd columns the
  // average of the four diagonal neighbours.
  for (size_t k = 0; k + 1 < h; ++k) {
    const uint8_t* a = p + 2 * k * s;
    const uint8_t* b = a + 2 * s;
    uint8_t* m = p + (2 * k + 1) * s;
    for (size_t j = 0; j < 2 * w; j += 2) m[j] = static_cast<uint8_t>((a[j] + b[j] + 1) >> 1);
    for (size_t j = 1; j + 1 < 2 * w; j += 2)
      m[j] = static_cast<uint8_t>((a[j - 1] + a[j + 1] + b[j - 1] + b[j + 1] + 2) >> 2);
    m[2 * w - 1] = static_cast<uint8_t>((a[2 * w - 1] + b[2 * w - 1] + 1) >> 1);
  }
  std::memcpy(p + (2 * h - 1) * s, p + (2 * h - 2) * s, 2 * w);
}

void SwapWords(void* values, size_t count) {
  auto* p = static_cast<uint8_t*>(values);
  for (size_t i = 0; i < count; ++i, p += 2) std::swap(p[0], p[1]);
}

void SwapLongs(void* values, size_t count) {
  auto* p = static_cast<uint8_t*>(values);
  for (size_t i = 0; i < count; ++i, p += 4) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  }
}

namespace {
void UndoPredictor(uint8_t* row, uint32_t count, size_t pixelSize) {
  const size_t bytes = static_cast<size_t>(count) * pixelSize;
  for (size_t i = 0; i < bytes; ++i)
    row[i + pixelSize] = static_cast<uint8_t>(row[i + pixelSize] + row[i]);
}
}  // namespace

void UndoPredictor8(uint8_t* row, uint32_t count) { UndoPredictor(row, count, 1); }
void UndoPredictor24(uint8_t* row, uint32_t count) { UndoPredictor(row, count, 3); }
void UndoPredictor32(uint8_t* row, uint32_t count) { UndoPredictor(row, count, 4); }

}  // namespace tolvane
