// The open and save file dialogs of the editor.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QFileDialog;
class QWidget;

namespace sentrel::editor {

// Dialog flag bits the editor understands; other bits are carried along.
inline constexpr std::uint32_t kOfnOverwritePrompt = 0x2;
inline constexpr std::uint32_t kOfnFileMustExist = 0x1000;
inline constexpr std::uint32_t kOfnExplorer = 0x80000;

// Turns a "|"-separated list of description and pattern pairs, e.g.
// "模块文件(*.ini)|*.ini", into Qt's name filters. A pattern list separated by
// ";" becomes Qt's blank-separated form; a description that already ends in
// its own pattern in brackets keeps its text. A trailing description without
// a pattern is dropped.
QStringList QtNameFilters(const QString& pipeFilter);

// A file dialog set up by its properties before one of the Show methods is
// called. Neither dialog asks before overwriting or insists that the chosen
// file exists unless `eFlag` asks for it.
class CCommonDialog {
 public:
  std::uint32_t eFlag = 0;
  QWidget* Parent_hWnd = nullptr;
  QString sFilter;
  QString sAppPath;

  // Shows the save dialog (title "保存") owned by `lhWnd`, or by Parent_hWnd
  // when it is null. Returns the chosen path, or the empty text when the
  // dialog was cancelled or failed.
  QString ShowSave(QWidget* lhWnd = nullptr);
  // The same with the open dialog (title "打开").
  QString ShowOpen(QWidget* lhWnd = nullptr);

  // Builds the dialog a Show method would run, without running it.
  std::unique_ptr<QFileDialog> BuildDialog(QWidget* lhWnd, bool save) const;

 private:
  QString Show(QWidget* lhWnd, bool save);
};

}  // namespace sentrel::editor
