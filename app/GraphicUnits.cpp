#include "GraphicUnits.h"

#include "formats/SLDimage.h"
#include "formats/WBMPImage.h"
#include "formats/jp2_aic/QorImage.h"
#include "graphics/GraphicFormats.h"
#include "picture/Jpeg.h"
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
#include "picture/metafile/MetafilePlayer.h"
#endif

namespace tolvane {

namespace {
bool Initialized = false;
}

void InitializeGraphicUnits() {
  if (Initialized) return;
  Initialized = true;
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  InitializeMetafilePlayer();
#endif
  InitializeJpegUnit();
  RegisterAllFormats();
  InitializeCodecUnits();
  InitializeWBMPImageUnit();
  InitializeSLDimageUnit();
}

void PrepareGraphicUnitsForThreads([[maybe_unused]] const std::vector<std::string>& files) {
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  for (const std::string& file : files) {
    TGraphicClass cls = TPicture::FindGraphicKind(PictureExtensionOf(file));
    if (cls && cls->InheritsFrom(TMetafile::StaticClass())) {
      TMetafileTextSupport::Ensure();
      return;
    }
  }
#endif
}

void FinalizeGraphicUnits() {
  if (!Initialized) return;
  Initialized = false;
  // The slide unit never takes its class out of the registry.
  FinalizeWBMPImageUnit();
  FinalizeCodecUnits();
  UnregisterAllFormats();
  FinalizeJpegUnit();
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  FinalizeMetafilePlayer();
#endif
}

}  // namespace tolvane
