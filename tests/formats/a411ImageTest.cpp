// The .411 thumbnail graphic: the conversion's rounding where it lands on a
// half, short and long files, drawing and the refused operations. The whole
// conversion is compared with a model by a411_reference.py.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "formats/a411Image.h"
#include "tests/platform/TempDir.h"

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

TEST(a411Image, ShortAndLongFilesLoadAs64x48) {
  const test::TTempDir dir;
  // One row and one and a half groups of the next: the half group stays white.
  std::string group("\x10\x10\x10\x10\x80\x80", 6), data;
  for (int i = 0; i < 18; ++i) data += group;
  data.resize(6 * 17 + 3);
  test::WriteFile(dir / "short.411", data);
  Ta411Object graphic;
  EXPECT_EQ(graphic.ImageWidth(), 0);
  graphic.LoadFile(dir / "short.411");
  EXPECT_EQ(graphic.ImageWidth(), 64);
  EXPECT_EQ(graphic.ImageHeight(), 48);
  EXPECT_EQ(graphic.Image().PixelColor(63, 0), RGBColor(16, 16, 16));
  EXPECT_EQ(graphic.Image().PixelColor(3, 1), RGBColor(16, 16, 16));
  EXPECT_EQ(graphic.Image().PixelColor(4, 1), clWhite);
  EXPECT_EQ(graphic.Image().PixelColor(0, 47), clWhite);

  // Bytes past the picture are ignored.
  data.clear();
  for (int i = 0; i < 768; ++i) data += group;
  test::WriteFile(dir / "long.411", data + std::string(5000, '\xFF'));
  graphic.LoadFile(dir / "long.411");
  EXPECT_EQ(graphic.ImageHeight(), 48);
  EXPECT_EQ(graphic.Image().PixelColor(63, 47), RGBColor(16, 16, 16));

  // A missing file: EFOpenError, a new white image, the size unchanged.
  graphic.ResizeWidth(7);
  EXPECT_THROW(graphic.LoadFile(dir / "missing.411"), EFOpenError);
  EXPECT_EQ(graphic.ImageWidth(), 7);
  EXPECT_EQ(graphic.Image().PixelColor(0, 0), clWhite);
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
