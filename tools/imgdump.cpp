// imgdump: loads pictures through the picture registry for tests and
// debugging.
//   imgdump FILE [OUT.ppm]        class, size and layout; optionally the
//                                 picture rendered 1:1 on white as binary PPM
//   imgdump --fingerprint FILE... the four fingerprint words of each file
//   imgdump --write IN OUT        IN saved with the writer OUT's extension selects
// Before FILE, JPEG settings may be given: --scale N (0 full .. 3 eighth),
// --fast (best speed), --8bit (8-bit output).
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/Fingerprint.h"
#include "app/GraphicUnits.h"
#include "formats/jp2_aic/QorGraphics.h"
#include "picture/Graphics.h"
#include "picture/Jpeg.h"
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
#include "picture/metafile/MetafilePlayer.h"
#endif

using namespace tolvane;

namespace {

struct TJpegOptions {
  TJpegDecodeScale Scale = ScaleFull;
  TJpegDecodeSpeed Speed = SpeedBestQuality;
  TJpegOutputDepth Depth = Output24Bit;
};

int Usage() {
  std::fprintf(stderr,
               "usage: imgdump [--scale N] [--fast] [--8bit] FILE [OUT.ppm]\n"
               "       imgdump --fingerprint FILE...\n"
               "       imgdump --write IN OUT\n");
  return 2;
}

// The graphic drawn 1:1 into a white 24-bit bitmap of its own size.
void RenderOnWhite(TGraphic& graphic, TBitmap& target) {
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(graphic.ImageWidth());
  target.ResizeHeight(graphic.ImageHeight());
  target.BitmapCanvas().StretchInto(Rect(0, 0, target.ImageWidth(), target.ImageHeight()), &graphic);
}

void WritePpm(TGraphic& graphic, const std::string& path) {
  TBitmap target;
  RenderOnWhite(graphic, target);
  TFileStream out(path, fmCreate);
  std::string header = "P6\n" + std::to_string(target.ImageWidth()) + " " + std::to_string(target.ImageHeight()) + "\n255\n";
  out.WriteExact(header.data(), header.size());
  std::vector<uint8_t> row(static_cast<size_t>(target.ImageWidth()) * 3);
  for (int32_t y = 0; y < target.ImageHeight(); ++y) {
    const uint8_t* src = target.ConstRowPointer(y);
    for (int32_t x = 0; x < target.ImageWidth(); ++x) {
      row[3 * x] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x];
    }
    out.WriteExact(row.data(), row.size());
  }
}

int Dump(const std::string& file, const char* ppm, const TJpegOptions& jpeg) {
  TPicture picture;
  picture.LoadPictureFile(file);
  TGraphic& g = *picture.CurrentGraphic();
  if (g.Is<TJPEGImage>()) {
    auto& j = static_cast<TJPEGImage&>(g);
    j.SetDecodeScale(jpeg.Scale);
    j.SetDecodeSpeed(jpeg.Speed);
    j.SetOutputDepth(jpeg.Depth);
  }
  std::string layout = g.Is<TBitmap>() ? PixelLayoutName(static_cast<TBitmap&>(g).PixelLayoutOf()) : "-";
  std::printf("%s %dx%d %s\n", g.ClassName().c_str(), g.ImageWidth(), g.ImageHeight(), layout.c_str());
  if (ppm) WritePpm(g, ppm);
  return 0;
}

int Fingerprints(int argc, char** argv) {
  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  for (int i = 2; i < argc; ++i) {
    Fingerprint f;
    ComputeFingerprint("", argv[i], picture, f, target);
    std::printf("%08X %08X %08X %08X %s\n", f.Words[0], f.Words[1], f.Words[2], f.Words[3], argv[i]);
  }
  return 0;
}

// Graphic classes whose SaveStream writes the format of the extensions they
// are registered for. The readers of the image-format library inherit the
// bitmap's BMP writer, which would put BMP data into a file named ".png".
bool WritesOwnFormat(TGraphicClass cls) {
  static const std::set<std::string> writers = {"TBitmap",    "TTargaGraphic",   "TXBMImage",
                                                "TWBMPImage", "TzelCursorImage", "Tslide"};
  return writers.count(cls->Name) != 0;
}

// The codec framework's extensions: written through a TQorBitmap, so that
// the codec follows the extension of the file.
bool IsCodecExtension(const std::string& ext) {
  std::string e = LowerCase(ext);
  return e == "aic" || e == "jp2" || e == "jpc";
}

int Write(const std::string& in, const std::string& out) {
  TPicture picture;
  picture.LoadPictureFile(in);
  TGraphic& source = *picture.CurrentGraphic();
  TBitmap pixels;
  if (source.Is<TBitmap>()) pixels.CopyFrom(&source);
  else RenderOnWhite(source, pixels);

  std::string ext = PictureExtensionOf(out);
  if (IsCodecExtension(ext)) {
    TQorBitmap writer;
    writer.CopyFrom(&pixels);
    writer.SaveFile(out);
    return 0;
  }
  TGraphicClass cls = TPicture::FindGraphicKind(ext);
  if (!cls) throw EInvalidGraphic(Format(GraphicsConst::SUnknownExtension, {ext}));
  if (!WritesOwnFormat(cls)) throw EInvalidGraphicOperation(Format("No writer for .%s files (%s)", {ext, cls->Name}));
  std::unique_ptr<TGraphic> writer = TGraphic::ConstructEmpty(cls);
  // A graphic of the writer's own class is copied as it is (a slide's
  // records, not its pixels); anything else through its pixels.
  if (&source.ClassType() == cls) writer->CopyFrom(&source);
  else writer->CopyFrom(&pixels);
  writer->SaveFile(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
#ifdef TOLVANE_HAVE_METAFILE_PLAYER
  TMetafileTextSupport text;  // metafile text draws with the system's fonts
#endif
  InitializeGraphicUnits();
  std::string first = argv[1];
  int rc;
  try {
    if (first == "--fingerprint") {
      rc = Fingerprints(argc, argv);
    } else if (first == "--write") {
      rc = argc == 4 ? Write(argv[2], argv[3]) : Usage();
    } else {
      TJpegOptions jpeg;
      int i = 1;
      for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        std::string opt = argv[i];
        if (opt == "--scale" && i + 1 < argc) jpeg.Scale = static_cast<TJpegDecodeScale>(StrToInt(argv[++i]) & 3);
        else if (opt == "--fast") jpeg.Speed = SpeedBestSpeed;
        else if (opt == "--8bit") jpeg.Depth = Output8Bit;
        else return Usage();
      }
      int left = argc - i;
      rc = left == 1 || left == 2 ? Dump(argv[i], left == 2 ? argv[i + 1] : nullptr, jpeg) : Usage();
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", e.ClassName(), e.what());
    rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", "std::exception", e.what());
    rc = 1;
  }
  FinalizeGraphicUnits();
  return rc;
}
