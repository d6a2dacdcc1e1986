#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "picture/Graphics.h"
#include "picture/Jpeg.h"
#include "support/TempDir.h"

using namespace tolvane;
namespace fs = std::filesystem;

namespace {

// A graphic class of the tests' own, derived from TBitmap.
class TTestGraphic : public TBitmap {
  TOLVANE_CLASS(TTestGraphic)
public:
  void LoadStream(TStream& stream) override {
    if (stream.ReadByte() != 'T') throw EInvalidGraphic("Test graphic is not valid");
    WatchedWhileLoading = Watched();
    ReportProgress(this, TProgressStage::psRunning, 50, true, TRect{}, "");
    ResizeWidth(3);
    ResizeHeight(2);
  }
  bool WatchedWhileLoading = false;
};
TOLVANE_DEFINE_CREATABLE_CLASS(TTestGraphic, TBitmap)

class TSubTestGraphic : public TTestGraphic {
  TOLVANE_CLASS(TSubTestGraphic)
};
TOLVANE_DEFINE_CREATABLE_CLASS(TSubTestGraphic, TTestGraphic)

class PictureTest : public ::testing::Test {
protected:
  void TearDown() override {
    TPicture::UnregisterGraphicKind(&TTestGraphic::StaticClass());
    TPicture::UnregisterGraphicKind(&TJPEGImage::StaticClass());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Dir + "/" + name, std::ios::binary) << bytes;
    return Dir + "/" + name;
  }
  test::TTempDir Temp;
  const std::string Dir = Temp.Path;
};

}  // namespace

TEST_F(PictureTest, RegistryStartsWithTheFrameworkClassesAndLatestWins) {
  const auto& formats = TPicture::RegisteredFormats();
  ASSERT_GE(formats.size(), 4u);
  EXPECT_EQ(formats[0].Extension, "wmf");
  EXPECT_EQ(formats[1].Extension, "emf");
  EXPECT_EQ(formats[2].Extension, "ico");
  EXPECT_EQ(formats[3].Extension, "bmp");
  EXPECT_EQ(TPicture::FindGraphicKind("BMP"), &TBitmap::StaticClass());
  TPicture::RegisterExtension("TST", "test", &TTestGraphic::StaticClass());
  TPicture::RegisterExtension("tst", "sub", &TSubTestGraphic::StaticClass());
  EXPECT_EQ(TPicture::FindGraphicKind("tst"), &TSubTestGraphic::StaticClass());
  // Unregistering a class removes its descendants too.
  TPicture::UnregisterGraphicKind(&TTestGraphic::StaticClass());
  EXPECT_EQ(TPicture::FindGraphicKind("tst"), nullptr);
}

TEST_F(PictureTest, LoadPictureFileChoosesByExtensionAndKeepsTheOldGraphicOnFailure) {
  TPicture::RegisterExtension("tst", "test", &TTestGraphic::StaticClass());
  InitializeJpegUnit();
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject*) { ++changes; };
  picture.LoadPictureFile(Write("good.TST", "T"));
  ASSERT_TRUE(picture.CurrentGraphic()->Is<TTestGraphic>());
  EXPECT_EQ(picture.PictureWidth(), 3);
  EXPECT_EQ(changes, 1);
  TGraphic* before = picture.CurrentGraphic();
  EXPECT_THROW(picture.LoadPictureFile(Write("bad.tst", "X")), EInvalidGraphic);
  EXPECT_THROW(picture.LoadPictureFile(Dir + "/missing.tst"), EFOpenError);
  EXPECT_EQ(picture.CurrentGraphic(), before);
  for (const char* name : {"noext", "dir.d/noext"}) {
    try {
      picture.LoadPictureFile(Dir + "/" + name);
      FAIL();
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Unknown picture file extension (.)");
    }
  }
  try {
    picture.LoadPictureFile(Dir + "/x.Xyz");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Unknown picture file extension (.Xyz)");
  }
  // A JPG written in capitals is served by the JPEG graphic; only its header is read.
  std::string jpeg = Dir + "/photo.JPG";
  ASSERT_EQ(std::system(("convert -size 40x24 xc:red " + jpeg).c_str()), 0);
  picture.LoadPictureFile(jpeg);
  ASSERT_TRUE(picture.CurrentGraphic()->Is<TJPEGImage>());
  EXPECT_EQ(picture.PictureWidth(), 40);
}

TEST_F(PictureTest, AssignAndAsBitmap) {
  TPicture picture;
  TBitmap b;
  b.SetPixelLayout(pl24Bit);
  b.ResizeWidth(5);
  b.ResizeHeight(2);
  picture.AssignGraphic(&b);
  ASSERT_NE(picture.CurrentGraphic(), &b);
  EXPECT_EQ(picture.PictureWidth(), 5);
  TMetafile m;
  picture.AssignGraphic(&m);
  EXPECT_TRUE(picture.CurrentGraphic()->Is<TMetafile>());
  TBitmap& replaced = picture.AsBitmap();
  EXPECT_TRUE(replaced.IsBlank());
  picture.AssignGraphic(nullptr);
  EXPECT_EQ(picture.CurrentGraphic(), nullptr);
  EXPECT_EQ(picture.PictureWidth(), 0);
  // Copies between unrelated classes are refused with both class names.
  TIcon icon;
  try {
    icon.CopyFrom(&b);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TBitmap to a TIcon");
  }
  try {
    m.CopyInto(b);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TMetafile to a TBitmap");
  }
}

