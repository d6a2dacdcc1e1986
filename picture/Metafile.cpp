#include "Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TMetafile, TGraphic)

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::CopyFrom(TPersistent* source) {
  if (source && source->Is<TMetafile>()) {
    auto* other = static_cast<TMetafile*>(source);
    FData = other->FData;
    FWidth = other->FWidth;
    FHeight = other->FHeight;
    NotifyChanged(this);
    return;
  }
  if (!source) {
    FData.clear();
    FWidth = FHeight = 0;
    NotifyChanged(this);
    return;
  }
  TGraphic::CopyFrom(source);
}

void TMetafile::Render(TCanvas&, const TRect&) {}

bool TMetafile::IsBlank() { return FData.empty(); }
int32_t TMetafile::ImageHeight() { return FHeight; }
int32_t TMetafile::ImageWidth() { return FWidth; }

void TMetafile::ResizeHeight(int32_t value) {
  FHeight = value;
  NotifyChanged(this);
}

void TMetafile::ResizeWidth(int32_t value) {
  FWidth = value;
  NotifyChanged(this);
}

void TMetafile::LoadStream(TStream&) { throw EInvalidGraphic(GraphicsConst::SInvalidMetafile); }

void TMetafile::SaveStream(TStream& stream) { stream.WriteExact(FData.data(), FData.size()); }

void TMetafile::LoadClipboard(uint16_t, THandle, HPALETTE) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

void TMetafile::SaveClipboard(uint16_t&, THandle&, HPALETTE&) {
  throw EInvalidGraphic(GraphicsConst::SUnknownClipboardFormat);
}

}  // namespace tolvane
