// The result grid as a model without a window: cells of text, the column
// and row counts with their fixed rows, and the selection between an anchor
// and the current cell. A view draws it and feeds clicks and keys back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane {

struct TGridCoord {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TGridCoord&, const TGridCoord&) = default;
};

struct CellRange {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const CellRange&, const CellRange&) = default;
};

class TStringGrid {
public:
  TStringGrid(int32_t colCount = 5, int32_t rowCount = 2, int32_t fixedRows = 1, int32_t fixedCols = 0);

  int32_t ColCount() const { return FColCount; }
  int32_t RowCount() const { return FRowCount; }
  int32_t FixedRows() const { return FFixedRows; }
  int32_t FixedCols() const { return FFixedCols; }
  // A count of 0 or less becomes 1; the same count changes nothing. A count
  // not above the fixed rows (columns) lowers them to count - 1, and they
  // never rise again. Cells beyond the new count are dropped; the selection
  // collapses onto the current cell, kept inside the grid.
  void ChangeColumnCount(int32_t value);
  void ChangeRowCount(int32_t value);

  // Empty for a cell never set and for any cell outside the grid.
  const std::string& CellText(int32_t col, int32_t row) const;
  // Writes outside the grid are ignored.
  void SetCellText(int32_t col, int32_t row, std::string text);
  // The row as exactly ColCount entries (all empty outside the grid).
  std::vector<std::string> RowStrings(int32_t row) const;
  // Empties every cell of the row, then fills it from column 0 with lines,
  // an empty line written as a single blank; lines past the last column are
  // dropped.
  void SetRowStrings(int32_t row, const std::vector<std::string>& lines);

  // The rectangle between anchor and current cell, Left <= Right and Top <= Bottom.
  CellRange SelectionRect() const;
  // Anchor := (Left, Top), current cell := (Right, Bottom), as given: a
  // Right left of Left selects from Right to Left, and a cell just past the
  // grid is allowed (a pairing walks back from it).
  void SetSelectionRect(const CellRange& range);
  TGridCoord Anchor() const { return FAnchor; }
  TGridCoord Current() const { return FCurrent; }
  // A click or key on a cell: anchor and current cell move there. Cells of
  // fixed rows or columns and cells outside the grid are ignored.
  void FocusCell(int32_t col, int32_t row);

  // Raised after cells or counts change.
  std::function<void()> OnChange;
  // Raised when the set of selected cells changes (not when the same
  // rectangle is set again with anchor and current cell swapped).
  std::function<void()> OnSelectionChange;

private:
  void ResetSelection();
  void SetSelection(TGridCoord anchor, TGridCoord current);
  // Collapses the selection onto the current cell, moved inside the grid (no event).
  void ClampSelection();
  void Changed();

  int32_t FColCount, FRowCount, FFixedRows, FFixedCols;
  // Rows of the grid; a row holds only the cells up to its last one set.
  std::vector<std::vector<std::string>> FCells;
  TGridCoord FAnchor, FCurrent;
};

}  // namespace tolvane
