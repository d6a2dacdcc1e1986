#include "GraphicUnits.h"

#include "formats/AniImage.h"
#include "formats/CURImage.h"
#include "formats/SLDimage.h"
#include "formats/WBMPImage.h"
#include "formats/XBMImage.h"
#include "formats/a411Image.h"
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
  InitializeCURImageUnit();
  Initializea411ImageUnit();
  InitializeXBMImageUnit();
  InitializeWBMPImageUnit();
  // The cursor graphic registers after the simple cursor class, so that it
  // serves "cur" and "ani".
  InitializeAniImageUnit();
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
  FinalizeAniImageUnit();
  FinalizeWBMPImageUnit();
  FinalizeXBMImageUnit();
  Finalizea411ImageUnit();
  FinalizeCURImageUnit();
  FinalizeCodecUnits();
  UnregisterAllFormats();
  FinalizeJpegUnit();
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  FinalizeMetafilePlayer();
#endif
}

}  // namespace tolvane
