// The reader base class through a small reader of the tests' own, the shared
// routines, the library's texts and the registration list.
#include "graphics/GraphicFormats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "graphics/GraphicStrings.h"
#include "picture/Jpeg.h"

namespace tolvane {
namespace {

namespace S = GraphicStrings;
using Bytes = std::vector<uint8_t>;

// "TST1", width and height (16-bit little-endian), scheme, bits per sample,
// samples per pixel, flags (1 big-endian, 2 alpha, 4 min-is-white), the
// pixel data's offset from the image's start (32-bit) and the gamma x 1000
// (0: none); rows follow at the offset.
class TTestGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TTestGraphic)
public:
  static bool ProbeStream(TStream& stream) {
    const int64_t start = stream.Position();
    char magic[4] = {};
    const bool found = stream.Read(magic, 4) == 4 && std::memcmp(magic, "TST1", 4) == 0;
    stream.SetPosition(start);
    return found;
  }

  bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override {
    TFormatGraphic::ReadImageInfo(stream, imageIndex);
    stream.SetPosition(BasePosition);
    uint8_t h[20] = {};
    if (stream.Read(h, sizeof h) != sizeof h || std::memcmp(h, "TST1", 4) != 0) return false;
    TImageProperties& p = ImageProperties;
    p.Width = h[4] | h[5] << 8;
    p.Height = h[6] | h[7] << 8;
    p.ColorScheme = static_cast<TColorSchemeKind>(h[8]);
    p.BitsPerSample = h[9];
    p.SamplesPerPixel = h[10];
    p.BitsPerPixel = static_cast<uint8_t>(h[9] * h[10]);
    p.Options = static_cast<TImageOptions>((h[11] & 1 ? optBigEndian : 0) | (h[11] & 4 ? optMinIsWhite : 0));
    p.HasAlpha = h[11] & 2;
    FPixelOffset = h[12] | h[13] << 8 | h[14] << 16 | static_cast<uint32_t>(h[15]) << 24;
    FGamma = static_cast<float>(h[16] | h[17] << 8) / 1000.0f;
    p.Compression = icNone;
    return imageIndex == 0;
  }

  void LoadStream(TStream& stream) override {
    TLoadFrame frame(*this, stream);
    if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphicFmt(S::SInvalidImage, {"TST"});
    CheckImageSize("TST", pl32Bit);
    SeenStream = SourceStream;
    const TImageProperties& p = ImageProperties;
    StartProgress(static_cast<int32_t>(p.Width));
    SetUpColorManager(FGamma);
    SetPixelLayout(ColorManager.PixelFormatFor(1));
    ResizeWidth(static_cast<int32_t>(p.Width));
    ResizeHeight(static_cast<int32_t>(p.Height));
    if (p.ColorScheme == ckGrey) AssignPalette(ColorManager.GreyPalette(p.Options & optMinIsWhite));
    NextStage(S::STransfering);
    stream.SetPosition(BasePosition + FPixelOffset);
    Bytes row((p.Width * p.BitsPerPixel + 7) / 8);
    for (uint32_t y = 0; y < p.Height; ++y) {
      stream.ReadExact(row.data(), row.size());
      ColorManager.ConvertRow(row, RowPointer(static_cast<int32_t>(y)), p.Width, 0xFF);
      RowDone(y + 1);
    }
    EndProgress();
  }

  using TFormatGraphic::RowDone;
  TStream* SeenStream = nullptr;

private:
  uint32_t FPixelOffset = 0;
  float FGamma = 0;
};
TOLVANE_DEFINE_FORMAT_CLASS(TTestGraphic, TFormatGraphic)

// A reader whose probe fails loudly.
class TFailingProbeGraphic : public TFormatGraphic {
  TOLVANE_FORMAT_CLASS(TFailingProbeGraphic)
public:
  static bool ProbeStream(TStream&) { throw EReadError(SysConst::SReadError); }
};
TOLVANE_DEFINE_FORMAT_CLASS(TFailingProbeGraphic, TFormatGraphic)

