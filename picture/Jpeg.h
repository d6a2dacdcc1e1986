// The JPEG graphic over libjpeg: keeps the compressed data and decodes it
// when it is first drawn, at a chosen scale, so that a large photograph can
// be reduced by decoding an eighth of each dimension.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Graphics.h"

namespace tolvane {

TOLVANE_EXCEPTION(EJPEG, EInvalidGraphic);

enum TJpegDecodeScale : uint8_t { ScaleFull = 0, ScaleHalf = 1, ScaleQuarter = 2, ScaleEighth = 3 };
enum TJpegDecodeSpeed : uint8_t { SpeedBestQuality = 0, SpeedBestSpeed = 1 };
enum TJpegOutputDepth : uint8_t { Output24Bit = 0, Output8Bit = 1 };

// The compressed data (up to its end marker) with the size its header declares.
struct TJPEGData {
  std::vector<uint8_t> Data;
  int32_t Width = 0, Height = 0;
};

class TJPEGImage : public TGraphic {
  TOLVANE_CLASS(TJPEGImage)
public:
  TJPEGImage();
  ~TJPEGImage() override;

  void CopyFrom(TPersistent* source) override;
  // Into a bitmap: the bitmap takes the decoded image.
  void CopyInto(TPersistent& dest) override;
  void Render(TCanvas& canvas, const TRect& rect) override;
  bool IsBlank() override { return !FData; }
  int32_t ImageHeight() override;
  int32_t ImageWidth() override;
  HPALETTE PaletteOf() override;
  void ResizeHeight(int32_t) override;
  void ResizeWidth(int32_t) override;
  // Reads the header and keeps the compressed data up to its end marker,
  // never more than a picture of the declared size can need; decodes nothing.
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // The image decoded with the current settings (decoded on first use and
  // kept until a setting changes); libjpeg failures raise EJPEG "JPEG error #%d".
  TBitmap& DecodedBitmap();
  bool HasDecodedBitmap() const { return FBitmap != nullptr; }

  void SetDecodeScale(TJpegDecodeScale value);
  void SetDecodeSpeed(TJpegDecodeSpeed value);
  void SetOutputDepth(TJpegOutputDepth value);
  TJpegDecodeScale JpegDecodeScale() const { return FScale; }
  TJpegDecodeSpeed JpegDecodeSpeed() const { return FSpeed; }
  TJpegOutputDepth JpegOutputDepth() const { return FOutputDepth; }
  // The size that the file's header declares, whatever the decoding scale.
  int32_t HeaderWidth() const { return FData ? FData->Width : 0; }
  int32_t HeaderHeight() const { return FData ? FData->Height : 0; }

private:
  std::shared_ptr<const TJPEGData> FData;
  std::unique_ptr<TBitmap> FBitmap;
  TJpegDecodeScale FScale = ScaleFull;
  TJpegDecodeSpeed FSpeed = SpeedBestQuality;
  TJpegOutputDepth FOutputDepth;
};

// The output depth every new JPEG graphic starts with: 8-bit on a screen of
// 8 bits per pixel or fewer, else 24-bit.
TJpegOutputDepth DefaultJpegOutputDepth();

// Registers "jpeg" and "jpg" with the picture registry / removes the class.
void InitializeJpegUnit();
void FinalizeJpegUnit();

}  // namespace tolvane
