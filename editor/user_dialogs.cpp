#include "editor/user_dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

#include "editor/common_dialog.h"

namespace sentrel::editor {

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Critical:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtUserDialogs::ShowMessage(QWidget* parent, const QString& text, const QString& title,
                                MessageIcon icon) {
  QMessageBox box(ToQt(icon), title, text, QMessageBox::Ok, parent);
  box.exec();
}

bool QtUserDialogs::AskYesNo(QWidget* parent, const QString& text, const QString& title,
                             MessageIcon icon) {
  QMessageBox box(ToQt(icon), title, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtUserDialogs::AskText(QWidget* parent, const QString& prompt,
                                              const QString& title, const QString& defaultText) {
  QInputDialog box(parent);
  box.setInputMode(QInputDialog::TextInput);
  box.setWindowTitle(title);
  box.setLabelText(prompt);
  box.setTextValue(defaultText);
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  return box.textValue();
}

QString QtUserDialogs::ChooseFile(CCommonDialog& dialog, FileChoice choice) {
  return choice == FileChoice::Save ? dialog.ShowSave(nullptr) : dialog.ShowOpen(nullptr);
}

}  // namespace sentrel::editor
