// The mouse-wheel hook of the editor's grids: a table, shared by all windows
// of the process, of the grids whose wheel handling is replaced so that one
// wheel step scrolls the grid by exactly one row.
//
// Hooking a grid installs an event filter on the parts of the grid that
// receive wheel events (its viewport and its scroll bars); every event other
// than a wheel step passes on to the grid's own handling unchanged.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QEvent;
class QWidget;

namespace sentrel::editor {

class FlexGrid;

struct HookedGrid {
  QPointer<QWidget> owner;   // the window whose grid this is
  QPointer<FlexGrid> grid;   // the grid control
  QPointer<QObject> handle;  // the object wheel events are delivered for
};

class GridWheelHooks : public QObject {
  Q_OBJECT

 public:
  GridWheelHooks() = default;
  ~GridWheelHooks() override;

  // Hooks every grid of `window`, in the window's control order, adding one
  // record per grid at the end of the table.
  void HookGridWheel(QWidget* window);

  // Unhooks the grids of `window` and drops their records; the records of
  // other windows keep their order.
  void UnhookGridWheel(QWidget* window);

  // The replacement handling of a hooked grid. For a vertical wheel step it
  // scrolls the grid by one row (towards the user: the top row + 1; away from
  // the user: the top row - 1 unless row 1 is shown) and returns true, so the
  // grid's own handling does not see it. Every other event returns false and
  // goes to the grid's own handling.
  bool GridWheelProc(QObject* handle, QEvent* event);

  // The position (from 1) of the record for `handle`, 0 when there is none.
  int FindHookedGrid(const QObject* handle) const;

  int Count() const { return static_cast<int>(records_.size()); }
  // The record at a position from 1 to Count().
  const HookedGrid& Record(int index) const { return records_[index - 1]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Attach(FlexGrid* grid);
  void Detach(FlexGrid* grid);

  std::vector<HookedGrid> records_;
};

}  // namespace sentrel::editor
