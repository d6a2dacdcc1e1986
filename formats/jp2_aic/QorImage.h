// TQorImage: the graphic that the picture registry creates for ".jp2",
// ".jpc" and ".aic" files. It loads through an inner TQorBitmap and
// remembers which of the two codecs it writes back.
#pragma once

#include <cstdint>
#include <memory>

#include "QorGraphics.h"

namespace tolvane {

enum ImageKind : uint8_t { ikJPEG2000 = 0, ikAIC = 1 };

class TQorImage : public TBitmap {
  TOLVANE_CLASS(TQorImage)
public:
  TQorImage();
  ~TQorImage() override;

  // Loads through Inner (codec by extension, then by signature) and shares
  // its image; Kind becomes ikAIC only for the exact extension ".aic".
  void LoadFile(const std::string& fileName) override;
  // Loading from a stream is not offered: raises Exception "Not supported!".
  void LoadStream(TStream& stream) override;
  // Writes with the codec that Kind names, whatever the file is called.
  void SaveStream(TStream& stream) override;

  std::unique_ptr<TQorBitmap> Inner;
  ImageKind Kind = ikJPEG2000;
  int32_t Quality = 75;  // only the low byte reaches a codec
};

// Registers "jp2", "jpc" and "aic" with the picture registry / removes the class.
void InitializeQorImageUnit();
void FinalizeQorImageUnit();

// Start-up of the codec framework in unit order: the JPEG 2000 codec
// (".jp2", ".jpc"), the AIC codec (".aic"), then TQorImage with the picture
// registry. Runs once until FinalizeCodecUnits, which removes TQorImage and
// frees the codec registry.
void InitializeCodecUnits();
void FinalizeCodecUnits();

}  // namespace tolvane
