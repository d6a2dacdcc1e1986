// The X Bitmap graphic on hand-made files: header and value parsing, line
// ends, refusals and the exact text the writer produces. Conformance with
// independent tools is checked by xbm_reference.py.
#include <gtest/gtest.h>

#include <string>

#include "formats/XBMImage.h"
#include "support/TempDir.h"

namespace tolvane {
namespace {

// The memory byte of row y at byte i.
uint8_t Byte(TXBMImage& image, int32_t y, size_t i) { return image.ConstRowPointer(y)[i]; }

// Loads text as an X Bitmap; returns "" or "CLASS: message".
std::string LoadText(TXBMImage& image, const std::string& text) {
  const test::TTempDir dir;
  test::WriteFile(dir / "a.xbm", text);
  try {
    image.LoadFile(dir / "a.xbm");
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "";
}

TEST(XBMImage, HeaderNamesBlanksAndLineEnds) {
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    const std::string e = eol;
    TXBMImage image;
    ASSERT_EQ(LoadText(image, "#define any_thing_width \t 1 6 " + e + "#define x_height 2" + e +
                                  "static unsigned char x_bits[] = {" + e + "0x01, 0x80," + e + "0xff,0x0A};" + e),
              "")
        << "line end " << static_cast<int>(eol[0]);
    EXPECT_EQ(image.ImageWidth(), 16);
    EXPECT_EQ(image.ImageHeight(), 2);
    EXPECT_EQ(image.PixelLayoutOf(), pl1Bit);
    // File bit 1 (black) is memory bit 0; the leftmost pixel changes end.
    EXPECT_EQ(Byte(image, 0, 0), 0x7F);
    EXPECT_EQ(Byte(image, 0, 1), 0xFE);
    EXPECT_EQ(Byte(image, 1, 0), 0x00);
    EXPECT_EQ(Byte(image, 1, 1), 0xAF);
  }
}

TEST(XBMImage, ValuesFromTheBitsLineOnAndShortOrLongData) {
  TXBMImage image;
  // Values before the "bits[]" line are skipped, values on it count (also
  // before the marker), an upper-case X is no value, a value cut by the line
  // end keeps its one digit, and values past the last row are ignored.
  ASSERT_EQ(LoadText(image, "#define a_width 8\n#define a_height 5\n0x00 0x00\n0x01 char a_bits[] = { 0X02,\n"
                            "0x03, 0x4\n0x80, 0xFF, 0xFF, 0xzz\n"),
            "");
  EXPECT_EQ(Byte(image, 0, 0), 0x7F);
  EXPECT_EQ(Byte(image, 1, 0), 0x3F);
  EXPECT_EQ(Byte(image, 2, 0), 0xDF);
  EXPECT_EQ(Byte(image, 3, 0), 0xFE);
  EXPECT_EQ(Byte(image, 4, 0), 0x00);

  // Fewer values than the picture needs: the rest stays white.
  TXBMImage fresh;
  ASSERT_EQ(LoadText(fresh, "#define a_width 12\n#define a_height 2\nchar a_bits[] = {0x0f, 0x01"), "");
  EXPECT_EQ(Byte(fresh, 0, 0), 0x0F);
  EXPECT_EQ(Byte(fresh, 0, 1) & 0xF0, 0x70);
  EXPECT_EQ(Byte(fresh, 1, 0), 0xFF);
}

TEST(XBMImage, Refusals) {
  TXBMImage image;
  const std::string bits = "\nchar a_bits[] = {0x00};\n";
  EXPECT_EQ(LoadText(image, "/* comment */\n#define a_width 8\n#define a_height 1" + bits),
            "Exception: Not a valid XBM file");
  EXPECT_EQ(LoadText(image, "#define a_width 8\n#define a_h 1" + bits), "Exception: Not a valid XBM file");
  for (const char* size : {"-1", "268435457", "2147483647"})
    EXPECT_EQ(LoadText(image, std::string("#define a_width ") + size + "\n#define a_height 1" + bits),
              "Exception: Not a valid XBM file")
        << size;
  EXPECT_EQ(LoadText(image, "#define a_width 65536\n#define a_height 65536" + bits), "Exception: Not a valid XBM file");
  EXPECT_EQ(LoadText(image, "#define a_width 8\n#define a_height -3" + bits), "Exception: Not a valid XBM file");
  EXPECT_EQ(LoadText(image, "#define a_width 8\n#define a_height 0" + bits),
            "EInvalidGraphic: Scan line index out of range");
  EXPECT_EQ(LoadText(image, "#define a_width 0\n#define a_height 4" + bits),
            "EInvalidGraphic: Scan line index out of range");
  EXPECT_EQ(LoadText(image, "#define a_width 8x\n#define a_height 1" + bits),
            "EConvertError: '8x' is not a valid integer value");
  EXPECT_EQ(LoadText(image, "#define a_width 8\n#define a_height 1\nchar a_bits[] = {0xg1};"),
            "EConvertError: 'g1' is not a valid integer value");
  EXPECT_EQ(LoadText(image, std::string(70000, ' ') + "_width 8\n"), "Exception: Not a valid XBM file");
  EXPECT_EQ(LoadText(image, ""), "Exception: Not a valid XBM file");

  const test::TTempDir dir;
  EXPECT_THROW(image.LoadFile(dir / "missing.xbm"), EInOutError);
  EXPECT_THROW(image.SaveFile(dir / "no/such/dir.xbm"), EInOutError);
  TMemoryStream stream;
  EXPECT_THROW(image.LoadStream(stream), Exception);
  EXPECT_THROW(image.SaveStream(stream), Exception);
}

TEST(XBMImage, WriterText) {
  const test::TTempDir dir;
  TXBMImage image;
  image.ResizeWidth(10);
  image.ResizeHeight(2);
  image.SetPixelColor(0, 0, clBlack);
  image.SetPixelColor(9, 1, clBlack);
  image.SaveFile(dir / "a.xbm");
  // The pad bits of a row are 0 in memory: black, like the set bits.
  EXPECT_EQ(test::ReadFile(dir / "a.xbm"),
            "#define img_width 10\r\n#define img_height 2\r\nstatic char img_bits[]={\r\n"
            "0x01,0xFC,\r\n0x00,0xFE,\r\n};\r\n");

  for (TColor colour : {clWhite, clBlack}) {
    TBitmap source;
    source.SetPixelLayout(pl24Bit);
    source.ResizeWidth(8);
    source.ResizeHeight(1);
    source.FillRect(Rect(0, 0, 8, 1), colour);
    TXBMImage copy;
    copy.CopyFrom(&source);
    copy.SaveFile(dir / "b.xbm");
    EXPECT_NE(test::ReadFile(dir / "b.xbm").find(colour == clWhite ? "\r\n0x00,\r\n" : "\r\n0xFF,\r\n"),
              std::string::npos);
  }

  // A reversed palette (white at index 0) is written by colour, not by index.
  TXBMImage reversed;
  reversed.ResizeWidth(8);
  reversed.ResizeHeight(1);
  reversed.AssignPalette(CreatePalette({{255, 255, 255, 0}, {0, 0, 0, 0}}));
  reversed.RowPointer(0)[0] = 0x80;  // the leftmost pixel black, the rest white
  reversed.SaveFile(dir / "c.xbm");
  EXPECT_NE(test::ReadFile(dir / "c.xbm").find("\r\n0x01,\r\n"), std::string::npos);

  // What the writer wrote reads back as it was.
  TXBMImage back;
  back.LoadFile(dir / "a.xbm");
  EXPECT_EQ(back.ImageWidth(), 10);
  EXPECT_EQ(back.PixelColor(0, 0), clBlack);
  EXPECT_EQ(back.PixelColor(1, 0), clWhite);
  EXPECT_EQ(back.PixelColor(9, 1), clBlack);
  EXPECT_EQ(back.PixelColor(8, 1), clWhite);
}

TEST(XBMImage, RegisteredForXbm) {
  InitializeXBMImageUnit();
  EXPECT_EQ(TPicture::FindGraphicKind("XBM"), &TXBMImage::StaticClass());
  FinalizeXBMImageUnit();
  EXPECT_EQ(TPicture::FindGraphicKind("xbm"), nullptr);
}

}  // namespace
}  // namespace tolvane
