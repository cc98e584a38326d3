// A scripted stand-in for the editor's user dialogs: answers come from queues
// filled by the test, and every conversation is recorded with its kind, text,
// title and icon so tests can check what the user would have seen.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>

#include "editor/user_dialogs.h"

namespace sentrel::editor::testing {

struct Shown {
  enum class Kind { Message, Question, Input, SaveFile, OpenFile };
  Kind kind = Kind::Message;
  QString text;
  QString title;
  MessageIcon icon = MessageIcon::Information;
};

// The properties a file dialog was shown with.
struct FileDialogSeen {
  std::uint32_t eFlag = 0;
  QWidget* parent = nullptr;
  QString filter;
  QString appPath;
};

class ScriptedDialogs : public UserDialogs {
 public:
  std::deque<bool> yesNoAnswers;
  std::deque<std::optional<QString>> textAnswers;
  std::deque<QString> fileAnswers;

  QList<Shown> shown;
  QList<FileDialogSeen> fileDialogs;
  // Conversations for which no answer was queued (they answer No, Cancel or
  // the empty path).
  int unanswered = 0;

  void ShowMessage(QWidget* parent, const QString& text, const QString& title,
                   MessageIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& text, const QString& title,
                MessageIcon icon) override;
  std::optional<QString> AskText(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
  QString ChooseFile(CCommonDialog& dialog, FileChoice choice) override;

  // The messages shown since the last Clear(), without questions, inputs and
  // file dialogs.
  QList<Shown> Messages() const;
  void Clear();
};

}  // namespace sentrel::editor::testing
