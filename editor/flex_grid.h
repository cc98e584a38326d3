// The grid control of the editor: a table whose first row and first column
// are fixed (they stay in place when the grid scrolls and cannot be edited or
// chosen). Rows and columns are addressed as in the whole grid, so row 0 and
// column 0 are the fixed ones and the cells that take values start at 1.
#pragma once

#include <QString>
#include <QTableWidget>

namespace sentrel::editor {

class FlexGrid : public QTableWidget {
  Q_OBJECT

 public:
  explicit FlexGrid(QWidget* parent = nullptr);

  // Sets the grid to `rows` by `cols`, both counting the fixed row and column.
  void SetSize(int rows, int cols);
  int Rows() const { return rowCount() + 1; }
  int Cols() const { return columnCount() + 1; }

  QString TextMatrix(int row, int col) const;
  void SetTextMatrix(int row, int col, const QString& text);

  // The current cell; 0 when none is current.
  int Row() const { return currentRow() + 1; }
  int Col() const { return currentColumn() + 1; }
  void SetCurrentCell(int row, int col);

  // The first scrollable row shown at the top (1 when the grid is not
  // scrolled). Setting it beyond the rows the grid can scroll to is ignored.
  int TopRow() const;
  void SetTopRow(int row);

  // Sizes and positions in pixels. Positions are relative to the grid's own
  // top left corner and follow scrolling.
  void SetColWidth(int col, int px);
  int ColWidth(int col) const;
  void SetRowHeight(int row, int px);
  int RowHeight(int row) const;
  int ColPos(int col) const;
  int RowPos(int row) const;

 signals:
  // A click on a cell that takes values.
  void Click();
  // The Enter key pressed while the grid has the focus.
  void EnterPressed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTableWidgetItem* CellItem(int row, int col);
};

}  // namespace sentrel::editor
