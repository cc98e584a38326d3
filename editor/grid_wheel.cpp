#include "editor/grid_wheel.h"

#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

#include "editor/flex_grid.h"

namespace sentrel::editor {

GridWheelHooks::~GridWheelHooks() {
  for (HookedGrid& record : records_) {
    if (record.grid) Detach(record.grid);
  }
}

void GridWheelHooks::Attach(FlexGrid* grid) {
  grid->viewport()->installEventFilter(this);
  grid->verticalScrollBar()->installEventFilter(this);
  grid->horizontalScrollBar()->installEventFilter(this);
}

void GridWheelHooks::Detach(FlexGrid* grid) {
  grid->viewport()->removeEventFilter(this);
  grid->verticalScrollBar()->removeEventFilter(this);
  grid->horizontalScrollBar()->removeEventFilter(this);
}

void GridWheelHooks::HookGridWheel(QWidget* window) {
  if (window == nullptr) return;
  const QList<FlexGrid*> grids = window->findChildren<FlexGrid*>();
  for (FlexGrid* grid : grids) {
    records_.push_back(HookedGrid{window, grid, grid});
    Attach(grid);
  }
}

void GridWheelHooks::UnhookGridWheel(QWidget* window) {
  for (auto i = records_.size(); i-- > 0;) {
    if (records_[i].owner.data() != window) continue;
    if (records_[i].grid) Detach(records_[i].grid);
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

int GridWheelHooks::FindHookedGrid(const QObject* handle) const {
  if (handle == nullptr) return 0;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (records_[i].handle.data() == handle) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool GridWheelHooks::GridWheelProc(QObject* handle, QEvent* event) {
  const int index = FindHookedGrid(handle);
  if (index == 0 || event->type() != QEvent::Wheel) return false;
  auto* wheel = static_cast<QWheelEvent*>(event);
  const int delta = wheel->angleDelta().y();
  if (delta == 0) {
    // A sideways wheel is not a row step; a step of no length moves nothing.
    return wheel->angleDelta().x() == 0;
  }
  FlexGrid* grid = Record(index).grid;
  if (grid != nullptr) {
    if (delta < 0) {
      grid->SetTopRow(grid->TopRow() + 1);
    } else if (grid->TopRow() > 1) {
      grid->SetTopRow(grid->TopRow() - 1);
    }
  }
  wheel->accept();
  return true;
}

bool GridWheelHooks::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Wheel) return false;
  for (QObject* object = watched; object != nullptr; object = object->parent()) {
    if (FindHookedGrid(object) != 0) return GridWheelProc(object, event);
  }
  return false;
}

}  // namespace sentrel::editor
