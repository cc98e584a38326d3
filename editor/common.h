// The state the editor's windows share: the module file being edited, whether
// it was made with New, the grid wheel hook table, the user-dialog
// implementation, the folders the file dialogs open in and the open windows. One instance
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
  // `startFolder` is where the file dialogs open before any file was chosen.
  Common(UserDialogs& dialogs, QString startFolder)
      : dialogs_(dialogs), startFolder_(std::move(startFolder)) {}
  Common(const Common&) = delete;
  Common& operator=(const Common&) = delete;

  // Full path of the module file being edited; empty until one is chosen.
  QString ModulePath;
  // True only while the current window holds a module created with New.
  bool IsNewModule = false;

  GridWheelHooks& Hooks() { return hooks_; }
  UserDialogs& Dialogs() { return dialogs_; }

  // The folder a file dialog opens in: the current module's folder, else the
  // folder of the file chosen last, else the start folder; each only while it
  // exists.
  QString DialogFolder() const;
  // Notes the folder of a file chosen in a file dialog.
  void RememberChosenFile(const QString& path);

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
  QString startFolder_;
  QString lastFolder_;
  GridWheelHooks hooks_;
  QList<QPointer<QWidget>> windows_;
};

}  // namespace sentrel::editor
