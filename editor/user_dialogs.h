// The editor's conversations with the user: message boxes, the yes/no
// question, the input box and the file choice all go through this interface,
// so the windows can be driven without a person (see the scripted
// implementation of the tests) and the Qt implementation stays small.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace sentrel::editor {

class CCommonDialog;

enum class MessageIcon { Information, Question, Warning, Critical };

enum class FileChoice { Save, Open };

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;

  // A message box with an OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& title,
                           MessageIcon icon) = 0;

  // A message box with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& title,
                        MessageIcon icon) = 0;

  // An input box; std::nullopt when it was cancelled.
  virtual std::optional<QString> AskText(QWidget* parent, const QString& prompt,
                                         const QString& title, const QString& defaultText) = 0;

  // Shows `dialog` as a save or an open dialog; the chosen path, or the empty
  // text when cancelled.
  virtual QString ChooseFile(CCommonDialog& dialog, FileChoice choice) = 0;
};

// The implementation on Qt's message boxes, input dialog and file dialogs.
class QtUserDialogs : public UserDialogs {
 public:
  void ShowMessage(QWidget* parent, const QString& text, const QString& title,
                   MessageIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& text, const QString& title,
                MessageIcon icon) override;
  std::optional<QString> AskText(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
  QString ChooseFile(CCommonDialog& dialog, FileChoice choice) override;
};

}  // namespace sentrel::editor
