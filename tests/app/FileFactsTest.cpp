#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "app/FileFacts.h"
#include "graphics/GraphicFormats.h"
#include "picture/Jpeg.h"

namespace tolvane {
namespace {

TEST(FileFacts, FormatFileSizeSteps) {
  const std::pair<int64_t, const char*> cases[] = {
      {-1, "-1 B"},          {1023, "1023 B"},          {1024, "1.00 kB"},         {1048575, "1024.00 kB"},
      {1048576, "1.00 MB"}, {1073741823, "1024.00 MB"}, {1073741824, "1.00 GB"}, {int64_t{5} << 40, "5120.00 GB"}};
  for (auto [size, text] : cases) EXPECT_EQ(FormatFileSize(size), text);
  TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = std::string(",");
  EXPECT_EQ(FormatFileSize(1536), "1,50 kB");
  FormatSettings() = saved;
}

TEST(FileFacts, SizeAndDateOfFiles) {
  test::TTempDir dir;
  std::string path = dir.Path + "/a.bmp";
  test::WriteFile(path, "12345");
  EXPECT_EQ(GetFileSizeOf(path), 5);
  EXPECT_EQ(GetFileSizeOf(dir.Path + "/none.bmp"), -1);
  EXPECT_EQ(GetFileSizeOf(dir.Path + "/"), -1);
  // A date before 1980 is an ordinary date.
  std::tm local{};
  local.tm_year = 75, local.tm_mon = 5, local.tm_mday = 3, local.tm_hour = 12, local.tm_isdst = -1;
  timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(FileDateText(path), "03.06.1975");
  for (const std::string& bad : {dir.Path + "/none.bmp", dir.Path + "/"}) {
    try {
      FileDateText(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to date encode");
    }
  }
}

std::string DepthOf(TGraphic& graphic) {
  TPicture picture;
  picture.AssignGraphic(&graphic);
  return ColorDepthText(picture);
}

TEST(FileFacts, ColorDepthText) {
  const char* texts[] = {"?", "1 bpp", "4 bpp", "8 bpp", "15 bpp", "16 bpp", "24 bpp", "32 bpp"};
  for (int layout = plDevice; layout <= pl32Bit; ++layout) {
    TBitmap b;
    b.SetPixelLayout(TPixelLayout(layout));
    EXPECT_EQ(DepthOf(b), texts[layout]) << layout;
  }
  // A JPEG names its output depth, whatever it decodes to.
  TJPEGImage jpeg;
  jpeg.SetOutputDepth(Output8Bit);
  EXPECT_EQ(DepthOf(jpeg), "8 bpp");
  jpeg.SetOutputDepth(Output24Bit);
  EXPECT_EQ(DepthOf(jpeg), "24 bpp");
  TIcon icon;
  EXPECT_EQ(DepthOf(icon), "");
  EXPECT_EQ(ColorDepthText(TPicture()), "");
}

// Stand-ins named as the readers' classes will be.
class TTIFFGraphic : public TBitmap {
  TOLVANE_CLASS(TTIFFGraphic)
};
TOLVANE_DEFINE_CLASS(TTIFFGraphic, TBitmap)
class TEPSGraphic : public TTIFFGraphic {
  TOLVANE_CLASS(TEPSGraphic)
};
TOLVANE_DEFINE_CLASS(TEPSGraphic, TTIFFGraphic)
class TPSDGraphic : public TBitmap {
  TOLVANE_CLASS(TPSDGraphic)
};
TOLVANE_DEFINE_CLASS(TPSDGraphic, TBitmap)

TEST(FileFacts, FormatNameTextTakesTheFirstMatchingClass) {
  EXPECT_EQ(FormatNameText(std::make_unique<TJPEGImage>().get()), "JPEG");
  EXPECT_EQ(FormatNameText(std::make_unique<TBitmap>().get()), "Windows BMP");
  EXPECT_EQ(FormatNameText(std::make_unique<TMetafile>().get()), "Windows Metafile");
  EXPECT_EQ(FormatNameText(std::make_unique<TIcon>().get()), "Windows Icon");
  EXPECT_EQ(FormatNameText(std::make_unique<TTIFFGraphic>().get()), "Tagged Image Format");
  EXPECT_EQ(FormatNameText(std::make_unique<TEPSGraphic>().get()), "Enhaced PS");
  EXPECT_EQ(FormatNameText(std::make_unique<TPSDGraphic>().get()), "Adobe Photoshop");
  EXPECT_EQ(FormatNameText(std::make_unique<TPNGGraphic>().get()), "Port.Network Graphic");
  EXPECT_EQ(FormatNameText(nullptr), "?");
}

}  // namespace
}  // namespace tolvane
