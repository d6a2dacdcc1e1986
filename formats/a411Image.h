// Ta411Object: the headerless 64 x 48 YUV 4:1:1 thumbnails (".411") that
// some digital cameras write beside their pictures. Such a graphic can only
// be loaded from a named file and drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "picture/Graphics.h"

namespace tolvane {

// One pixel of a 4:1:1 group as B, G, R.
struct TBgr {
  uint8_t B = 0, G = 0, R = 0;
  friend bool operator==(const TBgr&, const TBgr&) = default;
};
// The colour of luma y with the group's chroma bytes u and v (offset by 128).
TBgr Yuv411ToBgr(uint8_t y, uint8_t u, uint8_t v);

class Ta411Object : public TGraphic {
  TOLVANE_CLASS(Ta411Object)
public:
  Ta411Object();
  ~Ta411Object() override;

  // The image replaced by a white 64 x 48 picture, then filled from the
  // file's 6-byte groups; groups the file does not hold in full stay white.
  void LoadFile(const std::string& fileName) override;
  // The image unscaled at the canvas's origin, whatever the rectangle.
  void Render(TCanvas& canvas, const TRect& rect) override;
  int32_t ImageWidth() override { return Width; }
  int32_t ImageHeight() override { return Height; }
  // Only store the value; the image is not changed.
  void ResizeWidth(int32_t value) override { Width = value; }
  void ResizeHeight(int32_t value) override { Height = value; }
  // Everything else raises Exception "Not supported".
  bool IsBlank() override;
  void SaveFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  const TBitmap& Image() const { return *FImage; }

  int32_t Width = 0;
  int32_t Height = 0;

private:
  std::unique_ptr<TBitmap> FImage;
};

// Registers "411" with the picture registry / removes the class again.
void Initializea411ImageUnit();
void Finalizea411ImageUnit();

}  // namespace tolvane