Bytes TestImage(uint16_t width, uint16_t height, TColorSchemeKind scheme, uint8_t bits, uint8_t samples,
                uint8_t flags, const Bytes& pixels, uint32_t offset = 20, uint16_t gamma = 0) {
  Bytes file = {'T', 'S', 'T', '1', static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
                static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8), scheme, bits, samples, flags,
                static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset >> 16),
                static_cast<uint8_t>(offset >> 24), static_cast<uint8_t>(gamma), static_cast<uint8_t>(gamma >> 8),
                0, 0};
  file.resize(offset, 0);
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

struct TProgressReport {
  TProgressStage Stage;
  int Percent;
  bool Redraw;
  TRect R;
  std::string Msg;
};

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "";
}

TEST(FormatGraphic, LoadFrameReportsEveryStageAndRow) {
  TTestGraphic g;
  std::vector<TProgressReport> reports;
  g.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                     const std::string& msg) {
    EXPECT_EQ(sender, &g);
    reports.push_back({stage, percent, redraw, r, msg});
  };
  TMemoryStream stream(TestImage(2, 3, ckRGB, 8, 3, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  g.LoadStream(stream);

  using enum TProgressStage;
  const std::vector<std::tuple<TProgressStage, int, bool, int, std::string>> expected = {
      {psStarting, 0, false, 0, "Preparing..."}, {psEnding, 0, false, 0, ""},
      {psStarting, 0, false, 0, "Transfering..."}, {psRunning, 33, true, 0, ""},
      {psRunning, 67, true, 1, ""}, {psRunning, 100, true, 2, ""}, {psEnding, 0, false, 3, ""}};
  ASSERT_EQ(reports.size(), expected.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    const auto& [stage, percent, redraw, top, msg] = expected[i];
    EXPECT_EQ(reports[i].Stage, stage) << i;
    EXPECT_EQ(reports[i].Percent, percent) << i;
    EXPECT_EQ(reports[i].Redraw, redraw) << i;
    EXPECT_EQ(reports[i].R, Rect(0, top, 2, top + 1)) << i;
    EXPECT_EQ(reports[i].Msg, msg) << i;
  }
  // Blue-green-red rows out of red-green-blue samples.
  EXPECT_EQ(g.PixelLayoutOf(), pl24Bit);
  EXPECT_EQ(g.PixelColor(1, 2), RGBColor(16, 17, 18));
  EXPECT_EQ(g.SeenStream, &stream);
  EXPECT_EQ(g.SourceStream, nullptr);
}

TEST(FormatGraphic, ProgressPercentIsComputedIn64Bits) {
  TTestGraphic g;
  int percent = -1;
  g.OnProgress = [&](TObject*, TProgressStage, uint8_t p, bool, const TRect&, const std::string&) { percent = p; };
  g.ImageProperties.Height = 50'000'000;
  g.RowDone(40'000'000);
  EXPECT_EQ(percent, 80);
  g.RowDone(49'999'999);
  EXPECT_EQ(percent, 100);
  g.RowDone(249'999);
  EXPECT_EQ(percent, 0);
  g.RowDone(250'000);
  EXPECT_EQ(percent, 1);  // exactly half rounds up
}

TEST(FormatGraphic, OffsetsAreTakenFromWhereTheImageStarts) {
  Bytes data(1000, 0xAB);
  const Bytes image = TestImage(1, 1, ckRGB, 8, 3, 0, {10, 20, 30}, 100);
  data.insert(data.end(), image.begin(), image.end());
  TMemoryStream stream(data);
  stream.SetPosition(1000);
  TTestGraphic g;
  g.LoadStream(stream);
  EXPECT_EQ(g.BasePosition, 1000);
  EXPECT_EQ(g.PixelColor(0, 0), RGBColor(10, 20, 30));

  // On its own, ReadImageInfo reads at the stream's position.
  TTestGraphic info;
  stream.SetPosition(1000);
  EXPECT_TRUE(info.ReadImageInfo(stream, 0));
  EXPECT_EQ(info.BasePosition, 1000);
  EXPECT_EQ(info.ImageProperties.Width, 1u);
  EXPECT_FALSE(info.ReadImageInfo(stream, 1));
}

TEST(FormatGraphic, RejectedHeadersRaiseTheFormatMessage) {
  const std::string invalid = "EInvalidGraphic: Cannot load image. Invalid or unexpected TST image format.";
  TTestGraphic g;
  TMemoryStream junk(Bytes(40, 'x'));
  EXPECT_EQ(MessageOf([&] { g.LoadStream(junk); }), invalid);
  EXPECT_EQ(g.SourceStream, nullptr);
  // 20000 x 20000 pixels pass no bitmap's limit; nothing is sized first.
  TMemoryStream huge(TestImage(20000, 20000, ckRGB, 8, 3, 0, {}));
  EXPECT_EQ(MessageOf([&] { g.LoadStream(huge); }), invalid);
  EXPECT_TRUE(g.IsBlank());
  // Short pixel data: the stream's error, the frame still closed.
  TMemoryStream shortData(TestImage(4, 4, ckRGB, 8, 3, 0, {1, 2, 3}));
  EXPECT_EQ(MessageOf([&] { g.LoadStream(shortData); }), "EReadError: Stream read error");
  EXPECT_EQ(g.SourceStream, nullptr);
  // Colour manager errors pass through unchanged.
  TMemoryStream badDepth(TestImage(1, 1, ckRGB, 0, 3, 0, {1}));
  EXPECT_EQ(MessageOf([&] { g.LoadStream(badDepth); }),
            "EColorConversionError: Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
}

TEST(FormatGraphic, ColourSetUpFollowsTheImage) {
  // 16-bit big-endian grey, min-is-white: an 8-bit grey target with a
  // reversed palette and swapped samples.
  TTestGraphic g;
  TMemoryStream grey(TestImage(2, 1, ckGrey, 16, 1, 1 | 4, {0x12, 0x34, 0xFF, 0xFF}));
  g.LoadStream(grey);
  EXPECT_EQ(g.PixelLayoutOf(), pl8Bit);
  EXPECT_EQ(g.RowPointer(0)[0], 0x12);
  EXPECT_EQ(g.RowPointer(0)[1], 0xFF);
  EXPECT_EQ(g.PixelColor(0, 0), RGBColor(255 - 0x12, 255 - 0x12, 255 - 0x12));

  // Alpha gives a four-sample target; a file gamma goes through the table.
  TMemoryStream alpha(TestImage(1, 1, ckRGBA, 8, 4, 2, {0, 128, 255, 7}, 20, 2200));
  g.LoadStream(alpha);
  EXPECT_EQ(g.PixelLayoutOf(), pl32Bit);
  EXPECT_TRUE(g.ImageProperties.Options & optFileGamma);
  EXPECT_EQ(g.ColorManager.ImageGamma(), 2.2f);
  const uint8_t* px = g.RowPointer(0);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], g.ColorManager.GammaTable()[128]);
  EXPECT_EQ(px[2], 0);
  EXPECT_EQ(px[3], 7);
}

TEST(FormatGraphic, ImagePropertiesAreZeroUntilReadAndClearedByTheBase) {
  TTestGraphic g;
  EXPECT_EQ(g.ImageProperties.Gamma, 0.0f);
  EXPECT_EQ(g.ImageProperties.Width, 0u);
  g.ImageProperties.Width = 7;
  g.ImageProperties.RowsPerStrip = {1, 2, 3};
  g.ImageProperties.JpegTables = {9};
  TMemoryStream empty;
  EXPECT_FALSE(g.TFormatGraphic::ReadImageInfo(empty, 0));
  EXPECT_EQ(g.ImageProperties.Gamma, 1.0f);
  EXPECT_EQ(g.ImageProperties.Width, 0u);
  EXPECT_TRUE(g.ImageProperties.RowsPerStrip.empty());
  EXPECT_TRUE(g.ImageProperties.JpegTables.empty());
}

TEST(FormatGraphic, CopyFromTakesThePropertiesOfFormatGraphicsOnly) {
  TTestGraphic source;
  TMemoryStream stream(TestImage(2, 2, ckRGB, 8, 3, 0, Bytes(12, 50)));
  source.LoadStream(stream);
  source.ImageProperties.RowsPerStrip = {4, 5};
  source.ImageProperties.YCbCrSubsampling = {2, 1};

  TFormatGraphic target;
  target.CopyFrom(&source);
  EXPECT_EQ(target.ImageProperties.Width, 2u);
  EXPECT_EQ(target.ImageProperties.RowsPerStrip, (TCardinalArray{4, 5}));
  EXPECT_EQ(target.ImageProperties.YCbCrSubsampling, (TByteArray{2, 1}));
  EXPECT_EQ(target.ImageWidth(), 2);
  EXPECT_EQ(&target.Image(), &source.Image());  // the image is shared

  TBitmap plain;
  plain.SetPixelLayout(pl24Bit);
  plain.ResizeWidth(5);
  plain.ResizeHeight(1);
  target.CopyFrom(&plain);
  EXPECT_EQ(target.ImageProperties.Width, 2u);
  EXPECT_EQ(target.ImageProperties.RowsPerStrip, (TCardinalArray{4, 5}));
  EXPECT_EQ(target.ImageWidth(), 5);
}

size_t OpenFiles() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

TEST(FormatGraphic, ProbesAreClassLevelAndCloseTheirFiles) {
  const std::string name = testing::TempDir() + "probe.tst";
  TMemoryStream(TestImage(1, 1, ckRGB, 8, 3, 0, {1, 2, 3})).SaveToFile(name);
  const size_t before = OpenFiles();

  TMemoryStream stream(TestImage(1, 1, ckRGB, 8, 3, 0, {1, 2, 3}));
  stream.SetPosition(0);
  const TFormatGraphicClassInfo& cls = TTestGraphic::StaticClass();
  EXPECT_TRUE(cls.ProbeStream(stream));
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_TRUE(cls.ProbeFile(name));
  EXPECT_FALSE(TFormatGraphic::StaticClass().ProbeFile(name));
  EXPECT_EQ(MessageOf([&] { TFailingProbeGraphic::StaticClass().ProbeFile(name); }),
            "EReadError: Stream read error");
  EXPECT_EQ(MessageOf([&] { cls.ProbeFile(name + ".missing"); }).rfind("EFOpenError: Cannot open file \"", 0), 0u);
  EXPECT_EQ(OpenFiles(), before);
  std::filesystem::remove(name);

  // The class record makes graphics of the class.
  std::unique_ptr<TGraphic> made = TGraphic::ConstructEmpty(&cls);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->ClassName(), "TTestGraphic");
  EXPECT_TRUE(made->Is<TFormatGraphic>());
}

TEST(SharedRoutines, RaiseInvalidGraphic) {
  EXPECT_EQ(MessageOf([] { RaiseInvalidGraphic("plain"); }), "EInvalidGraphic: plain");
  EXPECT_EQ(MessageOf([] { RaiseInvalidGraphicFmt(S::SInvalidColorFormat, {"PCX"}); }),
            "EInvalidGraphic: Invalid color format in PCX file.");
  EXPECT_EQ(MessageOf([] { RaiseInvalidGraphicFmt(S::SUnsupportedFeature, {S::SCompressionScheme, S::SFormatTIFF}); }),
            "EInvalidGraphic: Cannot load image. The compression scheme is not supported for TIF/TIFF files.");
}

TEST(SharedRoutines, UpsamplePlane2x) {
  Bytes plane = {10, 20, 0, 0, 0, 30, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // stride 5
  UpsamplePlane2x(2, 2, 5, plane);
  EXPECT_EQ(plane, (Bytes{10, 15, 20, 20, 0, 20, 25, 30, 30, 0, 30, 35, 40, 40, 0, 30, 35, 40, 40, 0}));

  // 3 x 2 in a tight plane: the interior odd columns average four samples.
  Bytes tight = {0, 100, 255, 0, 0, 0, 50, 60, 70};
  tight.resize(24);
  UpsamplePlane2x(3, 2, 6, tight);
  EXPECT_EQ(Bytes(tight.begin(), tight.begin() + 6), (Bytes{0, 50, 100, 178, 255, 255}));
  EXPECT_EQ(Bytes(tight.begin() + 12, tight.begin() + 18), (Bytes{50, 55, 60, 65, 70, 70}));
  EXPECT_EQ(Bytes(tight.begin() + 6, tight.begin() + 12), (Bytes{25, 53, 80, 121, 163, 163}));

  // Too small a plane, or too narrow a stride, is left alone.
  Bytes small = {10, 20, 0, 0, 30, 40, 0};
  UpsamplePlane2x(2, 2, 3, small);
  EXPECT_EQ(small, (Bytes{10, 20, 0, 0, 30, 40, 0}));
  UpsamplePlane2x(1, 2, 4, small);
  EXPECT_EQ(small, (Bytes{10, 20, 0, 0, 30, 40, 0}));
}

TEST(SharedRoutines, ByteSwapsAndPredictors) {
  uint8_t longs[9] = {0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4, 9};
  SwapLongs(longs + 0, 2);
  EXPECT_EQ(Bytes(longs, longs + 9), (Bytes{0x44, 0x33, 0x22, 0x11, 4, 3, 2, 1, 9}));
  SwapWords(longs + 1, 2);  // unaligned
  EXPECT_EQ(Bytes(longs, longs + 9), (Bytes{0x44, 0x22, 0x33, 4, 0x11, 3, 2, 1, 9}));
  SwapWords(longs, 0);
  EXPECT_EQ(longs[0], 0x44);
  static_assert(SwapLong(0x11223344u) == 0x44332211u);

  Bytes rgb = {10, 20, 30, 1, 2, 3, 250, 0, 1};
  UndoPredictor24(rgb.data(), 2);
  EXPECT_EQ(rgb, (Bytes{10, 20, 30, 11, 22, 33, 5, 22, 34}));
  Bytes grey = {5, 1, 255, 3};
  UndoPredictor8(grey.data(), 3);
  EXPECT_EQ(grey, (Bytes{5, 6, 5, 8}));
  Bytes rgba = {1, 2, 3, 4, 1, 1, 1, 255};
  UndoPredictor32(rgba.data(), 1);
  EXPECT_EQ(rgba, (Bytes{1, 2, 3, 4, 2, 3, 4, 3}));
  UndoPredictor24(rgb.data(), 0);
  EXPECT_EQ(rgb[3], 11);
}

// ---- Registration list -------------------------------------------------------

// The whole start-up table: extension, class, and the description that the
// picture registry receives.
struct TTableRow {
  const char* Extension;
  const char* ClassName;
  const char* Description;
};
const TTableRow Table[] = {
    {"bmp", "TBitmap", "Windows bitmaps"},
    {"ico", "TIcon", "Windows icons"},
    {"wmf", "TMetafile", "Windows metafiles"},
    {"emf", "TMetafile", "Windows enhanced meta files"},
    {"jfif", "TJPEGImage", "JFIF images"},
    {"jpg", "TJPEGImage", "JPG images"},
    {"jpe", "TJPEGImage", "JPE images"},
    {"jpeg", "TJPEGImage", "JPEG images"},
    {"rle", "TBitmap", "Run length encoded Windows bitmaps"},
    {"dib", "TBitmap", "Device independant Windows bitmaps"},
    {"win", "TTargaGraphic", "Truevision images"},
    {"vst", "TTargaGraphic", "Truevision images"},
    {"vda", "TTargaGraphic", "Truevision images"},
    {"tga", "TTargaGraphic", "Truevision images"},
    {"icb", "TTargaGraphic", "Truevision images"},
    {"tiff", "TTIFFGraphic", "Macintosh TIFF images"},
    {"tif", "TTIFFGraphic", "PC TIF images"},
    {"fax", "TTIFFGraphic", "GFI fax images"},
    {"eps", "TEPSGraphic", "Encapsulated Postscript images"},
    {"pcx", "TPCXGraphic", "ZSoft Paintbrush images"},
    {"pcc", "TPCXGraphic", "ZSoft Paintbrush images"},
    {"scr", "TPCXGraphic", "Word 5.x screen capture images"},
    {"rpf", "TRLAGraphic", "Alias/Wavefront images"},
    {"rla", "TRLAGraphic", "Alias/Wavefront images"},
    {"sgi", "TSGIGraphic", "SGI true color images"},
    {"rgba", "TSGIGraphic", "SGI true color images with alpha"},
    {"rgb", "TSGIGraphic", "SGI true color images"},
    {"bw", "TSGIGraphic", "SGI black/white images"},
    {"psd", "TPSDGraphic", "Photoshop images"},
    {"pdd", "TPSDGraphic", "Photoshop images"},
    {"ppm", "TPPMGraphic", "Portable pixel map images"},
    {"pnm", "TPPMGraphic", "Portable pixel map images"},
    {"pgm", "TPPMGraphic", "Portable gray map images"},
    {"pbm", "TPPMGraphic", "Portable bitmap images"},
    {"cel", "TAutodeskGraphic", "Autodesk images"},
    {"pic", "TAutodeskGraphic", "Autodesk images"},
    {"pcd", "TPCDGraphic", "Kodak Photo-CD images"},
    {"gif", "TGIFGraphic", "CompuServe images"},
    {"cut", "TCUTGraphic", "Dr. Halo images"},
    {"psp", "TPSPGraphic", "Paintshop Pro images"},
    {"png", "TPNGGraphic", "Portable network graphic images"},
};

// The library's start-up and shutdown as the finder runs them: the JPEG
// unit registers before the library's table and is taken out after it.
void StartUp() {
  InitializeJpegUnit();
  RegisterAllFormats();
}
void ShutDown() {
  UnregisterAllFormats();
  FinalizeJpegUnit();
}

// Start-up and shutdown around each test.
class Registration : public testing::Test {
protected:
  void SetUp() override { StartUp(); }
  void TearDown() override { ShutDown(); }

  static TFileFormatList& List() { return *FileFormatList(); }
  static const TClassEntry& EntryOf(TGraphicClass cls) {
    return *List().ClassEntries().at(static_cast<size_t>(List().FindClassEntry(cls)));
  }
};

TEST_F(Registration, StartUpRegistersTheTableInOrder) {
  ASSERT_NE(FileFormatList(), nullptr);
  const auto& extensions = List().ExtensionEntries();
  // The library's registrations follow the JPEG unit's in the registry, in
  // table order; the framework's rows are always there, each reader's once
  // it is built.
  const auto& registry = TPicture::RegisteredFormats();
  ASSERT_GE(extensions.size(), 10u);
  size_t start = 0;
  while (start < registry.size() && registry[start].Description != "Windows bitmaps") ++start;
  ASSERT_LE(start + extensions.size(), registry.size());
  ASSERT_GE(start, 2u);
  EXPECT_EQ(registry[start - 2].Extension, "jpeg");
  EXPECT_EQ(registry[start - 1].Extension, "jpg");
  size_t row = 0;
  for (size_t i = 0; i < extensions.size(); ++i) {
    while (row < std::size(Table) && extensions[i]->Extension != Table[row].Extension) ++row;
    ASSERT_LT(row, std::size(Table)) << extensions[i]->Extension << " out of order";
    const TFileFormatEntry& entry = registry[start + i];
    EXPECT_EQ(entry.Extension, Table[row].Extension);
    EXPECT_EQ(entry.Description, Table[row].Description) << entry.Extension;
    EXPECT_STREQ(entry.GraphicClass->Name, Table[row].ClassName) << entry.Extension;
    EXPECT_EQ(extensions[i]->ClassEntry->GraphicClass, entry.GraphicClass);
  }
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(extensions[i]->Extension, Table[i].Extension);
}

TEST_F(Registration, ClassEntriesCountTheirExtensions) {
  EXPECT_EQ(EntryOf(&TBitmap::StaticClass()).Count, 3);
  EXPECT_EQ(EntryOf(&TBitmap::StaticClass()).Description, "Windows bitmaps");
  EXPECT_EQ(EntryOf(&TJPEGImage::StaticClass()).Count, 4);
  EXPECT_EQ(EntryOf(&TJPEGImage::StaticClass()).Description, "JPG images");
  EXPECT_EQ(EntryOf(&TMetafile::StaticClass()).Count, 2);
  EXPECT_EQ(List().ExtensionEntries()[List().FindExtension("emf")]->FormatKinds, fkVector);
  EXPECT_EQ(List().FindExtension("JPE"), List().FindExtension("jpe"));
  EXPECT_EQ(List().FindExtension(""), -1);
  EXPECT_EQ(TPicture::FindGraphicKind("RLE"), &TBitmap::StaticClass());
}

TEST_F(Registration, RegisteringTwiceIsRefusedAndChangesNothing) {
  const size_t extensions = List().ExtensionEntries().size();
  const size_t registry = TPicture::RegisteredFormats().size();
  EXPECT_EQ(MessageOf([] { FileFormatList()->RegisterFormat("BMP", "x", "", fkRaster, &TTestGraphic::StaticClass()); }),
            "EInvalidGraphic: Attempt to register BMP twice.");
  FileFormatList()->RegisterFormat("", "x", "", fkRaster, &TTestGraphic::StaticClass());
  EXPECT_EQ(List().ExtensionEntries().size(), extensions);
  EXPECT_EQ(TPicture::RegisteredFormats().size(), registry);
  EXPECT_EQ(List().FindClassEntry(&TTestGraphic::StaticClass()), -1);
}

TEST_F(Registration, ARegisteredReaderLoadsThroughThePicture) {
  List().RegisterFormat("tst", "Test images", "", fkRaster, &TTestGraphic::StaticClass());
  List().RegisterFormat("tst2", "", "Second test images", fkRaster, &TTestGraphic::StaticClass());
  List().RegisterFormat("tst3", "", "", fkRaster, &TTestGraphic::StaticClass());
  EXPECT_EQ(EntryOf(&TTestGraphic::StaticClass()).Count, 3);
  EXPECT_EQ(TPicture::RegisteredFormats().back().Description, "Test images");
  EXPECT_EQ(TPicture::RegisteredFormats()[TPicture::RegisteredFormats().size() - 2].Description,
            "Second test images");

  const std::string name = testing::TempDir() + "picture.TST";
  TMemoryStream(TestImage(3, 2, ckRGB, 8, 3, 0, Bytes(18, 9))).SaveToFile(name);
  TPicture picture;
  picture.LoadPictureFile(name);
  ASSERT_NE(picture.CurrentGraphic(), nullptr);
  EXPECT_EQ(picture.CurrentGraphic()->ClassName(), "TTestGraphic");
  EXPECT_EQ(picture.PictureWidth(), 3);
  std::filesystem::remove(name);

  // The last extension takes the class out of the picture registry.
  List().UnregisterFormat("tst", nullptr);
  List().UnregisterFormat("TST2", nullptr);
  EXPECT_EQ(TPicture::FindGraphicKind("tst3"), &TTestGraphic::StaticClass());
  List().UnregisterFormat("tst3", nullptr);
  EXPECT_EQ(TPicture::FindGraphicKind("tst3"), nullptr);
  EXPECT_EQ(List().FindClassEntry(&TTestGraphic::StaticClass()), -1);
}

TEST_F(Registration, UnregisteringExtensionsAndClasses) {
  List().UnregisterFormat("rle", &TBitmap::StaticClass());
  List().UnregisterFormat("dib", &TBitmap::StaticClass());
  EXPECT_EQ(EntryOf(&TBitmap::StaticClass()).Count, 1);
  EXPECT_EQ(TPicture::FindGraphicKind("bmp"), &TBitmap::StaticClass());
  List().UnregisterFormat("nosuch", &TBitmap::StaticClass());
  List().UnregisterFormat("", &TTestGraphic::StaticClass());  // never registered

  const size_t before = List().ExtensionEntries().size();
  List().UnregisterFormat("", &TMetafile::StaticClass());
  EXPECT_EQ(List().ExtensionEntries().size(), before - 2);
  EXPECT_EQ(List().FindClassEntry(&TMetafile::StaticClass()), -1);
  EXPECT_EQ(TPicture::FindGraphicKind("emf"), nullptr);
  EXPECT_EQ(TPicture::FindGraphicKind("wmf"), nullptr);
  EXPECT_EQ(List().FindExtension("wmf"), -1);
}

TEST(RegistrationLifecycle, ShutdownLeavesNoLibraryClassAndRunsOnce) {
  StartUp();
  RegisterAllFormats();  // counted: the matching shutdown only counts down
  UnregisterAllFormats();
  ASSERT_NE(FileFormatList(), nullptr);
  ShutDown();
  EXPECT_EQ(FileFormatList(), nullptr);
  for (const TFileFormatEntry& entry : TPicture::RegisteredFormats())
    ADD_FAILURE() << entry.Extension << " is still served by " << entry.GraphicClass->Name;
  UnregisterAllFormats();  // nothing left to do

  StartUp();  // and again from the start
  EXPECT_EQ(TPicture::FindGraphicKind("dib"), &TBitmap::StaticClass());
  ShutDown();
  EXPECT_TRUE(TPicture::RegisteredFormats().empty());
}

}  // namespace
}  // namespace tolvane
