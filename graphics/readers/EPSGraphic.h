// The EPS reader: the TIFF preview of a binary Encapsulated PostScript file.
//
// The TIFF header and the list of every reader include each other; this
// header declares its class once the TIFF reader is complete, whichever of
// the three is included first.
#include "graphics/readers/TIFFGraphic.h"

#if defined(TOLVANE_TIFF_GRAPHIC_COMPLETE) && !defined(TOLVANE_EPS_GRAPHIC_H)
#define TOLVANE_EPS_GRAPHIC_H

namespace tolvane {

// Encapsulated PostScript ("eps") with a TIFF preview: the preview is read
// from its place in the file.
class TEPSGraphic : public TTIFFGraphic {
  TOLVANE_FORMAT_CLASS(TEPSGraphic)
public:
  // The 30-byte binary header (a shorter stream raises the stream's read
  // error), then the TIFF section; a wrong signature raises the EPS format
  // message.
  void LoadStream(TStream& stream) override;
  // More than 30 bytes left, the signature, a TIFF section after the header
  // and of non-zero length; the position is restored.
  static bool ProbeStream(TStream& stream);
};

}  // namespace tolvane

#endif
