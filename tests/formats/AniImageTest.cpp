// The cursor graphic on hand-made cursor files: depths, masks and hot spots,
// the exact bytes the writer produces, cursors built from bitmaps, copies
// and the handle it owns. Files of independent tools and animated cursors
// are checked by cursor_reference.py.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "app/FileFacts.h"
#include "app/GraphicUnits.h"
#include "formats/AniImage.h"
#include "formats/XBMImage.h"
#include "formats/a411Image.h"
#include "tests/formats/CursorFiles.h"
#include "support/TempDir.h"

namespace tolvane {
namespace {

using test::Bytes;
using test::TCursorSpec;

// A spec with random pixels below limit and random transparency.
TCursorSpec RandomSpec(int32_t width, int32_t height, uint16_t bits, uint32_t limit, unsigned seed) {
  std::mt19937 rng(seed);
  TCursorSpec s;
  s.Width = width, s.Height = height, s.BitCount = bits, s.HotX = 7, s.HotY = 9;
  for (int32_t i = 0; i < width * height; ++i) {
    s.Pixels.push_back(static_cast<uint32_t>(rng() % limit));
    s.Transparent.push_back(rng() % 3 == 0);
  }
  return s;
}

std::vector<uint32_t> System16() {
  std::vector<uint32_t> out;
  for (const TPaletteEntry& e : SystemPalette16()->Entries)
    out.push_back(uint32_t{e.peRed} << 16 | uint32_t{e.peGreen} << 8 | e.peBlue);
  return out;
}

void Load(TzelCursorImage& cursor, const Bytes& file) {
  TMemoryStream stream(file);
  cursor.LoadStream(stream);
}

Bytes Save(TzelCursorImage& cursor) {
  TMemoryStream out;
  cursor.SaveStream(out);
  return out.Data();
}

// The graphic rendered on white, as the finder and imgdump draw it.
std::unique_ptr<TBitmap> OnWhite(TGraphic& graphic, int32_t width, int32_t height) {
  auto target = std::make_unique<TBitmap>();
  target->SetPixelLayout(pl24Bit);
  target->ResizeWidth(width);
  target->ResizeHeight(height);
  target->BitmapCanvas().StretchInto(Rect(0, 0, 1, 1), &graphic);
  return target;
}

TColor SpecColour(const TCursorSpec& s, int32_t x, int32_t y) {
  uint32_t v = s.Pixels[static_cast<size_t>(y * s.Width + x)];
  if (!s.Palette.empty()) v = s.Palette[v];
  return RGBColor(static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v));
}

TEST(TzelCursorImage, MonochromeAndColourCursorsSaveAsTheyWereRead) {
  TCursorSpec mono = RandomSpec(32, 32, 1, 2, 1);
  mono.Palette = {0x000000, 0xFFFFFF};
  TCursorSpec colour = RandomSpec(32, 32, 4, 16, 2);
  colour.Palette = System16();
  for (const TCursorSpec* s : {&mono, &colour}) {
    const Bytes file = test::CursorFile(*s);
    TzelCursorImage cursor;
    Load(cursor, file);
    EXPECT_EQ(cursor.ImageWidth(), 32);
    EXPECT_EQ(cursor.HotSpotX, 7);
    EXPECT_EQ(cursor.HotSpotY, 9);
    EXPECT_EQ(cursor.Image().PixelLayoutOf(), s->BitCount == 1 ? pl1Bit : pl4Bit);
    EXPECT_EQ(cursor.Mask().PixelLayoutOf(), pl1Bit);
    // Same header, colour table and blocks: XOR image first, AND mask second.
    EXPECT_EQ(Save(cursor), file) << "bits " << s->BitCount;

    auto shown = OnWhite(cursor, 40, 40);
    for (int32_t y = 0; y < 32; ++y)
      for (int32_t x = 0; x < 32; ++x) {
        const TColor c = SpecColour(*s, x, y);
        const TColor expected = s->Transparent[static_cast<size_t>(y * 32 + x)] ? clWhite ^ c : c;
        ASSERT_EQ(shown->PixelColor(x, y), expected) << x << "," << y;
      }
    EXPECT_EQ(shown->PixelColor(32, 0), clWhite);
  }
}

TEST(TzelCursorImage, DeepAndAlphaCursorsBecomeFourBitWithAMask) {
  TCursorSpec deep = RandomSpec(32, 32, 8, 256, 3);
  for (uint32_t i = 0; i < 256; ++i) deep.Palette.push_back(System16()[i % 16]);
  TzelCursorImage cursor;
  Load(cursor, test::CursorFile(deep));
  EXPECT_EQ(cursor.Image().PixelLayoutOf(), pl4Bit);
  const Bytes saved = Save(cursor);
  EXPECT_EQ(saved[8], 16);                   // colour count
  EXPECT_EQ(LoadLE32(&saved[22 + 8]), 64u);  // height of image and mask
  EXPECT_EQ(LoadLE16(&saved[22 + 14]), 4);

  // Alpha decides alone: below 128 transparent, whatever the AND mask says.
  TCursorSpec alpha = RandomSpec(32, 32, 32, 1, 4);
  for (size_t i = 0; i < alpha.Pixels.size(); ++i) {
    alpha.Pixels[i] = (i % 4 == 0 ? 0x7F000000u : 0x80000000u) | 0x00123456u;
    alpha.Transparent[i] = 0;
  }
  Load(cursor, test::CursorFile(alpha));
  auto shown = OnWhite(cursor, 32, 32);
  EXPECT_EQ(shown->PixelColor(0, 0), clWhite);
  EXPECT_EQ(shown->PixelColor(1, 0), cursor.Image().PixelColor(1, 0));
  EXPECT_NE(shown->PixelColor(1, 0), clWhite);
}

TEST(TzelCursorImage, NonSquareCursorsTakeTheirHeight) {
  // Wider: columns past the height are dropped. Narrower: the missing
  // columns are transparent, not black.
  for (int32_t width : {48, 16}) {
    TCursorSpec s = RandomSpec(width, 32, 4, 16, 5);
    s.Palette = System16();
    for (auto& t : s.Transparent) t = 0;
    TzelCursorImage cursor;
    Load(cursor, test::CursorFile(s));
    EXPECT_EQ(cursor.ImageWidth(), 32);
    auto shown = OnWhite(cursor, 32, 32);
    EXPECT_EQ(shown->PixelColor(15, 3), SpecColour(s, 15, 3));
    EXPECT_EQ(shown->PixelColor(31, 3), width > 32 ? SpecColour(s, 31, 3) : clWhite);
  }
}

TEST(TzelCursorImage, BuiltFromABitmap) {
  TBitmap bitmap;
  bitmap.SetPixelLayout(pl24Bit);
  bitmap.ResizeWidth(30);
  bitmap.ResizeHeight(20);
  bitmap.FillRect(Rect(0, 0, 30, 20), RGBColor(255, 0, 0));
  const TColor key = 0x006C4AF4;
  bitmap.SetPixelColor(0, 0, key);
  bitmap.SetPixelColor(19, 19, key);
  bitmap.SetPixelColor(5, 5, key ^ 0xFFFFFF);
  TzelCursorImage cursor;
  cursor.CopyFrom(&bitmap);
  EXPECT_EQ(cursor.ImageWidth(), 20);
  EXPECT_EQ(cursor.ImageHeight(), 20);
  TBitmap background;
  background.SetPixelLayout(pl24Bit);
  background.ResizeWidth(20);
  background.ResizeHeight(20);
  background.FillRect(Rect(0, 0, 20, 20), RGBColor(0, 0, 200));
  background.BitmapCanvas().StretchInto(Rect(0, 0, 5, 5), &cursor);
  EXPECT_EQ(background.PixelColor(0, 0), RGBColor(0, 0, 200));
  EXPECT_EQ(background.PixelColor(19, 19), RGBColor(0, 0, 200));
  EXPECT_EQ(background.PixelColor(5, 5), RGBColor(255, 255, 55));
  EXPECT_EQ(background.PixelColor(1, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(background.BitmapCanvas().CopyMode, cmSrcCopy);
  // Saved and read again: the transparent corner stays transparent.
  TzelCursorImage back;
  Load(back, Save(cursor));
  EXPECT_EQ(OnWhite(back, 20, 20)->PixelColor(0, 0), clWhite);
  EXPECT_EQ(OnWhite(back, 20, 20)->PixelColor(3, 0), RGBColor(255, 0, 0));

  // Sizes of 256 and more are 0 in the directory; a square beyond the
  // image-size limit is refused before anything is made.
  bitmap.ResizeWidth(300);
  bitmap.ResizeHeight(300);
  cursor.CopyFrom(&bitmap);
  const Bytes saved = Save(cursor);
  EXPECT_EQ(saved[6], 0);
  EXPECT_EQ(saved[7], 0);
  EXPECT_EQ(LoadLE32(&saved[22 + 4]), 300u);
  bitmap.ResizeWidth(1);
  bitmap.ResizeHeight(40000);
  EXPECT_THROW(cursor.CopyFrom(&bitmap), EOutOfResources);
}

TEST(TzelCursorImage, CopiesHandlesAndRefusals) {
  TCursorSpec big = RandomSpec(48, 48, 4, 16, 6);
  big.Palette = System16();
  TzelCursorImage source, copy;
  Load(source, test::CursorFile(big));
  const HICON first = source.CursorHandle();
  ASSERT_NE(first, 0u);
  // The copy's composite takes the source's size.
  copy.CopyFrom(&source);
  EXPECT_EQ(copy.ImageWidth(), 48);
  EXPECT_EQ(copy.HotSpotX, 7);
  EXPECT_EQ(copy.CursorHandle(), 0u);
  EXPECT_TRUE(copy.SameContent(&source));
  auto a = OnWhite(copy, 48, 48), b = OnWhite(source, 48, 48);
  EXPECT_EQ(a->Image().Bits, b->Image().Bits);

  TBitmap composite;
  composite.CopyFrom(&source);
  EXPECT_EQ(composite.ImageWidth(), 48);
  TIcon icon;
  EXPECT_THROW(copy.CopyFrom(&icon), EConvertError);
  EXPECT_THROW(copy.ResizeWidth(3), EInvalidGraphicOperation);
  try {
    copy.ResizeHeight(3);
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message, "Cannot change the size of a cursor");
  }

  // A new load destroys the handle of the last one.
  Load(source, test::CursorFile(big));
  EXPECT_NE(source.CursorHandle(), first);
  EXPECT_EQ(IconFromHandle(first), nullptr);

  TMemoryStream junk(Bytes(100, 7));
  try {
    source.LoadStream(junk);
    ADD_FAILURE() << "junk loaded";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Invalid cursor");
  }
}

TEST(TzelCursorImage, RegisteredAfterTheSimpleClassAndNamedByTheFinder) {
  InitializeCURImageUnit();
  InitializeAniImageUnit();
  EXPECT_EQ(TPicture::FindGraphicKind("cur"), &TzelCursorImage::StaticClass());
  EXPECT_EQ(TPicture::FindGraphicKind("ANI"), &TzelCursorImage::StaticClass());
  const test::TTempDir dir;
  TCursorSpec s = RandomSpec(32, 32, 1, 2, 9);
  s.Palette = {0, 0xFFFFFF};
  const Bytes file = test::CursorFile(s);
  test::WriteFile(dir / "a.Cur", std::string(file.begin(), file.end()));
  TPicture picture;
  picture.LoadPictureFile(dir / "a.Cur");
  EXPECT_EQ(picture.CurrentGraphic()->ClassName(), "TzelCursorImage");
  FinalizeAniImageUnit();
  EXPECT_EQ(TPicture::FindGraphicKind("cur"), &TCURObject::StaticClass());
  FinalizeCURImageUnit();
  EXPECT_EQ(TPicture::FindGraphicKind("ani"), nullptr);

  // Start-up registers the units in their order, and the finder names them.
  InitializeGraphicUnits();
  std::vector<std::string> order;
  for (const TFileFormatEntry& e : TPicture::RegisteredFormats())
    if (e.Extension == "cur" || e.Extension == "ani" || e.Extension == "411" || e.Extension == "xbm")
      order.push_back(std::string(e.GraphicClass->Name) + " " + e.Extension);
  EXPECT_EQ(order, (std::vector<std::string>{"TCURObject cur", "TCURObject ani", "Ta411Object 411", "TXBMImage xbm",
                                             "TzelCursorImage cur", "TzelCursorImage ani"}));
  EXPECT_EQ(FormatNameText(std::make_unique<TzelCursorImage>().get()), "Animated Cursor");
  EXPECT_EQ(FormatNameText(std::make_unique<TCURObject>().get()), "Cursor");
  EXPECT_EQ(FormatNameText(std::make_unique<Ta411Object>().get()), "411 Graphic");
  EXPECT_EQ(FormatNameText(std::make_unique<TXBMImage>().get()), "X Bitmap");
  FinalizeGraphicUnits();
}

}  // namespace
}  // namespace tolvane
