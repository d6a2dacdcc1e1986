// The portable map reader: a small scanner over a buffer of its own reads
// the header and the plain kinds' numbers; raw rows are copied out of the
// same buffer a row at a time.
#include "graphics/readers/PPMGraphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/GraphicStrings.h"

namespace tolvane {

TOLVANE_DEFINE_FORMAT_CLASS(TPPMGraphic, TFormatGraphic)

namespace {

namespace S = GraphicStrings;

constexpr const char* FormatName = "PPM";  // in the read-error message
constexpr uint32_t LargestMaxValue = 65535;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsLineEnd(uint8_t c) { return c == '\r' || c == '\n'; }

[[noreturn]] void RaiseInvalid() { RaiseInvalidGraphicFmt(S::SInvalidImage, {S::SFormatPPM}); }
[[noreturn]] void RaiseReadError() { RaiseInvalidGraphicFmt(S::SStreamReadError, {FormatName}); }

}  // namespace

// ---- Scanner ------------------------------------------------------------------

void TPPMGraphic::ResetBuffer() {
  FIndex = 0;
  FFilled = 0;
}

// The end of the data is the end of the bytes actually read: a file that
// stops early fails where it stops instead of delivering what a previous
// fill left in the buffer.
bool TPPMGraphic::Refill() {
  if (FIndex < FFilled) return true;
  FIndex = 0;
  FFilled = FStream ? FStream->Read(FBuffer.data(), BufferSize) : 0;
  return FFilled > 0;
}

uint8_t TPPMGraphic::NextByte() {
  if (!Refill()) RaiseReadError();
  return FBuffer[FIndex++];
}

uint8_t TPPMGraphic::PeekByte() const { return FIndex < FFilled ? FBuffer[FIndex] : 0; }

// Up to and through the line end; the bytes before it go to text when given.
void TPPMGraphic::ConsumeLine(std::string* text) {
  uint8_t c = 0;
  while (Refill() && !IsLineEnd(c = NextByte()))
    if (text) *text += static_cast<char>(c);
  if (c == '\r' && PeekByte() == '\n') ++FIndex;
}

std::string TPPMGraphic::ReadLine() {
  std::string line;
  ConsumeLine(&line);
  if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
  return line;
}

void TPPMGraphic::SkipLine() { ConsumeLine(nullptr); }

uint32_t TPPMGraphic::ReadNumber() {
  uint8_t c = NextByte();
  while (!IsDigit(c)) {
    if (c == '#') SkipLine();
    c = NextByte();
  }
  uint32_t value = 0;
  for (;;) {
    const uint32_t digit = c - uint32_t{'0'};
    value = value > (UINT32_MAX - digit) / 10 ? UINT32_MAX : value * 10 + digit;
    // The last number of a file may end with the file.
    if (!Refill()) break;
    c = NextByte();
    if (!IsDigit(c)) break;
  }
  return value;
}

// Raw data: count bytes from the buffer, refilled as needed.
void TPPMGraphic::ReadBytes(uint8_t* dest, size_t count) {
  while (count > 0) {
    if (!Refill()) RaiseReadError();
    const size_t n = std::min(count, FFilled - FIndex);
    std::memcpy(dest, FBuffer.data() + FIndex, n);
    FIndex += n;
    dest += n;
    count -= n;
  }
}

// ---- Header -------------------------------------------------------------------

bool TPPMGraphic::ProbeStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= 10) return false;
  uint8_t head[2];
  const bool ok = stream.Read(head, 2) == 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6';
  stream.SetPosition(start);
  return ok;
}

// The digit after "P"; anything else fails as a number conversion.
uint32_t TPPMGraphic::ReadKind() {
  const uint8_t c = NextByte();
  if (IsLineEnd(c)) {
    if (c == '\r' && PeekByte() == '\n') ++FIndex;
    return static_cast<uint32_t>(StrToInt(""));
  }
  if (!IsDigit(c)) return static_cast<uint32_t>(StrToInt(std::string(1, static_cast<char>(c))));
  return c - uint32_t{'0'};
}

bool TPPMGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
  TFormatGraphic::ReadImageInfo(stream, imageIndex);
  FStream = &stream;
  stream.SetPosition(BasePosition);
  ResetBuffer();
  TImageProperties& p = ImageProperties;
  p.Compression = icNone;
  if (NextByte() != 'P') return false;
  FKind = ReadKind();
  FMaxValue = 1;
  if (FKind < 1 || FKind > 6) return true;
  // The numbers may stand on the kind's line or on lines of their own.
  p.Width = ReadNumber();
  p.Height = ReadNumber();
  const bool bitmap = FKind == 1 || FKind == 4;
  if (!bitmap) FMaxValue = ReadNumber();
  const bool colour = FKind == 3 || FKind == 6;
  p.ColorScheme = colour ? ckRGB : ckIndexed;
  p.BitsPerSample = bitmap ? 1 : 8;
  p.SamplesPerPixel = colour ? 3 : 1;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  return true;
}

// ---- Load ---------------------------------------------------------------------

