// Reading metafiles: which kind a file holds, the picture's size, and the
// headers that are refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MetafileWriters.h"
#include "picture/ByteOrder.h"
#include "picture/Graphics.h"

namespace tolvane {
namespace {

using test::Cat;
using test::FarPad;
using test::Fields;
using test::Pad;
using test::Padded;
using test::Put32;
using test::TEmfWriter;
using test::TWmfWriter;
using test::Words;

std::unique_ptr<TMetafile> Load(const std::vector<uint8_t>& bytes) {
  auto metafile = std::make_unique<TMetafile>();
  TMemoryStream stream(bytes);
  metafile->LoadStream(stream);
  return metafile;
}

void ExpectInvalid(const std::vector<uint8_t>& bytes, const char* what) {
  SCOPED_TRACE(what);
  try {
    Load(bytes);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Metafile is not valid");
  }
}

TEST(MetafileLoad, EnhancedSizeComesFromFrame) {
  std::vector<uint8_t> bytes = TEmfWriter(0, 0, 5080, 2540).Finish();
  const size_t length = bytes.size();
  bytes.insert(bytes.end(), {1, 2, 3, 4});  // bytes after the metafile are not part of it
  auto m = Load(bytes);
  EXPECT_EQ(m->Kind(), TMetafileKind::mkEnhanced);
  EXPECT_EQ(m->ImageWidth(), 192);
  EXPECT_EQ(m->ImageHeight(), 96);
  EXPECT_EQ(m->UnitsPerInch(), 2540);
  EXPECT_EQ(m->Data().size(), length);
  EXPECT_FALSE(m->IsBlank());
  // Rounded to the nearest pixel: 1000 / 2540 inch is 37.8 pixels.
  EXPECT_EQ(Load(TEmfWriter(0, 0, 1000, 1000).Finish())->ImageWidth(), 38);
}

TEST(MetafileLoad, EnhancedWithoutFrameTakesDrawnBounds) {
  std::vector<uint8_t> bytes = TEmfWriter(0, 0, 0, 0).Finish();
  test::SetU32(bytes, 16, 99);  // bounds (0, 0) to (99, 49), both edges inside
  test::SetU32(bytes, 20, 49);
  auto m = Load(bytes);
  EXPECT_EQ(m->ImageWidth(), 100);
  EXPECT_EQ(m->ImageHeight(), 50);
  // Extreme bounds and device metrics: refused as too large, no overflow.
  test::SetU32(bytes, 16, 0x7FFFFFFE);
  test::SetU32(bytes, 72, 1);
  test::SetU32(bytes, 80, 0x7FFFFFFF);
  ExpectInvalid(bytes, "bounds scaled past 64 bits");
}

TEST(MetafileLoad, WindowsMetafileSizes) {
  auto placeable = Load(TWmfWriter(true, 0, 0, 2880, 720, 1440).Finish());
  EXPECT_EQ(placeable->Kind(), TMetafileKind::mkPlaceable);
  EXPECT_EQ(placeable->ImageWidth(), 192);
  EXPECT_EQ(placeable->ImageHeight(), 48);

  auto plain = Load(TWmfWriter(false).Add(0x020B, {-5, 10}).Add(0x020C, {-100, 200}).Finish());
  EXPECT_EQ(plain->Kind(), TMetafileKind::mkPlain);
  EXPECT_EQ(plain->Frame(), Rect(10, -5, 210, -105));
  EXPECT_EQ(plain->ImageWidth(), 200);
  EXPECT_EQ(plain->ImageHeight(), 100);

  auto noWindow = Load(TWmfWriter(false).Add(0x041B, {10, 10, 0, 0}).Finish());
  EXPECT_EQ(noWindow->ImageWidth(), 0);
  EXPECT_EQ(noWindow->ImageHeight(), 0);
}

TEST(MetafileLoad, KindIsToldByContentNotExtension) {
  std::vector<uint8_t> wmf = TWmfWriter(true, 0, 0, 96, 48).Finish();
  std::string name = ::testing::TempDir() + "metafile_kind.emf";
  {
    TFileStream out(name, fmCreate);
    out.WriteExact(wmf.data(), wmf.size());
  }
  TPicture picture;
  picture.LoadPictureFile(name);
  ASSERT_TRUE(picture.CurrentGraphic()->Is<TMetafile>());
  EXPECT_EQ(static_cast<TMetafile*>(picture.CurrentGraphic())->Kind(), TMetafileKind::mkPlaceable);
  EXPECT_EQ(picture.PictureWidth(), 96);
  std::remove(name.c_str());
}

TEST(MetafileLoad, SaveWritesTheMetafileBackAndCopiesShareIt) {
  std::vector<uint8_t> bytes = TWmfWriter(true, 0, 0, 96, 48).Add(0x041B, {10, 10, 0, 0}).Finish();
  auto m = Load(bytes);
  TMemoryStream out;
  m->SaveStream(out);
  EXPECT_EQ(out.Data(), bytes);
  TMetafile copy;
  copy.CopyFrom(m.get());
  EXPECT_EQ(copy.Data(), bytes);
  EXPECT_EQ(copy.ImageWidth(), 96);
  EXPECT_TRUE(copy.SameContent(m.get()));
  copy.CopyFrom(nullptr);
  EXPECT_TRUE(copy.IsBlank());
}

TEST(MetafileLoad, RefusesWhatIsNoMetafile) {
  ExpectInvalid({}, "empty");
  ExpectInvalid(std::vector<uint8_t>(200, 'x'), "text");
  ExpectInvalid({'B', 'M', 0, 0, 0, 0, 0, 0}, "bitmap");

  std::vector<uint8_t> emf = TEmfWriter(0, 0, 2540, 2540).Finish();
  std::vector<uint8_t> bad = emf;
  bad[40] = 'X';
  ExpectInvalid(bad, "signature");
  bad = emf;
  test::SetU32(bad, 4, 80);
  ExpectInvalid(bad, "header shorter than its fields");
  bad = emf;
  test::SetU32(bad, 4, static_cast<uint32_t>(emf.size() + 4));
  ExpectInvalid(bad, "header longer than the file");
  ExpectInvalid(std::vector<uint8_t>(emf.begin(), emf.end() - 4), "truncated");
  ExpectInvalid(std::vector<uint8_t>(emf.begin(), emf.begin() + 60), "truncated header");
  ExpectInvalid(TEmfWriter(0, 0, 2000000000, 2000000000).Finish(), "frame past the size limit");

  std::vector<uint8_t> wmf = TWmfWriter(true, 0, 0, 96, 96).Finish();
  bad = wmf;
  bad[0] ^= 1;
  ExpectInvalid(bad, "placeable key");
  bad = wmf;
  bad[20] ^= 1;
  ExpectInvalid(bad, "placeable checksum");
  ExpectInvalid(TWmfWriter(true, 0, 0, 96, 96, 0).Finish(), "zero units per inch");
  bad = wmf;
  bad[24] = 8;  // header size in words
  ExpectInvalid(bad, "placeable header followed by no metafile header");
  ExpectInvalid(std::vector<uint8_t>(wmf.begin(), wmf.begin() + 30), "truncated placeable");

  std::vector<uint8_t> plain = TWmfWriter(false).Finish();
  bad = plain;
  bad[0] = 3;
  ExpectInvalid(bad, "plain type");
  bad = plain;
  test::SetU32(bad, 6, 8);  // fewer words than the header
  ExpectInvalid(bad, "plain size");
}

TEST(MetafileLoad, ShortWindowsMetafileKeepsWhatIsThere) {
  // Writers disagree on whether the size counts the placeable header: a
  // file shorter than its size field still loads.
  std::vector<uint8_t> wmf = TWmfWriter(true, 0, 0, 96, 96).Add(0x041B, {10, 10, 0, 0}).Finish();
  test::SetU32(wmf, 22 + 6, static_cast<uint32_t>(wmf.size()));
  auto m = Load(wmf);
  EXPECT_EQ(m->Data().size(), wmf.size());
}

// The sizes of the records from at on; they must tile the data up to the
// end-of-file record, which must end it.
std::vector<uint64_t> RecordSizes(const std::vector<uint8_t>& data, size_t at, bool enhanced) {
  std::vector<uint64_t> sizes;
  while (at < data.size()) {
    const uint64_t size = enhanced ? LoadLE32(data.data() + at + 4) : uint64_t{LoadLE32(data.data() + at)} * 2;
    const bool last = enhanced ? LoadLE32(data.data() + at) == 14 : LoadLE16(data.data() + at + 4) == 0;
    sizes.push_back(size);
    at += static_cast<size_t>(size);
    if (last) break;
  }
  EXPECT_EQ(at, data.size());
  return sizes;
}

std::vector<uint8_t> Saved(TMetafile& m) {
  TMemoryStream out;
  m.SaveStream(out);
  return out.Data();
}

TEST(MetafileLoad, LongEnhancedRecordsKeepWhatCanBeDrawnAndStayAMetafile) {
  std::vector<uint8_t> points = Fields({0, 0, -1, -1, 20000});
  points.resize(points.size() + 160000, 0x11);  // all of them drawn
  const std::vector<uint8_t> dib = test::Dib2x2();
  const std::vector<uint8_t> stretch =
      Cat(Fields({0, 0, -1, -1, 0, 0, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 192, 96}), dib);
  const std::vector<uint8_t> bytes =
      TEmfWriter(0, 0, 2540, 2540)
          .AddRaw(70, Cat(Fields({Pad}), Padded({})))  // a comment
          .AddRaw(4, points)
          .AddRaw(81, Put32(Padded(stretch), 52, 16 + Pad))  // bits that claim the padding
          .AddRaw(81, Put32(Put32(Padded(stretch, FarPad, 72), 40, 80 + FarPad), 48, 120 + FarPad))
          .Finish();
  auto m = Load(bytes);
  const std::vector<uint8_t>& kept = m->Data();
  // The comment's first 64 KiB, every point, the bits with 64 KiB to spare,
  // and the far bitmap moved behind the first 64 KiB of its record.
  EXPECT_EQ(RecordSizes(kept, 108, true), (std::vector<uint64_t>{65536, 160028, 65672, 65592, 20}));
  EXPECT_EQ(LoadLE32(kept.data() + 48), kept.size());
  EXPECT_EQ(LoadLE32(kept.data() + 52), LoadLE32(bytes.data() + 52));
  EXPECT_EQ(LoadLE32(kept.data() + 108 + 65536 + 160028 + 60), 16u + 65536u);
  const size_t far = 108 + 65536 + 160028 + 65672;
  EXPECT_EQ(LoadLE32(kept.data() + far + 48), 65536u);
  EXPECT_EQ(LoadLE32(kept.data() + far + 56), 65576u);
  EXPECT_EQ(std::vector<uint8_t>(kept.begin() + far + 65536, kept.begin() + far + 65592), dib);
  // Saved and loaded again, the kept bytes are kept as they are.
  EXPECT_EQ(Load(Saved(*m))->Data(), kept);
}

TEST(MetafileLoad, LongWindowsRecordsKeepWhatCanBeDrawnAndStayAMetafile) {
  // An old bitmap of four 2-pixel rows, each padded to 30000 bytes.
  std::vector<uint8_t> wide = Words({0x0020, 0x00CC, 4, 2, 0, 0, 80, 160, 0, 0, 0, 2, 4, 30000, 0x0101});
  wide.resize(wide.size() + 4 * 30000, 0x80);
  std::vector<uint8_t> bytes = TWmfWriter(true, 0, 0, 96, 48)
                                   .AddRaw(0x0626, Padded(Words({15, 0})))  // an escape
                                   .AddRaw(0x0B23, wide)
                                   .Add(0x041B, {10, 10, 0, 0})
                                   .Finish();
  test::SetU32(bytes, 22 + 12, 70000);  // the largest record, in words
  auto m = Load(bytes);
  const std::vector<uint8_t>& kept = m->Data();
  EXPECT_EQ(RecordSizes(kept, 40, false), (std::vector<uint64_t>{65536, 44, 14, 6}));
  EXPECT_EQ(LoadLE16(kept.data() + 40 + 65536 + 32), 2u) << "row width";
  EXPECT_EQ(uint64_t{LoadLE32(kept.data() + 22 + 6)} * 2, kept.size() - 22);
  EXPECT_EQ(LoadLE32(kept.data() + 22 + 12), 32768u);
  EXPECT_EQ(Load(Saved(*m))->Data(), kept);
}

TEST(MetafileLoad, LongEnhancedHeaderKeepsItsFieldsAndWhatFitsOfItsDescription) {
  const std::vector<uint8_t> plain = TEmfWriter(0, 0, 5080, 2540).Add(43, {0, 0, 10, 10}).Finish();
  std::vector<uint8_t> described = Padded(plain, Pad, 108);
  for (auto [at, value] : {std::pair<size_t, uint64_t>{4, 108 + Pad}, {48, plain.size() + Pad}, {60, Pad / 2}, {64, 108},
                           {88, 40}, {92, 108 + Pad - 40}})
    described = Put32(described, at, value);
  auto m = Load(described);
  const std::vector<uint8_t>& kept = m->Data();
  EXPECT_EQ(kept.size(), plain.size() - 108 + 65536);
  EXPECT_EQ(LoadLE32(kept.data() + 4), 65536u);
  EXPECT_EQ(LoadLE32(kept.data() + 48), kept.size());
  EXPECT_EQ(LoadLE32(kept.data() + 60), (65536u - 108) / 2);
  EXPECT_EQ(LoadLE32(kept.data() + 64), 108u);
  EXPECT_EQ(LoadLE32(kept.data() + 88), 0u) << "pixel format past what is kept";
  EXPECT_EQ(LoadLE32(kept.data() + 92), 0u);
  EXPECT_EQ(m->ImageWidth(), 192);
  EXPECT_EQ(std::vector<uint8_t>(kept.begin() + 65536, kept.end()), std::vector<uint8_t>(plain.begin() + 108, plain.end()));
}

}  // namespace
}  // namespace tolvane
