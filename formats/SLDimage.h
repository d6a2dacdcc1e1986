// AutoCAD slides: vector drawings of lines, fills and colours, drawn scaled
// into any rectangle and written back as they were read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "picture/Graphics.h"

namespace tolvane {

enum TSlideRecordKind : uint8_t {
  srVector = 0,
  srOffsetVector = 1,
  srEnd = 2,
  srSolidFill = 3,
  srCommonEndpoint = 4,
  srColor = 5,
};

// One record: its kind, then its bytes exactly as the file held them.
struct TSlideRecord {
  TSlideRecordKind Kind = srEnd;
  std::array<uint8_t, 8> Bytes{};
};

// The colour (0x00BBGGRR) of an AutoCAD colour index.
TColor AciColor(uint8_t index);

class Tslide : public TGraphic {
  TOLVANE_CLASS(Tslide)
public:
  static constexpr size_t HeaderSize = 31;
  // Vertices a fill keeps; further ones are ignored.
  static constexpr size_t MaxFillVertices = 1000;
  // Records a slide keeps: far beyond any drawing, and it keeps a file of
  // zeros (each a valid vector) from holding memory in proportion to its
  // length. Records beyond it end the list like a truncated one.
  static constexpr size_t MaxRecords = size_t{1} << 22;

  Tslide();
  ~Tslide() override;

  // Only from another slide (header included, so that a copy saves as a
  // readable file); anything else raises Exception.
  void CopyFrom(TPersistent* source) override;
  // Draws the records scaled into a rectangle of rect's size at the
  // canvas's origin, the slide's y axis pointing up.
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override { return SlideEmpty; }
  int32_t ImageHeight() override { return SlideHeight; }
  int32_t ImageWidth() override { return SlideWidth; }
  // One scale serves both axes; a slide never loaded stays as it is.
  void ResizeHeight(int32_t value) override;
  void ResizeWidth(int32_t value) override;
  // From the stream's first byte. A bad header raises Exception and keeps
  // the records held before.
  void LoadStream(TStream& stream) override;
  // The header and every record, from the stream's first byte; the stream
  // is cut after them. A blank slide writes nothing.
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  void Clear();
  void UpdateSize();

  std::array<uint8_t, HeaderSize> SlideHeader{};
  std::vector<TSlideRecord> SlideRecords;
  bool SlideEmpty = true;
  TPoint SlideExtent;
  TPoint SlideOrigin;
  float SlideScale = 1.0f;
  int32_t SlideWidth = 0;
  int32_t SlideHeight = 0;
};

// Start-up: registers "sld" (the unit never unregisters it).
void InitializeSLDimageUnit();

}  // namespace tolvane
