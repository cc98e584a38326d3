// RulesmithScreenshot: draws the editor's window with a module open, its
// first step and first rule chosen, into a PNG file. Used by
// scripts/rulesmith-screenshot for the administrator's guide; it is built
// only when asked for and never installed.
//
//   RulesmithScreenshot MODULE.ini OUTPUT.png
//
// Run it from the folder that holds the list of server-variable names, on any
// Qt platform (the offscreen one needs no display).
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdio>

#include "editor/common.h"
#include "editor/frm_main.h"
#include "editor/user_dialogs.h"

namespace {

using namespace sentrel::editor;

// Answers the Open dialog with the module to show; says nothing else.
class FixedAnswers : public UserDialogs {
 public:
  explicit FixedAnswers(QString module) : module_(std::move(module)) {}
  void ShowMessage(QWidget*, const QString& text, const QString&, MessageIcon) override {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
    failed = true;
  }
  bool AskYesNo(QWidget*, const QString&, const QString&, MessageIcon) override { return false; }
  std::optional<QString> AskText(QWidget*, const QString&, const QString&,
                                 const QString&) override {
    return std::nullopt;
  }
  QString ChooseFile(CCommonDialog&, FileChoice) override { return module_; }
  bool failed = false;

 private:
  QString module_;
};

void Choose(QTreeWidget* list) {
  if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: RulesmithScreenshot MODULE.ini OUTPUT.png\n");
    return 2;
  }
  FixedAnswers dialogs(QFileInfo(args[1]).absoluteFilePath());
  Common common(dialogs, QDir::currentPath());
  int result = 1;
  {
    frmMain window(common);
    window.show();
    window.cmdOpen->click();
    // Choosing a row loads it as a click does.
    Choose(window.lvwSetp);
    Choose(window.lvwRules);
    QApplication::processEvents();
    if (!dialogs.failed && window.grab().toImage().save(args[2])) result = 0;
  }
  if (result != 0) std::fprintf(stderr, "no picture written\n");
  return result;
}
