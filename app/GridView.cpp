#include "GridView.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

#include "FormTexts.h"

namespace tolvane {

// The grid as Qt's views see it. The counts reported to the view change only
// through a reset, so between a change of the grid and the next
// synchronisation the view keeps asking about the counts it knows; CellText
// is safe for any cell.
class TStringGridModel : public QAbstractTableModel {
public:
  explicit TStringGridModel(TStringGrid& grid) : FGrid(grid), FRows(grid.RowCount()), FCols(grid.ColCount()) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : FRows; }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : FCols; }

  QVariant data(const QModelIndex& index, int role) const override {
    const int32_t col = index.column(), row = index.row();
    const bool fixed = row < FGrid.FixedRows() || col < FGrid.FixedCols();
    switch (role) {
      case Qt::DisplayRole:
      case Qt::ToolTipRole: {
        const std::string& text = FGrid.CellText(col, row);
        if (role == Qt::ToolTipRole && text.size() < 2) return {};
        QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        return role == Qt::ToolTipRole ? PlainToolTip(shown) : shown;
      }
      case Qt::BackgroundRole:
        if (fixed) return QApplication::palette().button();
        if (Selected(col, row)) return QApplication::palette().highlight();
        return {};
      case Qt::ForegroundRole:
        if (!fixed && Selected(col, row)) return QApplication::palette().highlightedText();
        return {};
      default:
        return {};
    }
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
  }

  // Reports the grid as it is now.
  void Synchronize() {
    if (FRows != FGrid.RowCount() || FCols != FGrid.ColCount()) {
      beginResetModel();
      FRows = FGrid.RowCount();
      FCols = FGrid.ColCount();
      endResetModel();
    } else if (FRows > 0 && FCols > 0) {
      emit dataChanged(index(0, 0), index(FRows - 1, FCols - 1));
    }
  }

private:
  bool Selected(int32_t col, int32_t row) const {
    CellRange sel = FGrid.SelectionRect();
    return col >= sel.Left && col <= sel.Right && row >= sel.Top && row <= sel.Bottom;
  }

  TStringGrid& FGrid;
  int FRows, FCols;
};

TStringGridView::TStringGridView(TStringGrid& grid, QWidget* parent)
    : QTableView(parent), FGrid(grid), FModel(std::make_unique<TStringGridModel>(grid)) {
  setModel(FModel.get());
  horizontalHeader()->hide();
  verticalHeader()->hide();
  horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
  horizontalHeader()->setMinimumSectionSize(8);
  verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
  verticalHeader()->setMinimumSectionSize(8);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setShowGrid(true);
  setWordWrap(false);
  // Names of one group differ mostly at their ends ("IMG_1234 (1).jpg").
  setTextElideMode(Qt::ElideLeft);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

TStringGridView::~TStringGridView() { setModel(nullptr); }

void TStringGridView::GridChanged() {
  if (FSyncPending) return;
  FSyncPending = true;
  QTimer::singleShot(0, this, [this] {
    if (FSyncPending) Synchronize();
  });
}

void TStringGridView::Synchronize() {
  FSyncPending = false;
  FModel->Synchronize();
  TGridCoord current = FGrid.Current();
  if (current.Y < FModel->rowCount({}) && current.X < FModel->columnCount({})) {
    // The focus frame stands on the grid's current cell.
    QModelIndex index = FModel->index(current.Y, current.X);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
  }
  viewport()->update();
}

TGridCoord TStringGridView::CellAt(const QPoint& point) const {
  QModelIndex index = indexAt(point);
  if (!index.isValid()) return {-1, -1};
  return {index.column(), index.row()};
}

TGridCoord TStringGridView::KeyTarget(int key, Qt::KeyboardModifiers modifiers, TGridCoord from) const {
  const int32_t firstCol = FGrid.FixedCols(), firstRow = FGrid.FixedRows();
  const int32_t lastCol = FGrid.ColCount() - 1, lastRow = FGrid.RowCount() - 1;
  const int32_t page = std::max(1, viewport()->height() / DefaultRowHeight - 1);
  const bool ctrl = modifiers & Qt::ControlModifier;
  TGridCoord to = from;
  switch (key) {
    case Qt::Key_Left: to.X = from.X - 1; break;
    case Qt::Key_Right: to.X = from.X + 1; break;
    case Qt::Key_Up: to.Y = from.Y - 1; break;
    case Qt::Key_Down: to.Y = from.Y + 1; break;
    case Qt::Key_PageUp: to.Y = from.Y - page; break;
    case Qt::Key_PageDown: to.Y = from.Y + page; break;
    case Qt::Key_Home:
      to.X = firstCol;
      if (ctrl) to.Y = firstRow;
      break;
    case Qt::Key_End:
      to.X = lastCol;
      if (ctrl) to.Y = lastRow;
      break;
    default: return from;
  }
  to.X = std::clamp(to.X, firstCol, std::max(firstCol, lastCol));
  to.Y = std::clamp(to.Y, firstRow, std::max(firstRow, lastRow));
  return to;
}

void TStringGridView::keyPressEvent(QKeyEvent* event) {
  const bool navigation = KeyTarget(event->key(), event->modifiers(), FGrid.Current()) != FGrid.Current() ||
                          IsNavigationKey(event->key());
  if (OnKeyDown) OnKeyDown(event->key(), event->modifiers());
  if (!navigation) event->ignore();
}

bool TStringGridView::IsNavigationKey(int key) {
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: return true;
    default: return false;
  }
}

