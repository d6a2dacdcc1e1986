// The WBMP graphic (integers, cache, saving, clipboard) and the slide
// graphic (header checks, records, sizes, colours, drawing) on hand-made
// data. Files of independent tools are checked by wbmp_slide_reference.py.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/SLDimage.h"
#include "formats/WBMPImage.h"
#include "picture/ByteOrder.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Saved(TGraphic& graphic) {
  TMemoryStream stream;
  graphic.SaveStream(stream);
  return stream.Data();
}

TEST(WBMP, MultiByteIntegers) {
  for (auto [value, bytes] : std::vector<std::pair<uint32_t, Bytes>>{
           {0, {0x00}}, {127, {0x7F}}, {128, {0x81, 0x00}}, {300, {0x82, 0x2C}}, {16384, {0x81, 0x80, 0x00}}}) {
    TMemoryStream out;
    EXPECT_EQ(WriteMultiByteInt(out, value), static_cast<int>(bytes.size()));
    EXPECT_EQ(out.Data(), bytes);
    TMemoryStream in(bytes);
    EXPECT_EQ(ReadMultiByteInt(in), value);
  }
  // Six continuation bytes: the integer ends after the fifth, in 32 bits.
  TMemoryStream six(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x85});
  EXPECT_EQ(ReadMultiByteInt(six), 0xFFFFFFFFu);
  EXPECT_EQ(ReadMultiByteInt(six), 5u);
  // A stream that ends inside an integer ends it there.
  TMemoryStream cut(Bytes{0x81});
  EXPECT_EQ(ReadMultiByteInt(cut), 1u);
}

TEST(WBMP, HeaderRowsAndCache) {
  Bytes file = {0x00, 0x00, 0x81, 0x00, 0x10};
  for (int i = 0; i < 256; ++i) file.push_back(static_cast<uint8_t>(i));
  file.insert(file.end(), 1000, 0x55);  // trailing bytes are no part of the picture
  TWBMPImage image;
  TMemoryStream stream(file);
  image.LoadStream(stream);
  EXPECT_EQ(image.ImageWidth(), 128);
  EXPECT_EQ(image.ImageHeight(), 16);
  EXPECT_EQ(image.File().DataSize(), 256u);
  EXPECT_EQ(image.GetBitmap().RowPointer(1)[3], 19);
  EXPECT_THROW(image.ResizeWidth(10), EInvalidGraphicOperation);

  // A new load replaces the cache; rows the data do not reach are white.
  TMemoryStream narrow(Bytes{0x00, 0x00, 0x0A, 0x02, 0x12, 0xC0});
  image.LoadStream(narrow);
  TBitmap& cache = image.GetBitmap();
  EXPECT_EQ(cache.ImageWidth(), 10);
  EXPECT_EQ(cache.RowPointer(0)[0], 0x12);
  EXPECT_EQ(cache.RowPointer(0)[1], 0xC0);  // the row's unused low bits as stored
  EXPECT_EQ(cache.RowPointer(1)[0], 0xFF);

  // Width or height 0: a blank picture, no error.
  TMemoryStream empty(Bytes{0x00, 0x00, 0x00, 0x05});
  image.LoadStream(empty);
  EXPECT_TRUE(image.IsBlank());
  EXPECT_EQ(image.GetBitmap().ImageHeight(), 5);

  TMemoryStream huge(Bytes{0x00, 0x00, 0x8F, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0x7F});
  EXPECT_THROW(image.LoadStream(huge), EInvalidGraphic);
}

TEST(WBMP, SavingWithAndWithoutCache) {
  const Bytes file = {0x00, 0x00, 0x0A, 0x02, 0x12, 0xC0, 0xAB, 0x40};
  TWBMPImage loaded;
  TMemoryStream stream(file);
  loaded.LoadStream(stream);
  EXPECT_EQ(Saved(loaded), file);  // never drawn: the file as held

  // From a bitmap whose palette puts white first: colours, not indices, decide.
  TBitmap reversed;
  reversed.SetPixelLayout(pl1Bit);
  reversed.ResizeWidth(9);
  reversed.ResizeHeight(1);
  reversed.AssignPalette(CreatePalette({{255, 255, 255, 0}, {0, 0, 0, 0}}));
  reversed.RowPointer(0)[0] = 0x80;  // first pixel black
  reversed.RowPointer(0)[1] = 0x00;
  TWBMPImage copy;
  copy.CopyFrom(&reversed);
  EXPECT_EQ(copy.ImageWidth(), 9);
  EXPECT_EQ(Saved(copy), (Bytes{0x00, 0x00, 0x09, 0x01, 0x7F, 0x80}));
}

