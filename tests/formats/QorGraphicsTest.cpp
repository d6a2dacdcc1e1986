// The codec framework: registry order and lookups, TQorBitmap's choice of
// codec by extension and signature, TQorImage's kind and quality.
#include <gtest/gtest.h>

#include "AICTestSupport.h"
#include "formats/jp2_aic/AICEncoder.h"
#include "formats/jp2_aic/QorFileFormatAIC.h"
#include "formats/jp2_aic/QorFileFormatJP2.h"
#include "formats/jp2_aic/QorImage.h"

namespace tolvane {
namespace {

// A codec that records what it was asked to save.
class TRecordingCodec : public TQorBitmapFileFormat {
  TOLVANE_CLASS(TRecordingCodec)
public:
  void SaveStream(TStream& stream) override {
    TQorBitmapFileFormat::SaveStream(stream);
    Saves.push_back(Description + " " + std::to_string(Quality));
  }
  static inline std::vector<std::string> Saves;
};
TOLVANE_DEFINE_CREATABLE_CLASS(TRecordingCodec, TQorBitmapFileFormat)

class QorFramework : public ::testing::Test {
protected:
  void SetUp() override {
    InitializeCodecUnits();
    TRecordingCodec::Saves.clear();
  }
  void TearDown() override { FinalizeCodecUnits(); }
  void RecordJp2() { BitmapFileFormatList().Add("Recorded", ".jp2", "jP  ", 4, 1, &TRecordingCodec::StaticClass()); }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    TMemoryStream(bytes).SaveToFile(Dir / name);
    return Dir / name;
  }
  static std::vector<uint8_t> Bytes(int w, int h, bool aic) {
    TBitmap b;
    b.SetPixelLayout(pl24Bit);
    b.ResizeWidth(w);
    b.ResizeHeight(h);
    b.FillRect(Rect(0, 0, w, h), RGBColor(10, 120, 230));
    TMemoryStream s;
    if (aic) TAICEncoder::Encode(b, s, 90);
    else b.SaveStream(s);
    return s.Data();
  }