void TPPMGraphic::LoadStream(TStream& stream) {
  TLoadFrame frame(*this, stream);
  if (!ReadImageInfo(stream, 0)) RaiseInvalid();
  // Kinds that this reader does not know are refused rather than shown as
  // an empty picture.
  if (FKind < 1 || FKind > 6) RaiseInvalid();
  if (FMaxValue == 0 || FMaxValue > LargestMaxValue) RaiseInvalid();
  const TImageProperties& p = ImageProperties;
  // Rows of no pixels read nothing, so a huge height would only spin.
  if (p.Width == 0 && p.Height > 0) RaiseInvalid();
  const bool bitmap = FKind == 1 || FKind == 4, colour = FKind == 3 || FKind == 6;
  const TPixelLayout layout = bitmap ? pl1Bit : colour ? pl24Bit : pl8Bit;
  CheckImageSize(S::SFormatPPM, layout);
  StartProgress(static_cast<int32_t>(p.Width));
  NextStage(S::STransfering);

  SetPixelLayout(layout);
  ResizeWidth(static_cast<int32_t>(p.Width));
  ResizeHeight(static_cast<int32_t>(p.Height));
  if (!colour) {
    ColorManager.SetTargetSamplesPerPixel(1);
    ColorManager.SetTargetBitsPerSample(bitmap ? 1 : 8);
    ColorManager.TargetFlags = 0;
    AssignPalette(ColorManager.GreyPalette(bitmap));
  }
  // Raw samples wider than a byte, and samples that need scaling, pass
  // through a row buffer; 8-bit samples of maximum 255 go straight in.
  const bool plain = FKind <= 3;
  const size_t bytesPerSample = FMaxValue > 255 ? 2 : 1;
  // A picture without rows needs no row buffer, however wide it claims to be.
  if (!plain && !bitmap && p.Height > 0) FRawRow.resize(size_t{p.Width} * p.SamplesPerPixel * bytesPerSample);
  for (uint32_t y = 0; y < p.Height; ++y) {
    uint8_t* row = RowPointer(static_cast<int32_t>(y));
    if (bitmap) ReadBitmapRow(row, p.Width, plain);
    else if (colour) ReadPixelRow(row, p.Width, plain);
    else ReadGreyRow(row, p.Width, plain);
    RowDone(y + 1);
  }
  EndProgress();
}

void TPPMGraphic::FreeLoadState() {
  FRawRow = {};
  FStream = nullptr;  // the stream may not outlive the load
}

// A sample on the 0..255 scale, rounded; samples above the maximum count
// as the maximum.
uint8_t TPPMGraphic::ScaleSample(uint32_t sample) const {
  if (FMaxValue == 255) return static_cast<uint8_t>(std::min<uint32_t>(sample, 255));
  const uint32_t v = std::min(sample, FMaxValue);
  return static_cast<uint8_t>((v * 255 + FMaxValue / 2) / FMaxValue);
}

uint8_t TPPMGraphic::NextSample() { return ScaleSample(ReadNumber()); }

void TPPMGraphic::ReadBitmapRow(uint8_t* row, uint32_t width, bool plain) {
  if (!plain) {
    ReadBytes(row, (size_t{width} + 7) / 8);
    return;
  }
  // Plain bitmaps hold one digit per pixel, with or without blanks between
  // them, so "0110" is four pixels.
  uint8_t accumulator = 0;
  for (uint32_t n = 1; n <= width; ++n) {
    uint8_t c = NextByte();
    while (!IsDigit(c)) {
      if (c == '#') SkipLine();
      c = NextByte();
    }
    accumulator = static_cast<uint8_t>(accumulator << 1 | (c & 1));
    if (n % 8 == 0) {
      *row++ = accumulator;
      accumulator = 0;
    }
  }
  if (width % 8) *row = static_cast<uint8_t>(accumulator << (8 - width % 8));
}

// count samples of a raw row, scaled to bytes in FRawRow's first count bytes.
void TPPMGraphic::ReadRawSamples(uint8_t* dest, size_t count) {
  if (FMaxValue > 255) {
    ReadBytes(FRawRow.data(), count * 2);
    for (size_t i = 0; i < count; ++i) dest[i] = ScaleSample(uint32_t{FRawRow[2 * i]} << 8 | FRawRow[2 * i + 1]);
    return;
  }
  ReadBytes(dest, count);
  if (FMaxValue != 255)
    for (size_t i = 0; i < count; ++i) dest[i] = ScaleSample(dest[i]);
}

void TPPMGraphic::ReadGreyRow(uint8_t* row, uint32_t width, bool plain) {
  if (!plain) {
    ReadRawSamples(row, width);
    return;
  }
  for (uint32_t x = 0; x < width; ++x) row[x] = NextSample();
}

void TPPMGraphic::ReadPixelRow(uint8_t* row, uint32_t width, bool plain) {
  const size_t count = size_t{width} * 3;
  if (plain) {
    for (size_t i = 0; i < count; ++i) row[i] = NextSample();
  } else {
    ReadRawSamples(row, count);
  }
  for (size_t i = 0; i < count; i += 3) std::swap(row[i], row[i + 2]);  // red first in the file
}

}  // namespace tolvane
