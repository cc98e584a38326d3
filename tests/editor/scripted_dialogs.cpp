#include "tests/editor/scripted_dialogs.h"

#include "editor/common_dialog.h"

namespace sentrel::editor::testing {

void ScriptedDialogs::ShowMessage(QWidget*, const QString& text, const QString& title,
                                  MessageIcon icon) {
  shown.append({Shown::Kind::Message, text, title, icon});
}

bool ScriptedDialogs::AskYesNo(QWidget*, const QString& text, const QString& title,
                               MessageIcon icon) {
  shown.append({Shown::Kind::Question, text, title, icon});
  if (yesNoAnswers.empty()) {
    ++unanswered;
    return false;
  }
  const bool answer = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return answer;
}

std::optional<QString> ScriptedDialogs::AskText(QWidget*, const QString& prompt,
                                                const QString& title, const QString&) {
  shown.append({Shown::Kind::Input, prompt, title, MessageIcon::Information});
  if (textAnswers.empty()) {
    ++unanswered;
    return std::nullopt;
  }
  const bool given = textAnswers.front().has_value();
  const QString text = given ? *textAnswers.front() : QString();
  textAnswers.pop_front();
  if (!given) return std::nullopt;
  return text;
}

QString ScriptedDialogs::ChooseFile(CCommonDialog& dialog, FileChoice choice) {
  shown.append({choice == FileChoice::Save ? Shown::Kind::SaveFile : Shown::Kind::OpenFile,
                QString(), QString(), MessageIcon::Information});
  fileDialogs.append({dialog.eFlag, dialog.Parent_hWnd, dialog.sFilter, dialog.sAppPath});
  if (fileAnswers.empty()) {
    ++unanswered;
    return QString();
  }
  const QString answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

QList<Shown> ScriptedDialogs::Messages() const {
  QList<Shown> messages;
  for (const Shown& s : shown) {
    if (s.kind == Shown::Kind::Message) messages.append(s);
  }
  return messages;
}

void ScriptedDialogs::Clear() {
  shown.clear();
  fileDialogs.clear();
  unanswered = 0;
}

}  // namespace sentrel::editor::testing
