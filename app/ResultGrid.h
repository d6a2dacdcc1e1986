// What the finder does with its result grid: one group of similar files per
// row from row 1 on; pairing the selection on two neighbouring names, the
// set and duplicate navigation, removing a deleted file from its row, and
// the duplicates list file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "StringGrid.h"

namespace tolvane {

// Marks a row whose other files are all gone.
inline constexpr const char* NoDuplicateMark = "*";

// A cell holds a name (or the "*" mark) unless it is empty or a single blank.
bool CellHoldsName(const std::string& text);

// One pairing step: the selection becomes its left column and the column to
// its right when the selection's right cell holds a name, else the column to
// the left of it (never below 0). Returns the cell whose pair is to be
// previewed: the selection's left column and top row before the change.
TGridCoord Select2InStringGrid(TStringGrid& grid);
// Repeats the pairing step while it changes the selection, as repaints of a
// grid would, calling preview after each step. Bounded: a selection settles
// within ColCount steps, and one that never settles (a row whose only name
// has no neighbour alternates between two columns) stops there.
void SettleSelectionPair(TStringGrid& grid, const std::function<void(TGridCoord)>& preview);
// Whether cells (col, row) and (col + 1, row) both hold a name, so that the
// pair can be previewed.
bool PairPreviewable(const TStringGrid& grid, int32_t col, int32_t row);

// The navigation buttons: previous / next set move to the row above / below
// (rows 1 .. RowCount - 1), previous / next duplicate move the left column.
void SelectPrevSet(TStringGrid& grid);
void SelectNextSet(TStringGrid& grid);
void SelectPrevDup(TStringGrid& grid);
void SelectNextDup(TStringGrid& grid);
// A key press collapses the selection to its left column before the grid
// moves its current cell.
void CollapseSelectionToLeft(TStringGrid& grid);

// Removes cell (column, row), moving the cells right of it one place left.
// When a single name is left, cell 1 becomes "*". Empty cells of the row are
// written as single blanks. A row or column outside the grid changes nothing.
void DeleteCell(TStringGrid& grid, int32_t row, int32_t column);
// Removes the file of one side of the selected pair from the grid: side 1
// is the selection's left column, side 2 its right column; other sides do
// nothing.
void UsunKomorke(TStringGrid& grid, int side);

// The cells as one comma-separated line: a cell with a control character,
// blank, double quote or comma is put in double quotes (inner quotes
// doubled); a single empty cell is written as two double quotes.
std::string CommaText(const std::vector<std::string>& cells);
// The duplicates list: a title line, "Directory=" + scanDir, and one line
// per grid row from row 1 on, every line ended by CR LF.
std::string DuplicatesListText(const TStringGrid& grid, const std::string& scanDir);
// Creates (or replaces) fileName with the duplicates list. Failures raise
// EInOutError ("File not found", "File access denied", "Disk full", "I/O error %d").
void SaveDuplicatesList(const std::string& fileName, const TStringGrid& grid, const std::string& scanDir);

}  // namespace tolvane
