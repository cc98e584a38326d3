// The module document commands: New, Open, About save and Parameters save.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <climits>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "editor/common.h"
#include "editor/common_dialog.h"
#include "editor/flex_grid.h"
#include "editor/frm_main.h"
#include "editor/ini.h"
#include "editor/list_rows.h"
#include "editor/save_warnings.h"
#include "editor/user_dialogs.h"

namespace sentrel::editor {

namespace {

const QString kTitleHint = QStringLiteral("提示");
const QString kTitleError = QStringLiteral("Error");
const QString kModuleFilter = QStringLiteral("模块文件(*.ini)|*.ini");

// Section names of the module file, spelled as the file format has them.
const QString kAbout = QStringLiteral("About");
const QString kCofing = QStringLiteral("Cofing");
const QString kConfig = QStringLiteral("Config");
const QString kStep = QStringLiteral("Step");

QString UpToNul(const QString& text) {
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  return nul < 0 ? text : text.left(nul);
}

}  // namespace

bool IsNumeric(const QString& text) {
  const QString trimmed = text.trimmed();
  qsizetype i = 0;
  if (i < trimmed.size() && (trimmed[i] == u'+' || trimmed[i] == u'-')) ++i;
  if (i == trimmed.size()) return false;
  for (; i < trimmed.size(); ++i) {
    if (trimmed[i] < u'0' || trimmed[i] > u'9') return false;
  }
  return true;
}

std::optional<std::int32_t> ParseNumber(const QString& text) {
  if (!IsNumeric(text)) return std::nullopt;
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok, 10);
  if (!ok || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

int ListedCount(const QString& text) {
  // The leading number, as the filter reads a count: "2 steps" lists 2.
  const QString trimmed = text.trimmed();
  qsizetype end = 0;
  if (end < trimmed.size() && trimmed[end] == u'+') ++end;
  const qsizetype digits = end;
  while (end < trimmed.size() && trimmed[end] >= u'0' && trimmed[end] <= u'9') ++end;
  if (end == digits) return 0;
  if (const auto value = ParseNumber(trimmed.left(end))) {
    return std::clamp(*value, 0, kMaxListedEntries);
  }
  return kMaxListedEntries;
}

QString frmMain::ChooseModuleFile(FileChoice choice) {
  CCommonDialog dialog;
  dialog.eFlag = kOfnExplorer;
  dialog.Parent_hWnd = this;
  dialog.sAppPath = common_.DialogFolder();
  dialog.sFilter = kModuleFilter;
  const QString path = UpToNul(common_.Dialogs().ChooseFile(dialog, choice));
  if (!path.isEmpty()) common_.RememberChosenFile(path);
  return path;
}

void frmMain::ShowTitle() {
  const QString caption = QString::fromUtf8(kWindowCaption);
  setWindowTitle(common_.ModulePath.isEmpty() ? caption
                                              : caption + QStringLiteral(" - ") +
                                                    QDir::toNativeSeparators(common_.ModulePath));
}

void frmMain::cmdNew_Click() {
  QString path = ChooseModuleFile(FileChoice::Save);
  if (path.isEmpty()) return;
  if (!path.right(4).toLower().endsWith(QStringLiteral(".ini"))) path += QStringLiteral(".ini");

  if (QFileInfo::exists(path)) {
    if (!common_.Dialogs().AskYesNo(this, QStringLiteral("文件已存在，是否覆盖写入！"), kTitleHint,
                                    MessageIcon::Question)) {
      return;
    }
    if (!QFile::remove(path)) {
      Inform(QStringLiteral("出现异常错误！"), kTitleError);
      return;
    }
  }
  common_.ModulePath = path;

  auto* window = new frmMain(common_);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  window->ShowAboutSave(true);
  window->fraRule->setEnabled(false);
  window->comPriority->setCurrentIndex(1);
  window->msfConfig->SetTextMatrix(1, 1, QStringLiteral("中"));
  window->msfConfig->SetTextMatrix(3, 1, QStringLiteral("{Time}\t"));
  window->msfConfig->SetTextMatrix(7, 1, QStringLiteral("1"));
  window->msfConfig->SetTextMatrix(8, 1, QStringLiteral("-1"));
  window->fraSet->setEnabled(true);
  window->fraStep->setEnabled(true);
  common_.IsNewModule = true;
  close();
}

bool frmMain::ReadChoices(const QString& file, ModuleChoices& choices) const {
  // The action as the filter reads it; a missing or empty key leaves no
  // action chosen. Values the filter refuses are refused here too.
  choices.execute = ReadIniNumber(kCofing, QStringLiteral("Execute"), file, -1);
  if (choices.execute < -1 || choices.execute >= comExecute->count()) return false;
  // The filter takes the loading priority from Config: 2 first, 0 last,
  // every other value between them. Files saved by earlier editors may hold
  // it in Cofing only.
  constexpr int kMissing = INT_MIN;
  int priority = ReadIniNumber(kConfig, QStringLiteral("Priority"), file, kMissing);
  if (priority == kMissing) priority = ReadIniNumber(kCofing, QStringLiteral("Priority"), file, 0);
  choices.priority = priority == 0 || priority == 2 ? priority : 1;
  return true;
}

void frmMain::cmdOpen_Click() {
  const QString path = ChooseModuleFile(FileChoice::Open);
  if (path.isEmpty()) return;
  // A file that cannot be opened changes nothing: the window keeps showing
  // the module it showed, and saves keep going to that module's file.
  if (!QFileInfo(path).isFile()) {
    Inform(QStringLiteral("找不到模块文件！"), kTitleHint);
    return;
  }
  ModuleChoices choices;
  if (!ReadChoices(path, choices)) {
    Inform(QStringLiteral("模块文件存在错误！"), kTitleError);
    return;
  }
  common_.ModulePath = path;
  common_.IsNewModule = false;
  ShowTitle();

  ShowAboutSave(false);
  fraRule->setEnabled(false);
  fraSet->setEnabled(true);
  fraStep->setEnabled(true);
  LoadModule(choices);
}

void frmMain::LoadModule(const ModuleChoices& choices) {
  const QString& file = common_.ModulePath;
  txtName->setText(ReadIniValue(kAbout, QStringLiteral("Name"), file));
  txtAuthor->setText(ReadIniValue(kAbout, QStringLiteral("Author"), file));
  txtVersion->setText(ReadIniValue(kAbout, QStringLiteral("Version"), file));
  QString about = ReadIniValue(kAbout, QStringLiteral("About"), file);
  about.replace(QStringLiteral("\\n"), QStringLiteral("\n"), Qt::CaseInsensitive);
  txtAbout->setPlainText(about);

  comExecute->setCurrentIndex(choices.execute);
  comPriority->setCurrentIndex(choices.priority);
  comConfig->setEditText(ReadIniValue(kCofing, QStringLiteral("Setp"), file));

  msfConfig->SetTextMatrix(1, 1, comPriority->currentText());
  msfConfig->SetTextMatrix(2, 1, ReadIniValue(kCofing, QStringLiteral("LogName"), file));
  msfConfig->SetTextMatrix(3, 1, ReadIniValue(kCofing, QStringLiteral("LogFileName"), file));
  msfConfig->SetTextMatrix(4, 1, ReadIniValue(kCofing, QStringLiteral("LogContent"), file));
  msfConfig->SetTextMatrix(5, 1, comExecute->currentText());
  msfConfig->SetTextMatrix(6, 1, comConfig->currentText());
  msfConfig->SetTextMatrix(7, 1, ReadIniValue(kCofing, QStringLiteral("Times"), file));
  msfConfig->SetTextMatrix(8, 1, ReadIniValue(kCofing, QStringLiteral("Dateline"), file));

  const QSignalBlocker quietSteps(lvwSetp);
  const QSignalBlocker quietRules(lvwRules);
  lvwSetp->clear();
  const int count = ListedCount(ReadIniValue(kStep, QStringLiteral("Count"), file));
  for (int i = 1; i <= count; ++i) {
    const QString identifier = ReadIniValue(kStep, QString::number(i), file);
    if (ReadIniValue(identifier, QStringLiteral("Count"), file).isEmpty()) continue;
    AddStepItem(lvwSetp, lvwSetp->topLevelItemCount() + 1, identifier,
                ReadIniValue(identifier, QStringLiteral("Times"), file),
                ReadIniValue(identifier, QStringLiteral("LogName"), file),
                ReadIniValue(identifier, QStringLiteral("LogFileName"), file),
                ReadIniValue(identifier, QStringLiteral("LogContent"), file));
  }
  lvwRules->clear();
}

void frmMain::cmdAboutSave_Click() {
  if (!common_.IsNewModule) return;
  if (txtName->text().isEmpty()) {
    Inform(QStringLiteral("模块名称不能为空！"), kTitleHint);
    return;
  }
  if (txtVersion->text().isEmpty()) {
    Inform(QStringLiteral("模块执行版本不能为空！"), kTitleHint);
    return;
  }
  const QString& file = common_.ModulePath;
  QString about = txtAbout->toPlainText();
  about.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
  about.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  about.replace(QLatin1Char('\r'), QStringLiteral("\\n"));
  SaveWarnings warnings;
  warnings.CheckVersion(txtVersion->text());
  warnings.CheckCodePage(lblName->text(), txtName->text());
  warnings.CheckCodePage(lblAuthor->text(), txtAuthor->text());
  warnings.CheckCodePage(lblVersion->text(), txtVersion->text());
  warnings.CheckCodePage(lblAbout->text(), about);
  if (!ConfirmSave(warnings)) return;
  WriteIniValue(kAbout, QStringLiteral("Name"), txtName->text(), file);
  WriteIniValue(kAbout, QStringLiteral("Author"), txtAuthor->text(), file);
  WriteIniValue(kAbout, QStringLiteral("Version"), txtVersion->text(), file);
  WriteIniValue(kAbout, QStringLiteral("About"), about, file);
}

void frmMain::cmdSave_Click() {
  if (comExecute->currentIndex() < 0) {
    Inform(QStringLiteral("请选择执行操作！"), kTitleHint);
    return;
  }
  const QString start = comConfig->currentText();
  if (start.isEmpty()) {
    Inform(QStringLiteral("开始步骤不能为空！"), kTitleHint);
    return;
  }
  if (!IsNumeric(QString(start).remove(QLatin1Char('-')))) {
    Inform(QStringLiteral("开始步骤不符合规则！"), kTitleHint);
    return;
  }
  SaveWarnings warnings;
  for (const int row : {2, 3, 4, 6, 7, 8}) {
    warnings.CheckCodePage(msfConfig->TextMatrix(row, 0), msfConfig->TextMatrix(row, 1));
  }
  if (!ConfirmSave(warnings)) return;
  const QString& file = common_.ModulePath;
  const QString priority = QString::number(comPriority->currentIndex());
  WriteIniValue(kCofing, QStringLiteral("Priority"), priority, file);
  WriteIniValue(kCofing, QStringLiteral("LogName"), msfConfig->TextMatrix(2, 1), file);
  WriteIniValue(kCofing, QStringLiteral("LogFileName"), msfConfig->TextMatrix(3, 1), file);
  WriteIniValue(kCofing, QStringLiteral("LogContent"), msfConfig->TextMatrix(4, 1), file);
  WriteIniValue(kCofing, QStringLiteral("Execute"), QString::number(comExecute->currentIndex()),
                file);
  WriteIniValue(kCofing, QStringLiteral("Setp"), msfConfig->TextMatrix(6, 1), file);
  WriteIniValue(kCofing, QStringLiteral("Times"), msfConfig->TextMatrix(7, 1), file);
  WriteIniValue(kCofing, QStringLiteral("Dateline"), msfConfig->TextMatrix(8, 1), file);
  // The filter takes the loading priority from section Config only, so the
  // same value goes there too.
  WriteIniValue(kConfig, QStringLiteral("Priority"), priority, file);
}

}  // namespace sentrel::editor
