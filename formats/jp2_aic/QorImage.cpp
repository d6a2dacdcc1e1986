#include "QorImage.h"

#include "QorFileFormatAIC.h"
#include "QorFileFormatJP2.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TQorImage, TBitmap)

TQorImage::TQorImage() : Inner(std::make_unique<TQorBitmap>()) {}

TQorImage::~TQorImage() = default;

void TQorImage::LoadFile(const std::string& fileName) {
  Inner->LoadFile(fileName);
  // Case matters here, unlike in the codec registry: "photo.AIC" is read by
  // the AIC codec but written back as JPEG 2000.
  Kind = FileExtensionOf(fileName) == ".aic" ? ikAIC : ikJPEG2000;
  // Sharing the decoded pixels gives this bitmap their size and layout at
  // once; sizing and converting a blank picture first would cost a large
  // picture seconds and twice its memory, only to be thrown away.
  CopyFrom(Inner.get());
}

void TQorImage::LoadStream(TStream&) { throw Exception("Not supported!"); }

void TQorImage::SaveStream(TStream& stream) {
  Inner->CopyFrom(this);
  Inner->Quality = static_cast<uint8_t>(Quality);
  Inner->SaveStreamAs(stream, Kind == ikAIC ? ".aic" : ".jp2");
}

void InitializeQorImageUnit() {
  TPicture::RegisterExtension("jp2", "JPEG 2000", &TQorImage::StaticClass());
  TPicture::RegisterExtension("jpc", "JPEG 2000", &TQorImage::StaticClass());
  TPicture::RegisterExtension("aic", "Advanced Image Coding", &TQorImage::StaticClass());
}

void FinalizeQorImageUnit() { TPicture::UnregisterGraphicKind(&TQorImage::StaticClass()); }

namespace {
bool CodecUnitsInitialized = false;
}

void InitializeCodecUnits() {
  if (CodecUnitsInitialized) return;
  CodecUnitsInitialized = true;
  InitializeQorFileFormatJP2Unit();
  InitializeQorFileFormatAICUnit();
  InitializeQorImageUnit();
}

void FinalizeCodecUnits() {
  if (!CodecUnitsInitialized) return;
  CodecUnitsInitialized = false;
  FinalizeQorImageUnit();
  FinalizeQorGraphicsUnit();
}

}  // namespace tolvane
