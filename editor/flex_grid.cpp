#include "editor/flex_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

namespace sentrel::editor {

FlexGrid::FlexGrid(QWidget* parent) : QTableWidget(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setSectionsClickable(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setHighlightSections(false);
  verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(this, &QTableWidget::cellClicked, this, [this](int, int) { emit Click(); });
}

void FlexGrid::SetSize(int rows, int cols) {
  setRowCount(rows > 1 ? rows - 1 : 0);
  setColumnCount(cols > 1 ? cols - 1 : 0);
  for (int c = 1; c < cols; ++c) setHorizontalHeaderItem(c - 1, new QTableWidgetItem(QString()));
  for (int r = 1; r < rows; ++r) setVerticalHeaderItem(r - 1, new QTableWidgetItem(QString()));
}

QTableWidgetItem* FlexGrid::CellItem(int row, int col) {
  if (row < 1 || col < 1 || row >= Rows() || col >= Cols()) return nullptr;
  QTableWidgetItem* cell = item(row - 1, col - 1);
  if (cell == nullptr) {
    cell = new QTableWidgetItem();
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setItem(row - 1, col - 1, cell);
  }
  return cell;
}

QString FlexGrid::TextMatrix(int row, int col) const {
  if (row < 0 || col < 0 || row >= Rows() || col >= Cols()) return QString();
  const QTableWidgetItem* cell = nullptr;
  if (row == 0 && col == 0) return QString();
  if (row == 0) {
    cell = horizontalHeaderItem(col - 1);
  } else if (col == 0) {
    cell = verticalHeaderItem(row - 1);
  } else {
    cell = item(row - 1, col - 1);
  }
  return cell != nullptr ? cell->text() : QString();
}

void FlexGrid::SetTextMatrix(int row, int col, const QString& text) {
  if (row < 0 || col < 0 || row >= Rows() || col >= Cols() || (row == 0 && col == 0)) return;
  if (row == 0) {
    horizontalHeaderItem(col - 1)->setText(text);
  } else if (col == 0) {
    verticalHeaderItem(row - 1)->setText(text);
  } else {
    CellItem(row, col)->setText(text);
  }
}

void FlexGrid::SetCurrentCell(int row, int col) { setCurrentCell(row - 1, col - 1); }

int FlexGrid::TopRow() const { return verticalScrollBar()->value() + 1; }

void FlexGrid::SetTopRow(int row) {
  if (row < 1 || row >= Rows()) return;
  verticalScrollBar()->setValue(row - 1);
}

void FlexGrid::SetColWidth(int col, int px) {
  if (col == 0) {
    verticalHeader()->setFixedWidth(px);
  } else if (col > 0 && col < Cols()) {
    setColumnWidth(col - 1, px);
  }
}

int FlexGrid::ColWidth(int col) const {
  if (col == 0) return verticalHeader()->width();
  return columnWidth(col - 1);
}

void FlexGrid::SetRowHeight(int row, int px) {
  if (row == 0) {
    horizontalHeader()->setFixedHeight(px);
  } else if (row > 0 && row < Rows()) {
    setRowHeight(row - 1, px);
  }
}

int FlexGrid::RowHeight(int row) const {
  if (row == 0) return horizontalHeader()->height();
  return rowHeight(row - 1);
}

int FlexGrid::ColPos(int col) const {
  if (col <= 0) return frameWidth();
  return frameWidth() + verticalHeader()->width() + columnViewportPosition(col - 1);
}

int FlexGrid::RowPos(int row) const {
  if (row <= 0) return frameWidth();
  return frameWidth() + horizontalHeader()->height() + rowViewportPosition(row - 1);
}

void FlexGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit EnterPressed();
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

}  // namespace sentrel::editor