TEST(WBMP, ClipboardRoundTrip) {
  InitializeWBMPImageUnit();
  ASSERT_NE(CF_WBMP, 0);
  TWBMPImage image;
  TMemoryStream stream(Bytes{0x00, 0x00, 0x08, 0x02, 0xF0, 0x0F});
  image.LoadStream(stream);
  uint16_t format = 0;
  THandle data = 0;
  HPALETTE palette;
  image.SaveClipboard(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  GlobalFree(data);  // the bitmap form is the caller's

  TWBMPImage pasted;
  pasted.LoadClipboard(CF_WBMP, 0, nullptr);
  EXPECT_EQ(pasted.ImageWidth(), 8);
  EXPECT_EQ(pasted.GetBitmap().RowPointer(1)[0], 0x0F);
  EXPECT_THROW(pasted.LoadClipboard(CF_PALETTE, 0, nullptr), EInvalidGraphicOperation);
  EmptyClipboard();
}

// A slide header: level 2, the given high dots.
Bytes SlideHeader(uint16_t highX, uint16_t highY) {
  Bytes h = {'A', 'u', 't', 'o', 'C', 'A', 'D', ' ', 'S', 'l', 'i', 'd', 'e', 0x0D, 0x0A, 0x1A, 0x00, 0x56, 2};
  AppendLE16(h, highX);
  AppendLE16(h, highY);
  AppendLE32(h, 7500000);
  AppendLE16(h, 0);
  AppendLE16(h, 0x1234);
  return h;
}

Bytes Vector(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1) {
  Bytes v;
  for (uint16_t c : {x0, y0, x1, y1}) AppendLE16(v, c);
  return v;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Slide, HeaderChecksKeepTheRecordsHeld) {
  Tslide slide;
  TMemoryStream good(Concat({SlideHeader(639, 479), Vector(0, 0, 10, 10), {0, 0xFC}, {1, 2, 3}}));
  slide.LoadStream(good);
  EXPECT_EQ(slide.ImageWidth(), 640);
  EXPECT_EQ(slide.ImageHeight(), 480);
  ASSERT_EQ(slide.SlideRecords.size(), 2u);

  Bytes lower = SlideHeader(9, 9);
  lower[0] = 'a';
  Bytes level1 = SlideHeader(9, 9);
  level1[18] = 1;
  Bytes motorola = SlideHeader(9, 9);
  motorola[29] = 0x12, motorola[30] = 0x34;
  for (auto [bytes, text] : std::vector<std::pair<Bytes, std::string>>{
           {lower, "Invalid slide file"}, {level1, "unsupported level 1 slide"},
           {motorola, "SLD file not from an Intel-based machine"}, {Bytes{'A'}, "Invalid slide file"}}) {
    TMemoryStream s(bytes);
    try {
      slide.LoadStream(s);
      ADD_FAILURE() << text;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, text);
    }
    EXPECT_EQ(slide.SlideRecords.size(), 2u);
    EXPECT_EQ(slide.SlideHeader[0], 'A');
  }
}

