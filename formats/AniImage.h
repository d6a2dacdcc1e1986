// TzelCursorImage: the graphic that reads ".cur" and ".ani" files. It keeps a
// cursor as an AND mask, an XOR image and their composite, can be built
// from a bitmap and writes one-image cursor files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CURImage.h"

namespace tolvane {

class TzelCursorImage : public TGraphic {
  TOLVANE_CLASS(TzelCursorImage)
public:
  TzelCursorImage();
  ~TzelCursorImage() override;

  // Reads a cursor or animated cursor (its first frame); anything else
  // raises Exception "Invalid cursor".
  void LoadFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  // A one-image cursor file: directory, bitmap header, colour table, the
  // XOR image's rows and the AND mask's rows.
  void SaveStream(TStream& stream) override;
  // Unscaled at the rectangle's top-left: the mask ANDed, the image XORed.
  void Render(TCanvas& canvas, const TRect& rect) override;
  // From another cursor (mask, image and hot spot) or from a bitmap.
  void CopyFrom(TPersistent* source) override;
  // Into a bitmap: the composite.
  void CopyInto(TPersistent& dest) override;
  bool IsBlank() override { return !FComposite; }
  int32_t ImageWidth() override { return FComposite ? FComposite->ImageWidth() : 0; }
  int32_t ImageHeight() override { return FComposite ? FComposite->ImageHeight() : 0; }
  HPALETTE PaletteOf() override { return FComposite ? FComposite->PaletteOf() : nullptr; }
  void AssignPalette(HPALETTE palette) override;
  // Raise EInvalidGraphicOperation "Cannot change the size of a cursor".
  void ResizeWidth(int32_t value) override;
  void ResizeHeight(int32_t value) override;
  void SetTransparency(bool) override {}
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  // Replaces the three bitmaps by new n x n ones: a white (transparent)
  // mask, a black image and a white composite.
  void SetSize(int32_t n);
  // The colour LoadFromBitmap makes transparent; its inverse (XOR $FFFFFF)
  // makes pixels that invert the screen.
  void SetTransparentColor(TColor colour);
  TColor TransparentColor() const { return FTransparentColor; }
  // Takes mask, image and hot spot from a cursor handle (which stays the caller's).
  void LoadFromHandle(HICON handle);
  // A square cursor of the bitmap's height; columns beyond it are dropped,
  // missing columns stay transparent.
  void LoadFromBitmap(TBitmap& bitmap);
  // Draws the mask and then the image over the composite.
  void ComposeImage();
  // A new cursor handle from mask, image and hot spot (the caller destroys it).
  HICON CreateCursorHandle();

  // The handle of the last load, owned by this graphic; 0 for none.
  HICON CursorHandle() const { return FHandle.Get(); }
  const TBitmap& Mask() const { return *FMask; }
  const TBitmap& Image() const { return *FImage; }
  const TBitmap& Composite() const { return *FComposite; }

  int32_t HotSpotX = 0;
  int32_t HotSpotY = 0;

private:
  void TakeHandle(HICON handle);

  TCursorHandle FHandle;
  std::unique_ptr<TBitmap> FMask, FImage, FComposite;
  TColor FTransparentColor = 0x006C4AF4;
};

// Registers "cur" and "ani" with the picture registry / removes the class.
void InitializeAniImageUnit();
void FinalizeAniImageUnit();

}  // namespace tolvane