TEST_F(PictureTest, JpegKeepsItsDecodeUntilASettingChanges) {
  std::string file = Dir + "/p.jpg";
  ASSERT_EQ(std::system(("convert -size 97x61 gradient:red-blue " + file).c_str()), 0);
  TJPEGImage jpeg;
  EXPECT_EQ(jpeg.JpegOutputDepth(), Output24Bit);
  jpeg.LoadFile(file);
  jpeg.SetDecodeScale(ScaleEighth);
  EXPECT_EQ(jpeg.ImageWidth(), 13);  // 97 / 8 rounded up
  EXPECT_EQ(jpeg.ImageHeight(), 8);
  TBitmap* decoded = &jpeg.DecodedBitmap();
  EXPECT_EQ(decoded->ImageWidth(), 13);
  jpeg.SetDecodeScale(ScaleEighth);
  EXPECT_TRUE(jpeg.HasDecodedBitmap());
  EXPECT_EQ(&jpeg.DecodedBitmap(), decoded);
  jpeg.SetDecodeScale(ScaleHalf);
  EXPECT_FALSE(jpeg.HasDecodedBitmap());
  jpeg.SetDecodeSpeed(SpeedBestSpeed);
  jpeg.SetOutputDepth(Output8Bit);
  EXPECT_EQ(jpeg.DecodedBitmap().PixelLayoutOf(), pl8Bit);
  EXPECT_EQ(jpeg.ImageWidth(), 49);
  EXPECT_THROW(jpeg.ResizeWidth(3), EInvalidGraphicOperation);
}

TEST_F(PictureTest, IconDrawsUnscaledAtTheTopLeftClipped) {
  std::string png = Dir + "/i.png", ico = Dir + "/i.ico";
  ASSERT_EQ(std::system(("convert -size 32x32 xc:black -alpha off " + png + " && icotool -c -b 24 -o " + ico + " " + png).c_str()), 0);
  TIcon icon;
  icon.LoadFile(ico);
  EXPECT_EQ(icon.ImageWidth(), 32);
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  target.BitmapCanvas().StretchInto(Rect(2, 1, 4, 2), &icon);
  EXPECT_EQ(target.PixelColor(1, 1), clWhite);
  EXPECT_EQ(target.PixelColor(2, 1), clBlack);
  EXPECT_EQ(target.PixelColor(15, 7), clBlack);  // 32 x 32 from (2, 1), not scaled to the rectangle
  EXPECT_EQ(target.PixelColor(2, 0), clWhite);
  EXPECT_THROW(icon.ResizeWidth(5), EInvalidGraphicOperation);
}

TEST_F(PictureTest, StretchIntoWithoutGraphicLeavesTheTarget) {
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(2);
  target.ResizeHeight(2);
  target.BitmapCanvas().StretchInto(Rect(0, 0, 2, 2), nullptr);
  target.BitmapCanvas().DrawAt(0, 0, nullptr);
  EXPECT_EQ(target.PixelColor(0, 0), clWhite);
}

// A picture without a progress handler loads its graphics unwatched, so
// that a reader may leave rows unfilled until it writes them; its handler,
// if it has one, sees the load, and says whether it looks at the pixels.
TEST_F(PictureTest, LoadsAreWatchedOnlyByAHandlerThatMayLookAtThePicture) {
  TPicture::RegisterExtension("tst", "test", &TTestGraphic::StaticClass());
  const std::string file = Write("good.tst", "T");
  struct TCase {
    bool Handler, SeesPixels, Watched;
  };
  for (const TCase c : {TCase{false, true, false}, TCase{true, true, true}, TCase{true, false, false}}) {
    TPicture picture;
    int reports = 0;
    const auto count = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++reports; };
    if (c.Handler) picture.OnProgress = count;
    picture.ProgressSeesPixels = c.SeesPixels;
    picture.LoadPictureFile(file);
    auto& graphic = static_cast<TTestGraphic&>(*picture.CurrentGraphic());
    EXPECT_EQ(graphic.WatchedWhileLoading, c.Watched);
    EXPECT_EQ(reports, c.Handler ? 1 : 0);
    // Once loaded, the graphic reports through the picture as ever.
    picture.OnProgress = count;
    graphic.ReportProgress(&graphic, TProgressStage::psEnding, 100, false, TRect{}, "");
    EXPECT_EQ(reports, c.Handler ? 2 : 1);
  }
}
