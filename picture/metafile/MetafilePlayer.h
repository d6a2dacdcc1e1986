// The metafile player: plays the records of enhanced and Windows metafiles
// with Qt's painter, for TMetafile::Render. It is a library of its own so that
// the picture framework itself needs no drawing library and no display.
#pragma once

#include <memory>

#include "picture/Graphics.h"

class QGuiApplication;

namespace tolvane {

// Installs the player as TMetafile's (called at start-up with the other
// graphic units); Finalize removes it again.
void InitializeMetafilePlayer();
void FinalizeMetafilePlayer();

// Plays metafile into rect of target: the records are drawn over a copy of
// the target's pixels (nothing is cleared first) and only the pixels that
// the records change are written back. Never throws; a malformed record
// ends playback with what was drawn so far.
void PlayMetafile(const TMetafile& metafile, TBitmap& target, const TRect& rect);

// Text in metafiles needs Qt's font database, which lives in a GUI
// application object. A program without windows keeps one of these for its
// run to let the player make such an application (on the offscreen
// platform unless QT_QPA_PLATFORM names another) the first time it plays a
// metafile, and destroys it with this object. Without an application,
// metafiles draw everything but their glyphs.
class TMetafileTextSupport {
public:
  TMetafileTextSupport();
  ~TMetafileTextSupport();
  TMetafileTextSupport(const TMetafileTextSupport&) = delete;
  TMetafileTextSupport& operator=(const TMetafileTextSupport&) = delete;

  // Makes the application when a support object exists and Qt has none yet.
  static void Ensure();

private:
  int FArgc = 1;
  char FName[8] = "tolvane";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QGuiApplication> FApplication;
};

}  // namespace tolvane
