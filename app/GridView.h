// The view of the result grid: draws a TStringGrid (its fixed rows shaded,
// its selection highlighted) and hands clicks and keys back. The grid
// itself stays the one place where cells and selection live.
#pragma once

#include <QTableView>

#include <functional>
#include <memory>

#include "app/StringGrid.h"

namespace tolvane {

class TStringGridModel;

class TStringGridView : public QTableView {
public:
  explicit TStringGridView(TStringGrid& grid, QWidget* parent = nullptr);
  ~TStringGridView() override;

  // Takes in what changed in the grid. Several changes in a row are shown
  // together, once the event loop runs (a search writes thousands of cells).
  void GridChanged();
  // Shows the grid's state now.
  void Synchronize();
  // The cell under a point of the viewport, or (-1, -1).
  TGridCoord CellAt(const QPoint& point) const;
  // The column whose right border lies under a point of the fixed rows
  // (a border is taken a few pixels either side), or -1.
  int32_t ColumnBorderAt(const QPoint& point) const;
  // Where a navigation key moves the current cell from (col, row); the same
  // cell for other keys.
  TGridCoord KeyTarget(int key, Qt::KeyboardModifiers modifiers, TGridCoord from) const;

  static constexpr int DefaultColWidth = 64;
  static constexpr int DefaultRowHeight = 20;

  // A cell pressed with the left button (also while the mouse drags).
  std::function<void(int32_t col, int32_t row)> OnCellPressed;
  static bool IsNavigationKey(int key);

  // A key pressed while the grid has the focus; the handler moves the
  // current cell to KeyTarget.
  std::function<void(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;
  // A column dragged by its fixed cell from one place to another. Its
  // border in the fixed row can be dragged to widen it as well.
  std::function<void(int32_t from, int32_t to)> OnColumnMoved;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  TStringGrid& FGrid;
  std::unique_ptr<TStringGridModel> FModel;
  bool FSyncPending = false;
  int32_t FDragColumn = -1;
  int32_t FSizedColumn = -1;
  static constexpr int BorderGrip = 3;
};

// Moves column from to place to in every row of the grid, the columns
// between shifting by one.
void MoveGridColumn(TStringGrid& grid, int32_t from, int32_t to);

}  // namespace tolvane
