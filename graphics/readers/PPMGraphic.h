// The portable map reader.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/GraphicFormats.h"

namespace tolvane {

// Portable bitmaps, grey maps and pixel maps ("ppm", "pnm", "pgm", "pbm"),
// kinds P1 to P6, plain (decimal text) and raw. Samples are scaled from the
// file's maximum value to 0..255; raw files with a maximum above 255 hold
// two bytes per sample, high byte first. Bitmaps load as 1-bit images
// (1 black), grey maps as 8-bit grey, pixel maps as 24-bit images.
class TPPMGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TPPMGraphic)
public:
  void LoadStream(TStream& stream) override;
  // More than 10 bytes left, "P" and a digit 1 to 6 first; the position is
  // restored.
  static bool ProbeStream(TStream& stream);
  // Reads the header; false unless the first line begins with "P".
  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;

  // The scanner over the stream, through a buffer of its own. NextByte
  // raises "Stream read error in PPM file." at the end of the stream;
  // PeekByte answers 0 when the buffer is used up and does not refill.
  uint8_t NextByte();
  uint8_t PeekByte() const;
  // The bytes up to CR, LF or CR LF, without the line end and without
  // anything from a "#" on.
  std::string ReadLine();
  // The rest of the line, line end included, without keeping it: comments
  // may be as long as the file.
  void SkipLine();
  // Skips to the next decimal digit (comments included) and reads the
  // number; the byte after it is consumed. Numbers too large for 32 bits
  // stay at the largest value.
  uint32_t ReadNumber();

private:
  void ResetBuffer();
  bool Refill();
  void ConsumeLine(std::string* text);
  uint32_t ReadKind();
  void ReadBytes(uint8_t* dest, size_t count);
  uint8_t ScaleSample(uint32_t sample) const;
  uint8_t NextSample();
  void ReadBitmapRow(uint8_t* row, uint32_t width, bool plain);
  void ReadGreyRow(uint8_t* row, uint32_t width, bool plain);
  void ReadPixelRow(uint8_t* row, uint32_t width, bool plain);
  void ReadRawSamples(uint8_t* dest, size_t count);
  void FreeLoadState() override;

  static constexpr size_t BufferSize = 4096;
  TStream* FStream = nullptr;
  std::array<uint8_t, BufferSize> FBuffer{};
  size_t FIndex = 0;   // next byte of the buffer
  size_t FFilled = 0;  // bytes of the last fill
  uint32_t FKind = 0;
  uint32_t FMaxValue = 0;
  std::vector<uint8_t> FRawRow;  // one raw row of samples
};

}  // namespace tolvane
