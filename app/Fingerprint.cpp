#include "Fingerprint.h"

#include "picture/Jpeg.h"

namespace tolvane {

namespace {
const std::array<uint8_t, 65536>& BitCountTable() {
  static const std::array<uint8_t, 65536> table = [] {
    std::array<uint8_t, 65536> t{};
    for (uint32_t i = 1; i < 65536; ++i) t[i] = static_cast<uint8_t>(t[i >> 1] + (i & 1));
    return t;
  }();
  return table;
}
}  // namespace

const TExtensionRecord ExtensionTable[ExtensionCount] = {
    {"jp2", "JPEG 2000"},
    {"jpc", "JPEG 2000"},
    {"aic", "Advanced Image Coding"},
    {"wbmp", "Wireless Bitmap"},
    {"xbm", "X Bitmap"},
    {"ani", "Windows Animated Cursor"},
    {"bmp", "Windows bitmap"},
    {"emf", "Windows Enhanced Metafile"},
    {"wmf", "Windows Metafile"},
    {"ico", "Windows Icon"},
    {"jfif", "JPEG"},
    {"jpg", "JPEG"},
    {"jpe", "JPEG"},
    {"jpeg", "JPEG"},
    {"rle", "RLE"},
    {"dib", "DIB"},
    {"win", "Truevision Targa"},
    {"vst", "Truevision Targa"},
    {"vda", "Truevision Targa"},
    {"tga", "Truevision Targa"},
    {"icb", "Truevision Targa"},
    {"tiff", "TIFF"},
    {"tif", "TIFF"},
    {"fax", "TIFF"},
    {"eps", "Encapsulated Postscript"},
    {"pcx", "ZSoft PCX"},
    {"pcc", "ZSoft PCX"},
    {"scr", "ZSoft PCX"},
    {"rpf", "Alias WaveFront"},
    {"rla", "Alias WaveFront"},
    {"sgi", "SGI"},
    {"rgba", "SGI"},
    {"rgb", "SGI"},
    {"bw", "SGI"},
    {"psd", "Adobe Photoshop"},
    {"pdd", "Adobe Photoshop"},
    {"ppm", "Portable Pixmap"},
    {"pnm", "Portable Pixmap"},
    {"pgm", "Portable Graymap"},
    {"pbm", "Portable Monochrome"},
    {"cel", "Autodesk Graphic"},
    {"pic", "Autodesk Graphic"},
    {"pcd", "Kodak Photo CD"},
    {"gif", "Compuserve Gif"},
    {"cut", "Dr Halo"},
    {"psp", "Paint Shop Pro"},
    {"png", "Portable Network Graphic"},
    {"cur", "Windows Cursor"},
    {"411", "YUV 411"},
    {"sld", "AutoCad Slides"},
};

int BitCount16(uint16_t value) { return BitCountTable()[value]; }

int FingerprintDistance(const Fingerprint& a, const Fingerprint& b) {
  int d = 0;
  for (int w = 0; w < 4; ++w) {
    uint32_t x = a.Words[w] ^ b.Words[w];
    d += BitCount16(static_cast<uint16_t>(x)) + BitCount16(static_cast<uint16_t>(x >> 16));
  }
  return d;
}

Fingerprint FingerprintOfTarget(const TBitmap& target) {
  int grey[8][16];
  int sum = 0;
  for (int y = 0; y < 8; ++y) {
    const uint8_t* row = target.ConstRowPointer(y);
    for (int x = 0; x < 16; ++x) {
      int s = row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
      grey[y][x] = (s + 1) / 3;  // s / 3 rounded; thirds never tie
      sum += grey[y][x];
    }
  }
  // sum / 128 rounded to nearest, halves to even.
  int mean = sum / 128;
  int rest = sum % 128;
  if (rest > 64 || (rest == 64 && (mean & 1))) ++mean;
  Fingerprint f;
  for (int w = 0; w < 4; ++w) {
    uint32_t word = 0;
    for (int x = 0; x < 16; ++x) {
      if (grey[2 * w][x] >= mean) word |= 1u << (31 - x);
      if (grey[2 * w + 1][x] >= mean) word |= 1u << (15 - x);
    }
    f.Words[w] = word;
  }
  return f;
}

bool ComputeFingerprint(const std::string& directory, const std::string& relativeName, TPicture& picture,
                        Fingerprint& out, TBitmap& target) {
  TGraphic* graphic = nullptr;
  try {
    picture.LoadPictureFile(directory + relativeName);
    graphic = picture.CurrentGraphic();
    if (graphic && graphic->Is<TJPEGImage>()) static_cast<TJPEGImage*>(graphic)->SetDecodeScale(ScaleEighth);
  } catch (...) {
    return false;
  }
  if (!graphic || graphic->ImageWidth() <= 0 || graphic->ImageHeight() <= 0) return false;
  TCanvas& canvas = target.BitmapCanvas();
  target.FillRect(Rect(0, 0, 16, 8), clWhite);
  canvas.StretchInto(Rect(0, 0, 16, 8), graphic);
  out = FingerprintOfTarget(target);
  return true;
}

bool IsSupportedExtension(const std::string& extension) {
  for (const TExtensionRecord& r : ExtensionTable)
    if (extension == std::string(".") + r.Extension) return true;
  return false;
}

}  // namespace tolvane
