#include <gtest/gtest.h>

#include "picture/ByteOrder.h"
#include "picture/Graphics.h"

using namespace tolvane;

namespace {

// An uncompressed icon entry: info header, colour table (8 bits), pixels
// with a value per row and column, AND mask.
std::vector<uint8_t> Entry(int32_t size, uint16_t bpp) {
  std::vector<uint8_t> e;
  for (uint32_t v : {40u, static_cast<uint32_t>(size), static_cast<uint32_t>(2 * size)}) AppendLE32(e, v);
  AppendLE16(e, 1), AppendLE16(e, bpp);
  for (int i = 0; i < 6; ++i) AppendLE32(e, 0);
  if (bpp == 8)
    for (int i = 0; i < 256; ++i) e.insert(e.end(), {uint8_t(i), 0, uint8_t(255 - i), 0});
  const size_t row = RowSizeOf(size, bpp), mask = RowSizeOf(size, 1);
  for (int32_t y = 0; y < size; ++y)
    for (size_t x = 0; x < row; ++x) e.push_back(static_cast<uint8_t>(x * 7 + static_cast<size_t>(y)));
  e.resize(e.size() + mask * static_cast<size_t>(size), 0);
  return e;
}

std::vector<uint8_t> IconFile(const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> out;
  AppendLE16(out, 0), AppendLE16(out, 1), AppendLE16(out, static_cast<uint16_t>(entries.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
  for (const auto& e : entries) {
    out.insert(out.end(), {0, 0, 0, 0});
    AppendLE16(out, 1), AppendLE16(out, 32);
    AppendLE32(out, static_cast<uint32_t>(e.size())), AppendLE32(out, offset);
    offset += static_cast<uint32_t>(e.size());
  }
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

}  // namespace

TEST(Icon, ReadsTheChosenEntryAloneAndSavesIt) {
  const std::vector<uint8_t> small = Entry(16, 8), chosen = Entry(32, 32);
  std::vector<uint8_t> file = IconFile({small, chosen});
  const size_t iconBytes = file.size();
  file.resize(file.size() + 300000, 0);  // padding that is no part of any entry
  TMemoryStream stream(file);
  TIcon icon;
  icon.LoadStream(stream);
  ASSERT_EQ(icon.ImageWidth(), 32);
  EXPECT_LT(stream.Position(), static_cast<int64_t>(iconBytes) + 1);
  // What is saved is an icon of the entry shown, and loads as the same image.
  TMemoryStream saved;
  icon.SaveStream(saved);
  EXPECT_EQ(saved.Data().size(), 22 + chosen.size());
  saved.SetPosition(0);
  TIcon again;
  again.LoadStream(saved);
  EXPECT_EQ(again.IconImage()->XorBgra, icon.IconImage()->XorBgra);
  EXPECT_EQ(again.IconImage()->AndMask, icon.IconImage()->AndMask);
  // A 32-bit entry keeps its fourth byte as alpha; top row first.
  EXPECT_EQ(icon.IconImage()->XorBgra[3], static_cast<uint8_t>(3 * 7 + 31));
  // An 8-bit entry goes through its colour table.
  TMemoryStream smallStream(IconFile({small}));
  TIcon palette;
  palette.LoadStream(smallStream);
  const uint8_t index = static_cast<uint8_t>(15);  // top row, first pixel
  EXPECT_EQ(palette.IconImage()->XorBgra[0], index);
  EXPECT_EQ(palette.IconImage()->XorBgra[2], 255 - index);
}
