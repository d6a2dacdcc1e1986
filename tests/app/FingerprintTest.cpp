#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/Fingerprint.h"
#include "app/GraphicUnits.h"
#include "support/TempDir.h"

using namespace tolvane;
namespace fs = std::filesystem;

namespace {

class FingerprintTest : public ::testing::Test {
protected:
  void SetUp() override {
    InitializeGraphicUnits();
    Target.SetPixelLayout(pl24Bit);
    Target.ResizeWidth(16);
    Target.ResizeHeight(8);
  }

  // Saves a bitmap of w x h filled with fill, with a rectangle of colour rect.
  std::string SaveBmp(const std::string& name, int w, int h, TColor fill, TRect r = {}, TColor rect = 0) {
    TBitmap b;
    b.SetPixelLayout(pl24Bit);
    b.ResizeWidth(w);
    b.ResizeHeight(h);
    b.FillRect(Rect(0, 0, w, h), fill);
    b.FillRect(r, rect);
    b.SaveFile(Dir + name);
    return name;
  }

  Fingerprint Of(const std::string& name) {
    Fingerprint f;
    ComputeFingerprint(Dir, name, Picture, f, Target);
    return f;
  }

  test::TTempDir Temp;
  const std::string Dir = Temp.Path + "/";
  TPicture Picture;
  TBitmap Target;
};

Fingerprint Words(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  Fingerprint f;
  f.Words = {a, b, c, d};
  return f;
}

}  // namespace

TEST(BitCount, TableAndDistance) {
  EXPECT_EQ(BitCount16(0), 0);
  EXPECT_EQ(BitCount16(0xFFFF), 16);
  EXPECT_EQ(BitCount16(0x8001), 2);
  Fingerprint zero, ones = Words(~0u, ~0u, ~0u, ~0u);
  EXPECT_EQ(FingerprintDistance(zero, ones), 128);
  Fingerprint a = Words(0x00FF00FF, 1, 0, 0x80000000);
  EXPECT_EQ(FingerprintDistance(a, zero), 18);
  EXPECT_EQ(FingerprintDistance(zero, a), 18);
  EXPECT_EQ(FingerprintDistance(a, a), 0);
}

TEST(ExtensionTable, FiftyLowerCaseExtensionsMatchedExactly) {
  EXPECT_EQ(std::string(ExtensionTable[0].Extension), "jp2");
  EXPECT_EQ(std::string(ExtensionTable[ExtensionCount - 1].Extension), "sld");
  EXPECT_TRUE(IsSupportedExtension(".jpg"));
  EXPECT_TRUE(IsSupportedExtension(".411"));
  EXPECT_FALSE(IsSupportedExtension(".JPG"));
  EXPECT_FALSE(IsSupportedExtension("jpg"));
  EXPECT_FALSE(IsSupportedExtension(".txt"));
  EXPECT_FALSE(IsSupportedExtension(""));
}

TEST_F(FingerprintTest, WorkedExamples) {
  EXPECT_EQ(Of(SaveBmp("white.bmp", 20, 10, clWhite)), Words(~0u, ~0u, ~0u, ~0u));
  EXPECT_EQ(Of(SaveBmp("black.bmp", 20, 10, clBlack)), Words(~0u, ~0u, ~0u, ~0u));
  EXPECT_EQ(Of(SaveBmp("left.bmp", 32, 16, clWhite, Rect(0, 0, 16, 16), clBlack)),
            Words(0x00FF00FF, 0x00FF00FF, 0x00FF00FF, 0x00FF00FF));
  Fingerprint top = Of(SaveBmp("top.bmp", 32, 16, clWhite, Rect(0, 0, 32, 8), clBlack));
  EXPECT_EQ(top, Words(0, 0, ~0u, ~0u));
  EXPECT_EQ(FingerprintDistance(top, Words(~0u, ~0u, ~0u, ~0u)), 64);
}

TEST_F(FingerprintTest, UnreadableFilesKeepTheZeroFingerprint) {
  std::ofstream(Dir + "broken.jpg") << "no picture here";
  std::ofstream(Dir + "broken.bmp") << "BM no picture here";
  Fingerprint flat = Of(SaveBmp("flat.bmp", 4, 4, RGBColor(50, 100, 150)));
  Fingerprint broken = Of("broken.bmp");
  EXPECT_EQ(broken, Fingerprint{});
  EXPECT_EQ(Of("broken.jpg"), Fingerprint{});
  EXPECT_EQ(Of("missing.bmp"), Fingerprint{});
  EXPECT_EQ(Of("unknown.xyz"), Fingerprint{});
  EXPECT_EQ(FingerprintDistance(flat, broken), 128);
}

TEST_F(FingerprintTest, TargetIsClearedSoEachFileStandsAlone) {
  // A small icon covers only part of the target; the black picture drawn
  // before it must not show through.
  std::string png = Dir + "i.png", ico = Dir + "i.ico";
  ASSERT_EQ(std::system(("convert -size 8x4 xc:black -alpha off " + png + " && icotool -c -b 24 -o " + ico + " " + png +
                         " 2>/dev/null").c_str()),
            0);
  Fingerprint alone = Of("i.ico");
  Of(SaveBmp("black.bmp", 20, 10, clBlack));
  EXPECT_EQ(Of("i.ico"), alone);
  // 8 x 8 black at the top-left (icons are square in a directory; the
  // image is 8 x 4 as stored, drawn unscaled) on white.
  EXPECT_EQ(alone.Words[0] & 0xFF00FF00u, 0u);
}

TEST_F(FingerprintTest, JpegIsDecodedAtAnEighth) {
  ASSERT_EQ(std::system(("convert -size 160x80 xc:white -fill black -draw 'rectangle 0,0 79,79' " + Dir + "h.jpg").c_str()), 0);
  EXPECT_EQ(Of("h.jpg"), Words(0x00FF00FF, 0x00FF00FF, 0x00FF00FF, 0x00FF00FF));
  auto* jpeg = dynamic_cast<TJPEGImage*>(Picture.CurrentGraphic());
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(jpeg->JpegDecodeScale(), ScaleEighth);
  EXPECT_EQ(jpeg->ImageWidth(), 20);
}
