// Shared set-up of the editor tests: a temporary folder, the scripted dialogs,
// the windows' shared state, and helpers that drive the real widgets the way a
// user does (clicks on buttons, cells and rows, keys) and read the file back.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "editor/common.h"
#include "editor/frm_main.h"
#include "tests/editor/scripted_dialogs.h"

class QAbstractButton;
class QComboBox;
class QTreeWidget;
class QWidget;

namespace sentrel::editor::testing {

class EditorFixture {
 public:
  EditorFixture();
  ~EditorFixture();

  QTemporaryDir dir;
  ScriptedDialogs dialogs;
  std::unique_ptr<Common> common;

  // A path inside the temporary folder.
  QString Path(const QString& name) const;

  // Creates and shows a window at program start and waits until it is active.
  frmMain* StartWindow();
  // The newest loaded window (after New it is the new one).
  frmMain* Current() const;

  // Opens `path` with the Open button, answering the file dialog.
  void OpenWith(frmMain* window, const QString& path);
  // Makes a new module at `path` with the New button; returns the new window.
  frmMain* NewWith(frmMain* window, const QString& path);

  // The text a key holds in the file, as the editor reads it.
  static QString Read(const QString& section, const QString& key, const QString& path);

 private:
  QList<QPointer<QWidget>> created_;
};

// User actions.
void Click(QAbstractButton* button);
void ClickCell(frmMain* window, class FlexGrid* grid, int row, int col);
void ClickRow(QTreeWidget* list, int position);
void ClickBesideRows(QTreeWidget* list);
void PressKey(QWidget* widget, int key);
void TypeText(QWidget* widget, const QString& text);
// Opens a combo box's list and clicks the item at `index`.
void ChooseItem(QComboBox* combo, int index);

// Files.
QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);
// Text in the system code page.
QByteArray Gbk(const QString& text);
// Lines joined with CR LF, each line ending in CR LF, in the code page.
QByteArray GbkLines(const QStringList& lines);

}  // namespace sentrel::editor::testing
