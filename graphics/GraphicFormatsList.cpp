// The registration list: which graphic class reads which extension, and the
// table of extensions that the library registers at start-up.
#include <algorithm>

#include "GraphicFormats.h"
#include "GraphicStrings.h"
#include "picture/Jpeg.h"

namespace tolvane {

TOLVANE_DEFINE_CLASS(TFileFormatList, TObject)

TFileFormatList::~TFileFormatList() { Clear(); }

void TFileFormatList::Clear() {
  for (const auto& entry : FClassList) TPicture::UnregisterGraphicKind(entry->GraphicClass);
  FClassList.clear();
  FExtensionList.clear();
}

int TFileFormatList::FindExtension(std::string_view extension) const {
  if (extension.empty()) return -1;
  for (size_t i = 0; i < FExtensionList.size(); ++i)
    if (SameText(FExtensionList[i]->Extension, extension)) return static_cast<int>(i);
  return -1;
}

int TFileFormatList::FindClassEntry(TGraphicClass graphicClass) const {
  for (size_t i = 0; i < FClassList.size(); ++i)
    if (FClassList[i]->GraphicClass == graphicClass) return static_cast<int>(i);
  return -1;
}

TClassEntry& TFileFormatList::AttachClassEntry(TGraphicClass graphicClass, const std::string& commonDescription) {
  const int index = FindClassEntry(graphicClass);
  TClassEntry* entry;
  if (index >= 0) {
    entry = FClassList[static_cast<size_t>(index)].get();
  } else {
    FClassList.push_back(std::make_unique<TClassEntry>());
    entry = FClassList.back().get();
    entry->GraphicClass = graphicClass;
  }
  if (!commonDescription.empty()) entry->Description = commonDescription;
  ++entry->Count;
  return *entry;
}

void TFileFormatList::RegisterFormat(const std::string& extension, const std::string& commonDescription,
                                     const std::string& individualDescription, TFormatKinds kinds,
                                     TGraphicClass graphicClass) {
  if (extension.empty()) return;
  if (FindExtension(extension) >= 0) RaiseInvalidGraphicFmt(GraphicStrings::SDuplicateRegistration, {extension});
  auto entry = std::make_unique<TExtensionEntry>();
  entry->Extension = extension;
  entry->Description = individualDescription;
  entry->FormatKinds = kinds;
  entry->ClassEntry = &AttachClassEntry(graphicClass, commonDescription);
  const std::string& description =
      individualDescription.empty() ? entry->ClassEntry->Description : individualDescription;
  FExtensionList.push_back(std::move(entry));
  TPicture::RegisterExtension(extension, description, graphicClass);
}

void TFileFormatList::RemoveClassEntry(TClassEntry* entry) {
  const TGraphicClass graphicClass = entry->GraphicClass;
  std::erase_if(FClassList, [entry](const auto& e) { return e.get() == entry; });
  TPicture::UnregisterGraphicKind(graphicClass);
}

void TFileFormatList::UnregisterFormat(const std::string& extension, TGraphicClass graphicClass) {
  if (!extension.empty()) {
    const int index = FindExtension(extension);
    if (index < 0) return;
    auto position = FExtensionList.begin() + index;
    TClassEntry* entry = (*position)->ClassEntry;
    if (--entry->Count == 0) RemoveClassEntry(entry);
    FExtensionList.erase(position);
    return;
  }
  const int index = FindClassEntry(graphicClass);
  if (index < 0) return;
  TClassEntry* entry = FClassList[static_cast<size_t>(index)].get();
  for (size_t i = FExtensionList.size(); i-- > 0 && entry->Count > 0;) {
    if (FExtensionList[i]->ClassEntry != entry) continue;
    FExtensionList.erase(FExtensionList.begin() + static_cast<ptrdiff_t>(i));
    --entry->Count;
  }
  RemoveClassEntry(entry);
}

namespace {

int UnitCounter = 0;

// Holds the list. A program may end without UnregisterAllFormats; the list is
// then freed at exit, and its destructor takes its classes out of the
// picture registry, which must therefore still exist: it is made before the
// holder, so it is destroyed after it.
struct TListHolder {
  TListHolder() {}  // made at its first use, never at start-up
  std::unique_ptr<TFileFormatList> List;
};
std::unique_ptr<TFileFormatList>& TheList() {
  TPicture::RegisteredFormats();
  static TListHolder holder;
  return holder.List;
}

template <class T> TGraphicClass ClassOf() { return &T::StaticClass(); }

// One row of the start-up table. The rows of a reader that has not been
// built yet have no class and are left out; when the reader lands, its rows
// name it (ClassOf<TReader>).
struct TRegistration {
  const char* Extension;
  TGraphicClass (*GraphicClass)();
  TFormatKinds Kinds;
  const char* Common;
  const char* Individual;
};

constexpr TFormatKinds Raster = fkRaster;
constexpr TFormatKinds Vector = fkVector;
constexpr TFormatKinds MultiImage = fkRaster | fkMultiImage;
constexpr TFormatKinds Layered = fkRaster | fkLayered;
constexpr TFormatKinds Animated = fkRaster | fkMultiImage | fkAnimated;
constexpr TFormatKinds RasterAndVector = fkRaster | fkVector;

namespace S = GraphicStrings;

// In registration order. The framework's own classes already serve "bmp",
// "ico", "wmf", "emf", "jpg" and "jpeg"; the picture registry's latest entry
// wins, so those rows change only the descriptions.
const TRegistration Registrations[] = {
    {"bmp", ClassOf<TBitmap>, Raster, S::SDescWindowsBitmaps, ""},
    {"ico", ClassOf<TIcon>, Raster, S::SDescWindowsIcons, ""},
    {"wmf", ClassOf<TMetafile>, Vector, S::SDescWindowsMetafiles, ""},
    {"emf", ClassOf<TMetafile>, Vector, S::SDescWindowsMetafiles, S::SDescEnhancedMetafiles},
    {"jfif", ClassOf<TJPEGImage>, Raster, S::SDescJPG, S::SDescJFIF},
    {"jpg", ClassOf<TJPEGImage>, Raster, "", S::SDescJPG},
    {"jpe", ClassOf<TJPEGImage>, Raster, "", S::SDescJPE},
    {"jpeg", ClassOf<TJPEGImage>, Raster, "", S::SDescJPEG},
    {"rle", ClassOf<TBitmap>, Raster, S::SDescWindowsBitmaps, S::SDescRLEBitmaps},
    {"dib", ClassOf<TBitmap>, Raster, "", S::SDescDIB},

    // TTargaGraphic
    {"win", ClassOf<TTargaGraphic>, Raster, S::SDescTruevision, ""},
    {"vst", ClassOf<TTargaGraphic>, Raster, "", ""},
    {"vda", ClassOf<TTargaGraphic>, Raster, "", ""},
    {"tga", ClassOf<TTargaGraphic>, Raster, "", ""},
    {"icb", ClassOf<TTargaGraphic>, Raster, "", ""},

    // TTIFFGraphic
    {"tiff", ClassOf<TTIFFGraphic>, MultiImage, S::SDescTIFF, S::SDescMacTIFF},
    {"tif", ClassOf<TTIFFGraphic>, MultiImage, "", S::SDescPCTIF},
    {"fax", ClassOf<TTIFFGraphic>, MultiImage, "", S::SDescGFIFax},

    // TEPSGraphic
    {"eps", ClassOf<TEPSGraphic>, Raster, S::SDescEPS, ""},

    // TPCXGraphic
    {"pcx", ClassOf<TPCXGraphic>, Raster, S::SDescPCX, ""},
    {"pcc", ClassOf<TPCXGraphic>, Raster, "", ""},
    {"scr", ClassOf<TPCXGraphic>, Raster, "", S::SDescWordScreenCapture},

    // TRLAGraphic
    {"rpf", ClassOf<TRLAGraphic>, Raster, S::SDescAliasWavefront, ""},
    {"rla", ClassOf<TRLAGraphic>, Raster, "", ""},

    // TSGIGraphic
    {"sgi", ClassOf<TSGIGraphic>, Raster, S::SDescSGI, S::SDescSGITrueColor},
    {"rgba", ClassOf<TSGIGraphic>, Raster, "", S::SDescSGITrueColorAlpha},
    {"rgb", ClassOf<TSGIGraphic>, Raster, "", S::SDescSGITrueColor},
    {"bw", ClassOf<TSGIGraphic>, Raster, "", S::SDescSGIMono},

    // TPSDGraphic
    {"psd", ClassOf<TPSDGraphic>, Layered, S::SDescPhotoshop, ""},
    {"pdd", ClassOf<TPSDGraphic>, Layered, "", ""},

    // TPPMGraphic
    {"ppm", ClassOf<TPPMGraphic>, Raster, S::SDescPortableMap, S::SDescPortablePixelMap},
    {"pnm", ClassOf<TPPMGraphic>, Raster, S::SDescPortableMap, S::SDescPortablePixelMap},
    {"pgm", ClassOf<TPPMGraphic>, Raster, "", S::SDescPortableGrayMap},
    {"pbm", ClassOf<TPPMGraphic>, Raster, "", S::SDescPortableBitmap},

    // TAutodeskGraphic
    {"cel", ClassOf<TAutodeskGraphic>, Raster, S::SDescAutodesk, ""},
    {"pic", ClassOf<TAutodeskGraphic>, Raster, S::SDescAutodesk, ""},

    // TPCDGraphic
    {"pcd", ClassOf<TPCDGraphic>, Raster, S::SDescPhotoCD, ""},

    // TGIFGraphic
    {"gif", ClassOf<TGIFGraphic>, Animated, S::SDescCompuServe, ""},

    // TCUTGraphic
    {"cut", ClassOf<TCUTGraphic>, Raster, S::SDescDrHalo, ""},

    // TPSPGraphic
    {"psp", ClassOf<TPSPGraphic>, RasterAndVector, S::SDescPaintshopPro, ""},

    // TPNGGraphic
    {"png", ClassOf<TPNGGraphic>, Raster, S::SDescPNG, ""},
};

// The list names the readers it takes out at shutdown rather than holding
// their classes, so the order stands whichever readers are built; a class
// never registered is passed over. A class added to the table above is
// added here too (a test holds the two lists and the finder's format names
// in step).
constexpr const char* ShutdownNames[] = {
    "TPSPGraphic", "TPSDGraphic", "TTargaGraphic", "TTIFFGraphic", "TSGIGraphic", "TPCXGraphic",
    "TAutodeskGraphic", "TPCDGraphic", "TPPMGraphic", "TCUTGraphic", "TGIFGraphic", "TRLAGraphic",
    "TPNGGraphic", "TBitmap", "TIcon", "TMetafile", "TJPEGImage", "TEPSGraphic",
};

void UnregisterClassNamed(std::string_view name) {
  for (const auto& entry : TheList()->ClassEntries())
    if (entry->GraphicClass->Name == name) {
      TheList()->UnregisterFormat("", entry->GraphicClass);
      return;
    }
}

}  // namespace

TFileFormatList* FileFormatList() { return TheList().get(); }

std::span<const char* const> ShutdownOrder() { return ShutdownNames; }

void RegisterAllFormats() {
  if (UnitCounter++ > 0) return;
  TheList() = std::make_unique<TFileFormatList>();
  for (const TRegistration& row : Registrations)
    if (row.GraphicClass)
      TheList()->RegisterFormat(row.Extension, row.Common, row.Individual, row.Kinds, row.GraphicClass());
}

void UnregisterAllFormats() {
  if (UnitCounter == 0 || --UnitCounter > 0) return;
  for (const char* name : ShutdownNames) UnregisterClassNamed(name);
  TheList().reset();  // takes any class still listed out of the picture registry
}

}  // namespace tolvane
