#include "StringGrid.h"

#include <algorithm>

namespace tolvane {

namespace {
const std::string EmptyCell;
}

TStringGrid::TStringGrid(int32_t colCount, int32_t rowCount, int32_t fixedRows, int32_t fixedCols)
    : FColCount(std::max(colCount, 1)),
      FRowCount(std::max(rowCount, 1)),
      FFixedRows(std::clamp(fixedRows, 0, FRowCount - 1)),
      FFixedCols(std::clamp(fixedCols, 0, FColCount - 1)),
      FCells(static_cast<size_t>(FRowCount)) {
  ResetSelection();
}

void TStringGrid::ResetSelection() { FAnchor = FCurrent = TGridCoord{FFixedCols, FFixedRows}; }

void TStringGrid::Changed() {
  if (OnChange) OnChange();
}

void TStringGrid::SetSelection(TGridCoord anchor, TGridCoord current) {
  CellRange old = SelectionRect();
  FAnchor = anchor;
  FCurrent = current;
  if (SelectionRect() != old && OnSelectionChange) OnSelectionChange();
}

void TStringGrid::ClampSelection() {
  if (FCurrent.Y >= FRowCount) FCurrent.Y = FRowCount - 1;
  if (FCurrent.X >= FColCount) FCurrent.X = FColCount - 1;
  FAnchor = FCurrent;
}

void TStringGrid::ChangeColumnCount(int32_t value) {
  value = std::max(value, 1);
  if (value == FColCount) return;
  CellRange old = SelectionRect();
  if (value <= FFixedCols) {
    FFixedCols = value - 1;
    ResetSelection();
  }
  FColCount = value;
  for (auto& row : FCells)
    if (row.size() > static_cast<size_t>(value)) row.resize(static_cast<size_t>(value));
  ClampSelection();
  Changed();
  if (SelectionRect() != old && OnSelectionChange) OnSelectionChange();
}

void TStringGrid::ChangeRowCount(int32_t value) {
  value = std::max(value, 1);
  if (value == FRowCount) return;
  CellRange old = SelectionRect();
  if (value <= FFixedRows) {
    FFixedRows = value - 1;
    ResetSelection();
  }
  FRowCount = value;
  FCells.resize(static_cast<size_t>(value));
  ClampSelection();
  Changed();
  if (SelectionRect() != old && OnSelectionChange) OnSelectionChange();
}

const std::string& TStringGrid::CellText(int32_t col, int32_t row) const {
  if (row < 0 || row >= FRowCount || col < 0 || col >= FColCount) return EmptyCell;
  const auto& cells = FCells[static_cast<size_t>(row)];
  return static_cast<size_t>(col) < cells.size() ? cells[static_cast<size_t>(col)] : EmptyCell;
}

void TStringGrid::SetCellText(int32_t col, int32_t row, std::string text) {
  if (row < 0 || row >= FRowCount || col < 0 || col >= FColCount) return;
  auto& cells = FCells[static_cast<size_t>(row)];
  if (cells.size() <= static_cast<size_t>(col)) cells.resize(static_cast<size_t>(col) + 1);
  cells[static_cast<size_t>(col)] = std::move(text);
  Changed();
}

std::vector<std::string> TStringGrid::RowStrings(int32_t row) const {
  std::vector<std::string> lines(static_cast<size_t>(FColCount));
  for (int32_t c = 0; c < FColCount; ++c) lines[static_cast<size_t>(c)] = CellText(c, row);
  return lines;
}

void TStringGrid::SetRowStrings(int32_t row, const std::vector<std::string>& lines) {
  if (row < 0 || row >= FRowCount) return;
  auto& cells = FCells[static_cast<size_t>(row)];
  cells.clear();
  size_t n = std::min(lines.size(), static_cast<size_t>(FColCount));
  for (size_t i = 0; i < n; ++i) cells.push_back(lines[i].empty() ? std::string(" ") : lines[i]);
  Changed();
}

CellRange TStringGrid::SelectionRect() const {
  return CellRange{std::min(FAnchor.X, FCurrent.X), std::min(FAnchor.Y, FCurrent.Y), std::max(FAnchor.X, FCurrent.X),
                   std::max(FAnchor.Y, FCurrent.Y)};
}

void TStringGrid::SetSelectionRect(const CellRange& range) {
  SetSelection(TGridCoord{range.Left, range.Top}, TGridCoord{range.Right, range.Bottom});
}

void TStringGrid::FocusCell(int32_t col, int32_t row) {
  if (col < FFixedCols || row < FFixedRows || col >= FColCount || row >= FRowCount) return;
  SetSelection(TGridCoord{col, row}, TGridCoord{col, row});
}

}  // namespace tolvane
