// Where a search spends its time: scan, decoding (loading a file, and for a
// JPEG decoding it at an eighth of its size), drawing into the 16 x 8
// target with the fingerprint, and grouping. The steps are those of
// ComputeFingerprint, timed one by one.
//   search_profile DIR THRESHOLD [--recursive]
// Pictures for it: bench/make_pictures.sh.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/DirectoryScan.h"
#include "app/DuplicateSearch.h"
#include "app/GraphicUnits.h"
#include "picture/Jpeg.h"

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point& t) {
  auto now = Clock::now();
  double s = std::chrono::duration<double>(now - t).count();
  t = now;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: search_profile DIR THRESHOLD [--recursive]\n");
    return 2;
  }
  InitializeGraphicUnits();
  std::string dir = argv[1];
  if (dir.back() != '/') dir += '/';
  double scan = 0, decode = 0, draw = 0, group = 0;
  auto t = Clock::now();
  std::vector<std::string> files;
  if (argc > 3) ScanDirectoryTree(dir, dir, files);
  else ScanDirectory(dir, files);
  scan = Since(t);

  TPicture picture;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  std::vector<Fingerprint> prints(files.size());
  std::vector<uint8_t> unreadable(files.size(), 0);
  size_t failed = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    try {
      picture.LoadPictureFile(dir + files[i]);
      TGraphic* g = picture.CurrentGraphic();
      if (g->Is<TJPEGImage>()) {
        static_cast<TJPEGImage*>(g)->SetDecodeScale(ScaleEighth);
        static_cast<TJPEGImage*>(g)->DecodedBitmap();
      }
      decode += Since(t);
      target.FillRect(Rect(0, 0, 16, 8), clWhite);
      target.BitmapCanvas().StretchInto(Rect(0, 0, 16, 8), g);
      prints[i] = FingerprintOfTarget(target);
      draw += Since(t);
    } catch (const std::exception&) {
      ++failed;
      unreadable[i] = 1;
      decode += Since(t);
    }
  }
  auto groups = GroupFingerprints(prints, unreadable, static_cast<uint8_t>(std::stoi(argv[2]) & 0xFF));
  group = Since(t);
  size_t rows = 0;
  for (const auto& g : *groups) rows += g.size() > 1;

  double total = scan + decode + draw + group;
  std::printf("%zu files (%zu unreadable), %zu rows, %.3f s, %.0f files/s\n", files.size(), failed, rows, total,
              static_cast<double>(files.size()) / total);
  std::printf("scan %.1f%%  decoding %.1f%%  drawing %.1f%%  grouping %.1f%%\n", 100 * scan / total,
              100 * decode / total, 100 * draw / total, 100 * group / total);
  FinalizeGraphicUnits();
  return 0;
}
