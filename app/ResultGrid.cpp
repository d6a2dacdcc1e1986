#include "ResultGrid.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "picture/SysUtils.h"
#include "platform/UniqueFd.h"

namespace tolvane {

bool CellHoldsName(const std::string& text) { return !text.empty() && text != " "; }

TGridCoord Select2InStringGrid(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  int32_t right = CellHoldsName(grid.CellText(sel.Right, sel.Top)) ? sel.Left + 1 : std::max(sel.Left - 1, 0);
  grid.SetSelectionRect(CellRange{sel.Left, sel.Top, right, sel.Bottom});
  return TGridCoord{sel.Left, sel.Top};
}

void SettleSelectionPair(TStringGrid& grid, const std::function<void(TGridCoord)>& preview) {
  // Walking back from a cell past a row's end takes one step per column; a
  // row whose only name has no neighbour would alternate for ever.
  int32_t steps = grid.ColCount() + 3;
  for (int32_t i = 0; i < steps; ++i) {
    CellRange before = grid.SelectionRect();
    TGridCoord cell = Select2InStringGrid(grid);
    if (preview) preview(cell);
    if (grid.SelectionRect() == before) break;
  }
}

bool PairPreviewable(const TStringGrid& grid, int32_t col, int32_t row) {
  return CellHoldsName(grid.CellText(col, row)) && CellHoldsName(grid.CellText(col + 1, row));
}

void SelectPrevSet(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  sel.Top = sel.Bottom = std::max(sel.Top - 1, 1);
  grid.SetSelectionRect(sel);
}

void SelectNextSet(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  sel.Top = sel.Bottom = std::min(sel.Top + 1, grid.RowCount() - 1);
  grid.SetSelectionRect(sel);
}

void SelectPrevDup(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  sel.Left = std::max(sel.Left - 1, 0);
  grid.SetSelectionRect(sel);
}

void SelectNextDup(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  if (sel.Right < grid.ColCount() - 1) ++sel.Left;
  grid.SetSelectionRect(sel);
}

void CollapseSelectionToLeft(TStringGrid& grid) {
  CellRange sel = grid.SelectionRect();
  sel.Right = sel.Left;
  grid.SetSelectionRect(sel);
}

void DeleteCell(TStringGrid& grid, int32_t row, int32_t column) {
  if (row < 0 || row >= grid.RowCount() || column < 0 || column >= grid.ColCount()) return;
  std::vector<std::string> cells = grid.RowStrings(row);
  std::move(cells.begin() + column + 1, cells.end(), cells.begin() + column);
  cells.back().clear();
  if (cells.size() > 1 && std::count_if(cells.begin(), cells.end(), CellHoldsName) == 1) cells[1] = std::string(NoDuplicateMark);
  grid.SetRowStrings(row, cells);
}

void UsunKomorke(TStringGrid& grid, int side) {
  CellRange sel = grid.SelectionRect();
  if (side == 1) DeleteCell(grid, sel.Top, sel.Left);
  else if (side == 2) DeleteCell(grid, sel.Top, sel.Right);
}

namespace {
bool NeedsQuotes(const std::string& cell) {
  return std::any_of(cell.begin(), cell.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return (b >= 1 && b <= 32) || c == '"' || c == ',';
  });
}

std::string Quoted(const std::string& cell) {
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}
}  // namespace

std::string CommaText(const std::vector<std::string>& cells) {
  if (cells.size() == 1 && cells[0].empty()) return "\"\"";
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += ',';
    line += NeedsQuotes(cells[i]) ? Quoted(cells[i]) : cells[i];
  }
  return line;
}

std::string DuplicatesListText(const TStringGrid& grid, const std::string& scanDir) {
  std::string text = "KVL- Tolvane Duplicates List\r\nDirectory=" + scanDir + "\r\n";
  for (int32_t r = 1; r < grid.RowCount(); ++r) text += CommaText(grid.RowStrings(r)) + "\r\n";
  return text;
}

void SaveDuplicatesList(const std::string& fileName, const TStringGrid& grid, const std::string& scanDir) {
  std::string text = DuplicatesListText(grid, scanDir);
  TUniqueFd fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.Valid()) RaiseInOutError(errno);
  if (!WriteAll(fd.Get(), text) || fd.Close() != 0) RaiseInOutError(errno);
}

}  // namespace tolvane
