#include <algorithm>

#include "Graphics.h"

namespace tolvane {

TOLVANE_DEFINE_CREATABLE_CLASS(TPicture, TPersistent)

namespace {

struct TRegistries {
  std::vector<TFileFormatEntry> Formats;
  std::vector<std::pair<uint16_t, TGraphicClass>> ClipboardKinds;
};

// Made on first use with the framework's own classes, in this order.
TRegistries& Registries() {
  static TRegistries r = [] {
    TRegistries init;
    init.Formats = {{&TMetafile::StaticClass(), "wmf", "Metafiles"},
                    {&TMetafile::StaticClass(), "emf", "Enhanced Metafiles"},
                    {&TIcon::StaticClass(), "ico", "Icons"},
                    {&TBitmap::StaticClass(), "bmp", "Bitmaps"}};
    init.ClipboardKinds = {{CF_METAFILEPICT, &TMetafile::StaticClass()},
                           {CF_ENHMETAFILE, &TMetafile::StaticClass()},
                           {CF_BITMAP, &TBitmap::StaticClass()}};
    return init;
  }();
  return r;
}

}  // namespace

TPicture::~TPicture() = default;

void TPicture::RegisterExtension(const std::string& extension, const std::string& description,
                                 TGraphicClass graphicClass) {
  Registries().Formats.push_back({graphicClass, LowerCase(extension), description});
}

void TPicture::RegisterClipboardKind(uint16_t format, TGraphicClass graphicClass) {
  Registries().ClipboardKinds.emplace_back(format, graphicClass);
}

void TPicture::UnregisterGraphicKind(TGraphicClass graphicClass) {
  auto& r = Registries();
  std::erase_if(r.Formats, [&](const TFileFormatEntry& e) { return e.GraphicClass->InheritsFrom(*graphicClass); });
  std::erase_if(r.ClipboardKinds, [&](const auto& e) { return e.second->InheritsFrom(*graphicClass); });
}

TGraphicClass TPicture::FindGraphicKind(const std::string& extension) {
  const auto& formats = Registries().Formats;
  std::string ext = LowerCase(extension);
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (it->Extension == ext) return it->GraphicClass;
  return nullptr;
}

const std::vector<TFileFormatEntry>& TPicture::RegisteredFormats() { return Registries().Formats; }

const std::vector<std::pair<uint16_t, TGraphicClass>>& TPicture::RegisteredClipboardKinds() {
  return Registries().ClipboardKinds;
}

std::string PictureExtensionOf(const std::string& fileName) {
  std::string ext = ExtractFileExt(fileName);
  return ext.empty() ? ext : ext.substr(1);
}

void TPicture::LoadPictureFile(const std::string& fileName) {
  std::string ext = PictureExtensionOf(fileName);
  TGraphicClass cls = FindGraphicKind(ext);
  if (!cls) throw EInvalidGraphic(Format(GraphicsConst::SUnknownExtension, {ext}));
  std::unique_ptr<TGraphic> graphic = TGraphic::ConstructEmpty(cls);
  if (!graphic) throw EInvalidGraphic(Format(GraphicsConst::SUnknownExtension, {ext}));
  // Without a handler of its own the picture hooks the graphic only once it
  // is loaded (SetGraphic), so that the load runs unwatched.
  if (OnProgress)
    graphic->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw,
                                 const TRect& r, const std::string& msg) {
      if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
    };
  graphic->ProgressSeesPixels = ProgressSeesPixels;
  graphic->LoadFile(fileName);
  SetGraphic(std::move(graphic));
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  if (FGraphic) {
    FGraphic->OnChange = [this](TObject* sender) { PictureChanged(sender); };
    if (!FGraphic->OnProgress)
      FGraphic->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw,
                                    const TRect& r, const std::string& msg) {
        if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
      };
  }
  PictureChanged(this);
}

void TPicture::PictureChanged(TObject*) {
  if (OnChange) OnChange(this);
}

TBitmap& TPicture::AsBitmap() {
  if (!FGraphic || !FGraphic->Is<TBitmap>()) SetGraphic(std::make_unique<TBitmap>());
  return static_cast<TBitmap&>(*FGraphic);
}

void TPicture::AssignGraphic(TGraphic* source) {
  if (!source) {
    SetGraphic(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy = TGraphic::ConstructEmpty(&source->ClassType());
  if (!copy) throw EConvertError(Format(GraphicsConst::SAssignError, {source->ClassName(), ClassName()}));
  copy->CopyFrom(source);
  SetGraphic(std::move(copy));
}

}  // namespace tolvane
