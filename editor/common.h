// The state the editor's windows share: the module file being edited, whether
// it was made with New, the grid wheel hook table, the user-dialog
// implementation, the program's folder and the open windows. One instance
// lives for the whole program and every window holds a reference to it.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include "editor/grid_wheel.h"

class QWidget;

namespace sentrel::editor {

class UserDialogs;

class Common {
 public:
  Common(UserDialogs& dialogs, QString programFolder)
      : dialogs_(dialogs), programFolder_(std::move(programFolder)) {}
  Common(const Common&) = delete;
  Common& operator=(const Common&) = delete;

  // Full path of the module file being edited; empty until one is chosen.
  QString ModulePath;
  // True only while the current window holds a module created with New.
  bool IsNewModule = false;

  GridWheelHooks& Hooks() { return hooks_; }
  UserDialogs& Dialogs() { return dialogs_; }
  const QString& AppPath() const { return programFolder_; }

  // The windows that are loaded and not yet unloaded, oldest first.
  void AddWindow(QWidget* window) { windows_.append(window); }
  void RemoveWindow(QWidget* window) { windows_.removeAll(window); }
  QList<QWidget*> Windows() const {
    QList<QWidget*> open;
    for (const QPointer<QWidget>& w : windows_) {
      if (w) open.append(w);
    }
    return open;
  }

 private:
  UserDialogs& dialogs_;
  QString programFolder_;
  GridWheelHooks hooks_;
  QList<QPointer<QWidget>> windows_;
};

}  // namespace sentrel::editor