  testing::TScratchDir Dir;
};

TEST_F(QorFramework, RegistryOrderAndLookups) {
  const TQorBitmapFileFormatList& list = BitmapFileFormatList();
  ASSERT_EQ(list.Count(), 4u);
  const TClass aic = &TQorAICFileFormat::StaticClass(), jp2 = &TQorJP2FileFormat::StaticClass();
  const std::tuple<const char*, const char*, int, TClass> rows[] = {
      {".aic", "AIC", 0, aic}, {".jpc", "jP  ", 4, jp2}, {".jp2", "jP  ", 4, jp2}, {".bmp", "BM", 0, nullptr}};
  for (size_t i = 0; i < 4; ++i) {
    const auto& [ext, signature, offset, cls] = rows[i];
    EXPECT_EQ(list.Items(i).Extension, ext);
    EXPECT_EQ(list.Items(i).Signature, signature);
    EXPECT_EQ(list.Items(i).SignatureOffset, offset);
    EXPECT_EQ(list.Items(i).CodecClass, cls);
  }
  for (const char* ext : {"jp2", "jpc", "aic"}) EXPECT_EQ(TPicture::FindGraphicKind(ext), &TQorImage::StaticClass());

  std::string description = "stale";
  EXPECT_EQ(list.FindByExtension(".AiC", description), aic);
  EXPECT_EQ(description, "Advanced Image Coding");
  EXPECT_EQ(list.FindByExtension(".bmp", description), nullptr);
  EXPECT_EQ(description, "Windows Bitmap");
  EXPECT_EQ(list.FindBySignature("aicxxxxx", description), aic);
  EXPECT_EQ(list.FindBySignature(std::string("\0\0\0\x0cjP  ", 8), description), jp2);
  EXPECT_EQ(list.FindBySignature("BMxx", description), nullptr);
  EXPECT_EQ(description, "Windows Bitmap");
  EXPECT_EQ(list.FindBySignature("xxxxjP ", description), nullptr);  // bytes not read never match

  RecordJp2();  // the latest registration is found first
  EXPECT_EQ(list.FindByExtension(".JP2", description), &TRecordingCodec::StaticClass());
}

TEST_F(QorFramework, BitmapLoadsByExtensionThenSignature) {
  TQorBitmap bitmap;
  // An ".aic" name is read by the AIC codec whatever it holds.
  EXPECT_THROW(bitmap.LoadFile(Write("bmp-inside.aic", Bytes(3, 2, false))), EAICError);
  // Content decides for ".bmp" and names without a codec.
  bitmap.LoadFile(Write("aic-inside.bmp", Bytes(9, 7, true)));
  EXPECT_EQ(bitmap.ImageWidth(), 9);
  bitmap.LoadFile(Write("picture.bmp", Bytes(5, 4, false)));
  EXPECT_EQ(bitmap.ImageWidth(), 5);
  bitmap.LoadFile(Write("aic-inside.dat", Bytes(6, 2, true)));
  EXPECT_EQ(bitmap.ImageWidth(), 6);
  EXPECT_THROW(bitmap.LoadFile(Dir / "missing.aic"), EFOpenError);

  // JPEG 2000 by its signature at offset 4, refused with the codec's text.
  TMemoryStream jp2(std::vector<uint8_t>{0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10});
  try {
    bitmap.LoadStream(jp2);
    FAIL() << "JPEG 2000 accepted";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Internal error (TQorJP2FileFormat): Unable to decode image");
  }
  // The codec reads from the stream's position.
  TMemoryStream shifted;
  shifted.WriteByte(0xEE);
  const std::vector<uint8_t> aic = Bytes(4, 4, true);
  shifted.WriteExact(aic.data(), aic.size());
  shifted.SetPosition(1);
  bitmap.LoadStream(shifted);
  EXPECT_EQ(bitmap.ImageWidth(), 4);
}

TEST_F(QorFramework, BitmapSavesByExtension) {
  TQorBitmap bitmap;
  bitmap.SetPixelLayout(pl24Bit);
  bitmap.ResizeWidth(12);
  bitmap.ResizeHeight(5);
  bitmap.Quality = 33;
  bitmap.SaveFile(Dir / "out.AIC");
  std::vector<uint8_t> data = ReadFileBytes(Dir / "out.AIC");
  EXPECT_EQ(std::string(data.begin(), data.begin() + 3) + std::to_string(data[9]), "AIC33");
  bitmap.SaveFile(Dir / "out.bmp");
  EXPECT_EQ(ReadFileBytes(Dir / "out.bmp")[0], 'B');
  // ".jpc" targets get a JP2 file too.
  bitmap.SaveFile(Dir / "out.jpc");
  std::vector<uint8_t> jpc = ReadFileBytes(Dir / "out.jpc");
  EXPECT_EQ(std::string(jpc.begin() + 4, jpc.begin() + 8), "jP  ");
}

TEST_F(QorFramework, ImageKindAndQuality) {
  RecordJp2();
  TQorImage image;
  EXPECT_EQ(image.Kind, ikJPEG2000);
  image.LoadFile(Write("photo.aic", Bytes(9, 7, true)));
  EXPECT_EQ(image.Kind, ikAIC);
  EXPECT_EQ(image.ImageWidth(), 9);
  EXPECT_EQ(image.PixelLayoutOf(), pl24Bit);
  image.Quality = 300;  // only the low byte reaches the codec
  TMemoryStream aic;
  image.SaveStream(aic);
  EXPECT_EQ(aic.Data()[9], 44);

  // photo.AIC is read by the AIC codec but written back as JPEG 2000.
  image.LoadFile(Write("photo.AIC", Bytes(11, 3, true)));
  EXPECT_EQ(image.Kind, ikJPEG2000);
  image.SaveFile(Dir / "saved.aic");
  EXPECT_EQ(TRecordingCodec::Saves, std::vector<std::string>{"Recorded 44"});

  // A failed load keeps size, pixels and kind.
  image.LoadFile(Dir / "photo.aic");
  const TColor pixel = image.PixelColor(3, 3);
  EXPECT_THROW(image.LoadFile(Write("broken.aic", {'A', 'I', 'C', 99, 1, 0, 1, 0, 1, 50})), EAICError);
  EXPECT_EQ(image.Kind, ikAIC);
  EXPECT_EQ(image.ImageWidth(), 9);
  EXPECT_EQ(image.PixelColor(3, 3), pixel);

  TMemoryStream any;
  try {
    image.LoadStream(any);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.ClassName()) + ": " + e.what(), "Exception: Not supported!");
  }
  // Never loaded: JPEG 2000 at quality 75.
  TQorImage fresh;
  fresh.SaveStream(any);
  EXPECT_EQ(TRecordingCodec::Saves.back(), "Recorded 75");
}

TEST(QorCodecBase, GreyPalettesAndCopies) {
  HPALETTE ramp = TQorBitmapFileFormat::CreateGrayPalette();
  EXPECT_TRUE(TQorBitmapFileFormat::IsGrayPalette(ramp));
  EXPECT_FALSE(TQorBitmapFileFormat::IsGrayPalette(nullptr));
  std::vector<TPaletteEntry> entries = ramp->Entries;
  entries.pop_back();
  EXPECT_FALSE(TQorBitmapFileFormat::IsGrayPalette(CreatePalette(entries)));
  entries = ramp->Entries;
  entries[200].peBlue = 201;
  EXPECT_FALSE(TQorBitmapFileFormat::IsGrayPalette(CreatePalette(entries)));

  TBitmap source;
  source.SetPixelLayout(pl8Bit);
  source.ResizeWidth(3);
  auto codec = TQorBitmapFileFormat::Create(&TQorJP2FileFormat::StaticClass(), "JPEG 2000", source);
  EXPECT_EQ(codec->Get24BitCopy().PixelLayoutOf(), pl24Bit);
  EXPECT_EQ(source.PixelLayoutOf(), pl8Bit);
}

}  // namespace
}  // namespace tolvane
