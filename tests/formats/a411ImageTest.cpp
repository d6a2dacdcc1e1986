// The .411 thumbnail graphic: the conversion's rounding where it lands on a
// half, drawing and the refused operations. The whole conversion and files
// of every length are checked against a model by a411_reference.py.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "formats/a411Image.h"
#include "support/TempDir.h"

namespace tolvane {
namespace {

TEST(a411Image, ConversionRoundsHalvesToEvenAndClamps) {
  EXPECT_EQ(Yuv411ToBgr(16, 128, 128), (TBgr{16, 16, 16}));
  EXPECT_EQ(Yuv411ToBgr(255, 255, 128).B, 255);  // 255 + Round(225.044)
  EXPECT_EQ(Yuv411ToBgr(0, 0, 128).B, 0);        // 0 + Round(-226.816)
  EXPECT_EQ(Yuv411ToBgr(100, 128, 228).R, 240);  // 100 + Round(140.2)
  // The green term is exactly 18.5 and -18.5 (U = -50, V = 50 and back).
  EXPECT_EQ(Yuv411ToBgr(100, 78, 178).G, 82);
  EXPECT_EQ(Yuv411ToBgr(100, 178, 78).G, 118);
  // 1.772 x -125 = -221.5 rounds to -222.
  EXPECT_EQ(Yuv411ToBgr(255, 3, 128).B, 33);
}

TEST(a411Image, DrawsAtTheOriginAndRefusesTheRest) {
  const test::TTempDir dir;
  test::WriteFile(dir / "a.411", std::string(4608, '\0'));
  Ta411Object graphic;
  graphic.LoadFile(dir / "a.411");
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(80);
  target.ResizeHeight(60);
  target.BitmapCanvas().StretchInto(Rect(10, 10, 20, 15), &graphic);
  const TColor dark = target.PixelColor(0, 0);
  EXPECT_NE(dark, clWhite);
  EXPECT_EQ(target.PixelColor(63, 47), dark);
  EXPECT_EQ(target.PixelColor(64, 47), clWhite);
  EXPECT_EQ(target.PixelColor(63, 48), clWhite);

  Ta411Object copy;
  EXPECT_THROW(copy.CopyFrom(&graphic), EConvertError);
  // A missing file: EFOpenError, a new white image, the size unchanged.
  copy.ResizeWidth(7);
  EXPECT_THROW(copy.LoadFile(dir / "missing.411"), EFOpenError);
  EXPECT_EQ(copy.ImageWidth(), 7);
  EXPECT_EQ(copy.Image().PixelColor(0, 0), clWhite);
  TMemoryStream stream;
  uint16_t format = 0;
  THandle data = 0;
  HPALETTE palette;
  for (auto op : std::vector<std::function<void()>>{
           [&] { graphic.IsBlank(); }, [&] { graphic.SaveFile(dir / "b.411"); },
           [&] { graphic.LoadStream(stream); }, [&] { graphic.SaveStream(stream); },
           [&] { graphic.LoadClipboard(0, 0, nullptr); }, [&] { graphic.SaveClipboard(format, data, palette); }}) {
    try {
      op();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      EXPECT_EQ(e.Message, "Not supported");
    }
  }
}

}  // namespace
}  // namespace tolvane
