#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "app/ResultGrid.h"

namespace tolvane {
namespace {

using Cells = std::vector<std::string>;

// A grid whose rows 1.. hold the given cells.
TStringGrid GridWith(int32_t cols, const std::vector<Cells>& rows) {
  TStringGrid g(cols, static_cast<int32_t>(rows.size()) + 1);
  for (size_t r = 0; r < rows.size(); ++r) g.SetRowStrings(int32_t(r + 1), rows[r]);
  return g;
}

TEST(StringGrid, CountsFixedRowsAndCells) {
  TStringGrid g;
  EXPECT_EQ(g.ColCount() * 10 + g.RowCount(), 52);
  int changes = 0;
  g.OnChange = [&] { ++changes; };
  g.ChangeRowCount(2);
  g.ChangeColumnCount(0);
  g.ChangeRowCount(-3);
  EXPECT_EQ(g.ColCount() * 10 + g.RowCount(), 11);
  EXPECT_EQ(g.FixedRows(), 0);  // one row cannot keep a fixed header...
  g.ChangeRowCount(4);
  EXPECT_EQ(g.FixedRows(), 0);  // ...and it never comes back
  EXPECT_EQ(changes, 3);
  // Cells outside the grid read empty; shrinking drops cells for good.
  g.ChangeColumnCount(3);
  g.SetCellText(2, 2, "z");
  g.SetCellText(3, 1, "ignored");
  EXPECT_EQ(g.CellText(3, 1) + g.CellText(-1, 1) + g.CellText(0, 7), "");
  g.ChangeColumnCount(2);
  g.ChangeColumnCount(3);
  EXPECT_EQ(g.CellText(2, 2), "");
  // Rows as lines: empty lines become blanks, extra lines are dropped.
  g.SetRowStrings(1, {"a", "", "c", "dropped"});
  EXPECT_EQ(g.RowStrings(1), (Cells{"a", " ", "c"}));
  g.SetRowStrings(1, {});
  EXPECT_EQ(g.RowStrings(1), (Cells{"", "", ""}));
}

TEST(StringGrid, SelectionIsNormalisedAndChangesOnlyWhenItsCellsDo) {
  TStringGrid g(5, 4);
  int changes = 0;
  g.OnSelectionChange = [&] { ++changes; };
  g.SetSelectionRect({3, 2, 1, 1});
  EXPECT_EQ(g.SelectionRect(), (CellRange{1, 1, 3, 2}));
  EXPECT_EQ(g.Current(), (TGridCoord{1, 1}));
  g.SetSelectionRect({1, 1, 3, 2});
  EXPECT_EQ(changes, 1);
  // A size change collapses the selection onto the current cell, inside the grid.
  g.SetSelectionRect({1, 1, 4, 3});
  g.ChangeColumnCount(3);
  EXPECT_EQ(g.SelectionRect(), (CellRange{2, 3, 2, 3}));
  EXPECT_EQ(changes, 3);
  g.FocusCell(1, 0);  // the fixed row
  EXPECT_EQ(g.SelectionRect(), (CellRange{2, 3, 2, 3}));
}

// Runs the pairing as repaints would; returns the last previewed cell.
TGridCoord Settle(TStringGrid& g) {
  TGridCoord shown{-1, -1};
  SettleSelectionPair(g, [&](TGridCoord c) { shown = c; });
  return shown;
}

TEST(ResultGrid, PairingSettlesOnNeighbouringNames) {
  TStringGrid g = GridWith(5, {{"a", "b", "c"}, {"p", "q"}});
  const std::tuple<TGridCoord, TGridCoord> clicks[] = {
      {{0, 1}, {0, 1}},  // a name pairs with its right neighbour
      {{2, 1}, {1, 1}},  // the last filled column with its left neighbour
      {{4, 2}, {0, 2}},  // past the end: back to the row's last pair
  };
  for (auto [click, shown] : clicks) {
    g.FocusCell(click.X, click.Y);
    EXPECT_EQ(Settle(g), shown);
    EXPECT_EQ(g.SelectionRect(), (CellRange{shown.X, shown.Y, shown.X + 1, shown.Y}));
  }
  // The grid's last column: the pairing steps past the grid and back.
  TStringGrid full = GridWith(3, {{"a", "b", "c"}});
  full.FocusCell(2, 1);
  EXPECT_EQ(Settle(full), (TGridCoord{1, 1}));
  // A lone name would alternate for ever; the pairing gives up.
  TStringGrid lone = GridWith(3, {{"a"}});
  Settle(lone);
}

TEST(ResultGrid, SetAndDuplicateNavigation) {
  TStringGrid g = GridWith(3, {{"p", "q", "r"}, {"a", "b"}});
  Settle(g);
  const std::pair<void (*)(TStringGrid&), TGridCoord> steps[] = {
      {SelectNextDup, {1, 1}}, {SelectNextDup, {1, 1}}, {SelectPrevDup, {0, 1}}, {SelectPrevSet, {0, 1}},
      {SelectNextSet, {0, 2}}, {SelectNextSet, {0, 2}}, {SelectNextDup, {0, 2}},
  };
  for (auto [step, shown] : steps) {
    step(g);
    EXPECT_EQ(Settle(g), shown);
  }
  CollapseSelectionToLeft(g);
  EXPECT_EQ(g.SelectionRect(), (CellRange{0, 2, 0, 2}));
}

TEST(ResultGrid, DeleteCellShiftsAndMarksTheLastName) {
  TStringGrid g = GridWith(4, {{"a", "b"}, {"p", "q", "r"}});
  DeleteCell(g, 1, 1);
  EXPECT_EQ(g.RowStrings(1), (Cells{"a", "*", " ", " "}));
  DeleteCell(g, 1, 0);
  EXPECT_EQ(g.RowStrings(1), (Cells{"*", "*", " ", " "}));
  DeleteCell(g, 2, 0);
  EXPECT_EQ(g.RowStrings(2), (Cells{"q", "r", " ", " "}));
  DeleteCell(g, 2, 4);
  DeleteCell(g, 2, -1);
  g.SetSelectionRect({0, 2, 1, 2});
  UsunKomorke(g, 3);
  UsunKomorke(g, 2);
  EXPECT_EQ(g.RowStrings(2), (Cells{"q", "*", " ", " "}));
  TStringGrid narrow = GridWith(1, {{"x"}});  // no cell for the mark
  DeleteCell(narrow, 1, 0);
  EXPECT_EQ(narrow.RowStrings(1), (Cells{" "}));
}

TEST(DuplicatesList, Bytes) {
  const std::string head = "KVL- Tolvane Duplicates List\r\nDirectory=";
  EXPECT_EQ(DuplicatesListText(TStringGrid(), ""), head + "\r\n,,,,\r\n");
  EXPECT_EQ(DuplicatesListText(TStringGrid(1, 2), "/p/"), head + "/p/\r\n\"\"\r\n");
  EXPECT_EQ(DuplicatesListText(TStringGrid(3, 1), "/p/"), head + "/p/\r\n");
  TStringGrid g = GridWith(4, {{"a.jpg", "b.jpg"},
                               {"a b.jpg", "q\"x\".jpg", "c,d.jpg", "tab\t.jpg"},
                               {"*", " ", "\xC3\xBC\x7F.jpg", "/s/e.bmp"}});
  EXPECT_EQ(DuplicatesListText(g, "/pics dir/"), head + "/pics dir/\r\n"
                                                        "a.jpg,b.jpg,,\r\n"
                                                        "\"a b.jpg\",\"q\"\"x\"\".jpg\",\"c,d.jpg\",\"tab\t.jpg\"\r\n"
                                                        "*,\" \",\xC3\xBC\x7F.jpg,/s/e.bmp\r\n");
  test::TTempDir dir;
  std::string path = dir.Path + "/list.kvl";
  test::WriteFile(path, std::string(500, 'x'));
  SaveDuplicatesList(path, g, "/d/");
  EXPECT_EQ(test::ReadFile(path), DuplicatesListText(g, "/d/"));
  try {
    SaveDuplicatesList(dir.Path + "/missing/list.kvl", g, "/d/");
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

}  // namespace
}  // namespace tolvane
