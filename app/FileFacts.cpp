#include "FileFacts.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>

#include "picture/Jpeg.h"

namespace tolvane {

namespace {

// The format name of a graphic is that of the first row whose class is the
// graphic's class or one of its ancestors, so a class must come before the
// classes it derives from. Classes are matched by name along the class
// chain: a reader's class joins its row as soon as it is linked in, and the
// finder depends on no reader.
struct TFormatName {
  const char* ClassName;
  const char* Text;
};
const TFormatName FormatNames[] = {
    {"TJPEGImage", "JPEG"},
    {"TAutodeskGraphic", "Autodesk graphic"},
    {"TCUTGraphic", "Dr. Halo CUT"},
    {"TEPSGraphic", "Enhaced PS"},
    {"TGIFGraphic", "Compuserve GIF"},
    {"TPCDGraphic", "Kodak PhotoCD"},
    {"TPCXGraphic", "ZSoft Paintbrush"},
    {"TPNGGraphic", "Port.Network Graphic"},
    {"TPSPGraphic", "Paintshop Pro"},
    {"TPSDGraphic", "Adobe Photoshop"},
    {"TPPMGraphic", "Portable Bitmap"},
    {"TRLAGraphic", "Alias/Wavefront graphic"},
    {"TSGIGraphic", "SGI graphic"},
    {"TTargaGraphic", "Truevision graphic"},
    {"TTIFFGraphic", "Tagged Image Format"},
    {"TQorImage", "AIC/JPEG2"},
    {"TXBMImage", "X Bitmap"},
    {"TBitmap", "Windows BMP"},
    {"TMetafile", "Windows Metafile"},
    {"TIcon", "Windows Icon"},
    {"Ta411Object", "411 Graphic"},
    {"TWBMPImage", "WBMP Bitmap"},
    {"TCURObject", "Cursor"},
    {"TzelCursorImage", "Animated Cursor"},
};

bool ClassChainHas(const TClassInfo& cls, const char* name) {
  for (const TClassInfo* c = &cls; c; c = c->Parent)
    if (std::strcmp(c->Name, name) == 0) return true;
  return false;
}

const char* PixelLayoutDepthText(TPixelLayout layout) {
  switch (layout) {
    case pl1Bit: return "1 bpp";
    case pl4Bit: return "4 bpp";
    case pl8Bit: return "8 bpp";
    case pl15Bit: return "15 bpp";
    case pl16Bit: return "16 bpp";
    case pl24Bit: return "24 bpp";
    case pl32Bit: return "32 bpp";
    default: return "?";
  }
}

}  // namespace

int64_t GetFileSizeOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::string FormatFileSize(int64_t size) {
  constexpr int64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
  if (size < KB) return Format("%d B", {size});
  long double s = static_cast<long double>(size);
  if (size < MB) return Format("%1.2f kB", {s / KB});
  if (size < GB) return Format("%1.2f MB", {s / MB});
  return Format("%1.2f GB", {s / GB});
}

std::string ColorDepthText(const TPicture& picture) {
  TGraphic* graphic = picture.CurrentGraphic();
  if (!graphic) return {};
  if (graphic->Is<TJPEGImage>())
    return static_cast<TJPEGImage*>(graphic)->JpegOutputDepth() == Output8Bit ? "8 bpp" : "24 bpp";
  if (graphic->Is<TBitmap>()) return PixelLayoutDepthText(static_cast<TBitmap*>(graphic)->PixelLayoutOf());
  return {};
}

const char* FormatNameOfClass(std::string_view className) {
  for (const TFormatName& f : FormatNames)
    if (f.ClassName == className) return f.Text;
  return nullptr;
}

std::string FormatNameText(const TGraphic* graphic) {
  if (!graphic) return "?";
  for (const TFormatName& f : FormatNames)
    if (ClassChainHas(graphic->ClassType(), f.ClassName)) return f.Text;
  return "?";
}

std::string FileDateText(const std::string& path) {
  struct stat st;
  std::tm local{};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || !::localtime_r(&st.st_mtime, &local))
    throw EConvertError(SysConst::SDateEncodeError);
  // Only the day is shown, so the resolution of the time does not matter.
  return Format("%.2d.%.2d.%.4d", {local.tm_mday, local.tm_mon + 1, local.tm_year + 1900});
}

}  // namespace tolvane