int32_t TStringGridView::ColumnBorderAt(const QPoint& point) const {
  TGridCoord cell = CellAt(point);
  if (cell.X < 0 || cell.Y >= FGrid.FixedRows()) return -1;
  const int x = point.x();
  const int left = columnViewportPosition(cell.X), right = left + columnWidth(cell.X);
  if (right - x <= BorderGrip) return cell.X;
  if (x - left <= BorderGrip && cell.X > 0) return cell.X - 1;
  return -1;
}

void TStringGridView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  if (int32_t border = ColumnBorderAt(event->position().toPoint()); border >= 0) {
    FSizedColumn = border;
    return;
  }
  TGridCoord cell = CellAt(event->position().toPoint());
  if (cell.X < 0) return;
  if (cell.Y < FGrid.FixedRows()) {
    FDragColumn = cell.X;
    return;
  }
  if (OnCellPressed) OnCellPressed(cell.X, cell.Y);
}

void TStringGridView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (FSizedColumn >= 0) {
    setColumnWidth(FSizedColumn, std::max(8, point.x() - columnViewportPosition(FSizedColumn)));
    return;
  }
  if (!(event->buttons() & Qt::LeftButton)) {
    if (ColumnBorderAt(point) >= 0) viewport()->setCursor(Qt::SplitHCursor);
    else viewport()->unsetCursor();
    return;
  }
  if (FDragColumn >= 0) return;
  TGridCoord cell = CellAt(event->position().toPoint());
  if (cell.X < 0 || cell == FGrid.Current()) return;
  if (OnCellPressed) OnCellPressed(cell.X, cell.Y);
}

void TStringGridView::mouseReleaseEvent(QMouseEvent* event) {
  if (FSizedColumn >= 0) {
    FSizedColumn = -1;
    return;
  }
  const int32_t from = FDragColumn;
  FDragColumn = -1;
  if (from < 0 || event->button() != Qt::LeftButton) return;
  int32_t to = columnAt(static_cast<int>(event->position().x()));
  if (to >= 0 && to != from && OnColumnMoved) OnColumnMoved(from, to);
}

void TStringGridView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click on a column's border fits the column to its names.
  if (int32_t border = ColumnBorderAt(event->position().toPoint()); border >= 0 && event->button() == Qt::LeftButton) {
    resizeColumnToContents(border);
    return;
  }
  mousePressEvent(event);
}

void MoveGridColumn(TStringGrid& grid, int32_t from, int32_t to) {
  const int32_t cols = grid.ColCount();
  if (from < 0 || to < 0 || from >= cols || to >= cols || from == to) return;
  for (int32_t r = 0; r < grid.RowCount(); ++r) {
    std::vector<std::string> cells = grid.RowStrings(r);
    if (std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); })) continue;
    std::string moved = std::move(cells[static_cast<size_t>(from)]);
    cells.erase(cells.begin() + from);
    cells.insert(cells.begin() + to, std::move(moved));
    for (int32_t c = 0; c < cols; ++c) {
      const std::string& text = cells[static_cast<size_t>(c)];
      if (grid.CellText(c, r) != text) grid.SetCellText(c, r, text);
    }
  }
}

}  // namespace tolvane
