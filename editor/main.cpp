// Rulesmith: the desktop editor for behaviour module files.
#include <QApplication>
#include <QDir>

#include "editor/common.h"
#include "editor/frm_main.h"
#include "editor/user_dialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Rulesmith"));
  sentrel::editor::QtUserDialogs dialogs;
  // The file dialogs first open in the user's home folder, then in the folder
  // of the module being edited.
  sentrel::editor::Common common(dialogs, QDir::homePath());
  auto* window = new sentrel::editor::frmMain(common);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  const int result = QApplication::exec();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // Windows still open when the loop ends are unloaded before the shared
  // state goes away.
  for (QWidget* open : common.Windows()) delete open;
  return result;
}