TEST(Slide, RecordsSaveBackAsRead) {
  const Bytes records = Concat({{5, 0xFF}, Vector(1, 2, 3, 4), {0xFE, 0xFB, 3, 4, 5}, {1, 0xFE, 2},
                                {0, 0xFD, 0, 0, 0xFF, 0xFF}, {0, 0xFC}});
  const Bytes file = Concat({SlideHeader(99, 49), records});
  Tslide slide;
  TMemoryStream in(Concat({file, {9, 9, 9}}));
  slide.LoadStream(in);
  // Saved into a longer stream: exactly the header and the records remain.
  TMemoryStream out(Bytes(500, 0xEE));
  slide.SaveStream(out);
  EXPECT_EQ(out.Data(), file);

  // A copy brings the header, so it saves as a readable file too.
  Tslide copy;
  copy.CopyFrom(&slide);
  EXPECT_EQ(Saved(copy), file);
  TBitmap bitmap;
  EXPECT_THROW(copy.CopyFrom(&bitmap), Exception);

  // No records: the header alone. Unknown kinds and truncated records end the list.
  TMemoryStream bare(SlideHeader(9, 9));
  slide.LoadStream(bare);
  EXPECT_EQ(Saved(slide), SlideHeader(9, 9));
  TMemoryStream odd(Concat({SlideHeader(9, 9), Vector(1, 1, 2, 2), {0, 0x90, 1, 2}, Vector(3, 3, 4, 4)}));
  slide.LoadStream(odd);
  EXPECT_EQ(slide.SlideRecords.size(), 1u);
  TMemoryStream tail(Concat({SlideHeader(9, 9), Vector(1, 1, 2, 2), {7}}));
  slide.LoadStream(tail);
  EXPECT_EQ(slide.SlideRecords.size(), 1u);

  // Zeros are valid vectors; a file of them keeps only so many.
  Bytes zeros = SlideHeader(9, 9);
  zeros.resize(zeros.size() + 8 * (Tslide::MaxRecords + 100));
  TMemoryStream padded(std::move(zeros));
  slide.LoadStream(padded);
  EXPECT_EQ(slide.SlideRecords.size(), Tslide::MaxRecords);
}

TEST(Slide, SizesAndScale) {
  Tslide fresh;
  fresh.ResizeWidth(100);  // never loaded: unchanged, no division by zero
  EXPECT_EQ(fresh.ImageWidth(), 0);

  Tslide slide;
  TMemoryStream s(SlideHeader(639, 479));
  slide.LoadStream(s);
  slide.ResizeWidth(320);
  EXPECT_EQ(slide.ImageWidth(), 320);
  EXPECT_EQ(slide.ImageHeight(), 240);
  slide.ResizeHeight(-50);
  EXPECT_EQ(slide.ImageWidth(), 0);

  TMemoryStream wide(SlideHeader(65535, 10));
  slide.LoadStream(wide);
  slide.SlideScale = 1.0f;
  slide.UpdateSize();
  EXPECT_EQ(slide.ImageWidth(), 32767);
}

TEST(Slide, AutoCadColours) {
  EXPECT_EQ(AciColor(10), 0x0000FFu);
  EXPECT_EQ(AciColor(11), 0x8181FFu);
  EXPECT_EQ(AciColor(12), 0x0000B2u);
  EXPECT_EQ(AciColor(20), 0x003FFFu);
  EXPECT_EQ(AciColor(50), 0x00FFFFu);
  EXPECT_EQ(AciColor(7), 0u);
  EXPECT_EQ(AciColor(255), 0xADADADu);
}

TEST(Slide, DrawsScaledAtTheCanvasOrigin) {
  // A 10 x 10 slide with a horizontal red vector at y = 0 and a blue fill.
  const Bytes file = Concat({SlideHeader(9, 9), {1, 0xFF}, Vector(0, 0, 9, 0), {5, 0xFF},
                             {0, 0xFD, 0, 0, 0, 0x80}, {0, 0xFD, 4, 0, 4, 0}, {0, 0xFD, 8, 0, 4, 0},
                             {0, 0xFD, 8, 0, 8, 0}, {0, 0xFD, 0, 0, 0xFF, 0xFF}, {0, 0xFC}});
  Tslide slide;
  TMemoryStream s(file);
  slide.LoadStream(s);
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(40);
  target.ResizeHeight(40);
  // The rectangle's size counts, not its place: drawn at (0, 0), 20 x 20.
  target.BitmapCanvas().StretchInto(Rect(100, 100, 120, 120), &slide);
  EXPECT_EQ(target.BitmapCanvas().PixelColour(0, 20), 0x0000FFu);   // slide y = 0 at canvas y = 20
  EXPECT_EQ(target.BitmapCanvas().PixelColour(18, 20), 0x0000FFu);  // the end point is drawn
  EXPECT_EQ(target.BitmapCanvas().PixelColour(12, 10), 0xFF0000u);  // inside the fill
  EXPECT_EQ(target.BitmapCanvas().PixelColour(30, 10), 0xFFFFFFu);
}

}  // namespace
}  // namespace tolvane
