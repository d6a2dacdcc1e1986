// The simple cursor graphic and the cursor loader on hand-made files.
#include <gtest/gtest.h>

#include <functional>

#include "formats/CURImage.h"
#include "tests/formats/CursorFiles.h"
#include "support/TempDir.h"

namespace tolvane {
namespace {

using test::Bytes;

test::TCursorSpec Checkers() {
  test::TCursorSpec s;
  s.Width = s.Height = 16;
  s.BitCount = 4;
  s.Palette = {0x000000, 0xFF0000, 0x0000FF};
  s.Palette.resize(16);
  for (int32_t i = 0; i < 256; ++i) {
    s.Pixels.push_back((i / 16 + i) % 2 ? 1u : 2u);
    s.Transparent.push_back(i < 16);  // the top row
  }
  return s;
}

TEST(CURImage, DrawsTheCursorOnWhite) {
  const test::TTempDir dir;
  const Bytes file = test::CursorFile(Checkers());
  test::WriteFile(dir / "a.cur", std::string(file.begin(), file.end()));
  TCURObject graphic;
  graphic.LoadFile(dir / "a.cur");
  EXPECT_EQ(graphic.ImageWidth(), 16);
  EXPECT_EQ(graphic.ImageHeight(), 16);
  EXPECT_EQ(graphic.Image().PixelLayoutOf(), pl24Bit);
  // Transparent pixels XOR the white below them.
  EXPECT_EQ(graphic.Image().PixelColor(0, 0), RGBColor(255, 255, 0));
  EXPECT_EQ(graphic.Image().PixelColor(1, 1), RGBColor(0, 0, 255));
  EXPECT_EQ(graphic.Image().PixelColor(0, 1), RGBColor(255, 0, 0));

  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(20);
  target.ResizeHeight(20);
  target.BitmapCanvas().StretchInto(Rect(4, 4, 8, 8), &graphic);
  EXPECT_EQ(target.PixelColor(1, 1), RGBColor(0, 0, 255));

  EXPECT_THROW(graphic.LoadFile(dir / "missing.cur"), Exception);
  test::WriteFile(dir / "junk.cur", std::string(50, 'x'));
  try {
    graphic.LoadFile(dir / "junk.cur");
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Invalid cursor");
  }
  TMemoryStream stream;
  for (auto op : std::vector<std::function<void()>>{[&] { graphic.IsBlank(); }, [&] { graphic.LoadStream(stream); },
                                                    [&] { graphic.SaveStream(stream); },
                                                    [&] { graphic.SaveFile(dir / "b.cur"); }}) {
    try {
      op();
      ADD_FAILURE();
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "Not supported");
    }
  }
  TCURObject copy;
  EXPECT_THROW(copy.CopyFrom(&graphic), EConvertError);
}

TEST(CURImage, LoaderReadsOnlyWhatTheDirectoryNames) {
  const Bytes file = test::CursorFile(Checkers());
  // Padding after the image is never read: the loader stops at its end.
  Bytes padded = file;
  padded.resize(file.size() + 100000, 0xEE);
  TMemoryStream stream(padded);
  TCursorHandle handle(LoadCursorFromStream(stream));
  ASSERT_NE(handle.Get(), 0u);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(file.size()));
  EXPECT_EQ(IconFromHandle(handle.Get())->Width, 16);

  // Nor when the entry claims the padding as its own: the image's bytes are
  // read, not the whole entry.
  Bytes claimed = padded;
  StoreLE32(&claimed[14], LoadLE32(&claimed[14]) + 100000);
  TMemoryStream claimedStream(claimed);
  TCursorHandle claimedHandle(LoadCursorFromStream(claimedStream));
  ASSERT_NE(claimedHandle.Get(), 0u);
  EXPECT_EQ(claimedStream.Position(), static_cast<int64_t>(file.size()));

  // A directory entry that claims gigabytes is skipped, not read.
  Bytes huge = file;
  StoreLE32(&huge[14], 0x7FFFFFFFu);
  TMemoryStream hugeStream(huge);
  EXPECT_EQ(LoadCursorFromStream(hugeStream), 0u);
}

}  // namespace
}  // namespace tolvane
