// Step and rule editing: the commands of the step list and the rule list, and
// what they write into the module file.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "editor/common.h"
#include "editor/flex_grid.h"
#include "editor/frm_main.h"
#include "editor/ini.h"
#include "editor/list_rows.h"
#include "editor/save_warnings.h"
#include "editor/user_dialogs.h"

namespace sentrel::editor {

namespace {

const QString kTitleHint = QStringLiteral("提示");
const QString kNoStepChosen = QStringLiteral("请选择要操作的步骤！");
const QString kNoRuleChosen = QStringLiteral("请选择要操作的规则！");
const QString kMatch = QStringLiteral("匹配");
const QString kNoMatch = QStringLiteral("不匹配");

QStringList RowTexts(const QTreeWidgetItem* row, int columns) {
  QStringList texts;
  for (int i = 0; i < columns; ++i) texts << row->text(i);
  return texts;
}

// The position a row moves to, or 0 when the move changes nothing.
int MoveTarget(int position, int count, bool towardsStart, bool toEnd) {
  if (towardsStart) {
    if (position <= 1) return 0;
    return toEnd ? 1 : position - 1;
  }
  if (position >= count) return 0;
  return toEnd ? count : position + 1;
}

}  // namespace

QTreeWidgetItem* frmMain::SelectedRow(const QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void frmMain::SelectRow(QTreeWidget* list, int position) {
  const QSignalBlocker quiet(list);
  QTreeWidgetItem* row = list->topLevelItem(position - 1);
  if (row == nullptr) return;
  list->clearSelection();
  list->setCurrentItem(row);
  row->setSelected(true);
}

// ---- Steps -------------------------------------------------------------------

void frmMain::cmdSetpAdd_Click() {
  const std::optional<QString> answer = common_.Dialogs().AskText(
      this, QStringLiteral("请输入该步骤的唯一标识"), kTitleHint, QString());
  if (!answer || answer->isEmpty()) return;
  bool refused = false;
  for (const char* name : {"Cofing", "About", "Step"}) {
    refused = refused || answer->compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
  }
  // The identifier names the step's section: a bracket or a line break in it
  // could never be written as a section name.
  for (const QChar c : {QChar(u']'), QChar(u'\n'), QChar(u'\r')}) {
    refused = refused || answer->contains(c);
  }
  if (refused) {
    Inform(QStringLiteral("标识名不合法！"), kTitleHint);
    return;
  }
  const QSignalBlocker quietSteps(lvwSetp);
  const QSignalBlocker quietRules(lvwRules);
  const int position = lvwSetp->topLevelItemCount() + 1;
  AddStepItem(lvwSetp, position, *answer, QStringLiteral("1"), QString(), QString(), QString());
  lvwRules->clear();
  SelectRow(lvwSetp, position);
  msfSetp->SetTextMatrix(1, 1, QStringLiteral("1"));
  for (int row = 2; row <= 4; ++row) msfSetp->SetTextMatrix(row, 1, QString());
  fraRule->setEnabled(true);
  cmdRuleAdd->setFocus(Qt::OtherFocusReason);
  CurrentRulePos = 1;
}

void frmMain::cmdSetpSave_Click() {
  const QString& file = common_.ModulePath;
  const int count = lvwSetp->topLevelItemCount();
  SaveWarnings warnings;
  warnings.CheckCount(QStringLiteral("步骤"), count);
  for (int i = 1; i <= count; ++i) {
    warnings.CheckCodePage(QStringLiteral("第 %1 个步骤的唯一标识").arg(i),
                           lvwSetp->topLevelItem(i - 1)->text(0));
  }
  if (!ConfirmSave(warnings)) return;
  WriteIniValue(QStringLiteral("Step"), QStringLiteral("Count"), QString::number(count), file);
  for (int i = 1; i <= count; ++i) {
    WriteIniValue(QStringLiteral("Step"), QString::number(i), lvwSetp->topLevelItem(i - 1)->text(0),
                  file);
  }
}

void frmMain::cmdSetpDel_Click() {
  if (lvwSetp->topLevelItemCount() == 0) return;
  QTreeWidgetItem* row = SelectedRow(lvwSetp);
  if (row == nullptr) {
    Inform(kNoStepChosen, kTitleHint);
    return;
  }
  const QSignalBlocker quiet(lvwSetp);
  delete lvwSetp->takeTopLevelItem(lvwSetp->indexOfTopLevelItem(row));
  lvwSetp->clearSelection();
}

void frmMain::MoveStep(Move move) {
  QTreeWidgetItem* row = SelectedRow(lvwSetp);
  if (row == nullptr) {
    Inform(kNoStepChosen, kTitleHint);
    return;
  }
  const int position = lvwSetp->indexOfTopLevelItem(row) + 1;
  const int target = MoveTarget(position, lvwSetp->topLevelItemCount(),
                                move == Move::Top || move == Move::Up,
                                move == Move::Top || move == Move::Bottom);
  if (target == 0) return;
  const QSignalBlocker quiet(lvwSetp);
  const QStringList texts = RowTexts(row, 5);
  delete lvwSetp->takeTopLevelItem(position - 1);
  AddStepItem(lvwSetp, target, texts[0], texts[1], texts[2], texts[3], texts[4]);
  SelectRow(lvwSetp, target);
}

void frmMain::cmdSetpTop_Click() { MoveStep(Move::Top); }
void frmMain::cmdSetpUp_Click() { MoveStep(Move::Up); }
void frmMain::cmdSetpDown_Click() { MoveStep(Move::Down); }
void frmMain::cmdSetpBottom_Click() { MoveStep(Move::Bottom); }

void frmMain::lvwSetp_Click() {
  if (lvwSetp->topLevelItemCount() == 0) return;
  const QTreeWidgetItem* row = SelectedRow(lvwSetp);
  if (row == nullptr) return;
  for (int i = 1; i <= 4; ++i) msfSetp->SetTextMatrix(i, 1, row->text(i));
  LoadStepRules(row->text(0));
  // A rule position left over from the previous step would let the confirm
  // replace a rule of this step that was never chosen.
  CurrentRulePos = 0;
  comParameter->setEditText(QString());
  txtRule->clear();
  fraRule->setEnabled(true);
}

void frmMain::LoadStepRules(const QString& identifier) {
  const QSignalBlocker quiet(lvwRules);
  lvwRules->clear();
  const QString& file = common_.ModulePath;
  const int count = ListedCount(ReadIniValue(identifier, QStringLiteral("Count"), file));
  for (int i = 1; i <= count; ++i) {
    const QString number = QString::number(i);
    const QString parameter = ReadIniValue(identifier, number + QStringLiteral("_Parameter"), file);
    const QString compare = ReadIniValue(identifier, number + QStringLiteral("_Compare"), file);
    const QString pattern = ReadIniValue(identifier, number + QStringLiteral("_Rule"), file);
    if (parameter.isEmpty()) continue;
    AddRuleItem(lvwRules, lvwRules->topLevelItemCount() + 1, parameter,
                compare == QStringLiteral("0") ? kNoMatch : kMatch, pattern);
  }
}

// ---- Rules -------------------------------------------------------------------

void frmMain::cmdRuleAdd_Click() {
  CurrentRulePos = lvwRules->topLevelItemCount() + 1;
  comParameter->setEditText(QString());
  txtRule->clear();
  comParameter->setFocus(Qt::OtherFocusReason);
}

void frmMain::cmdRuleSave_Click() {
  if (comParameter->currentText().isEmpty()) {
    Inform(QStringLiteral("参数不能为空！"), kTitleHint);
    return;
  }
  const int count = lvwRules->topLevelItemCount();
  if (CurrentRulePos < 1 || CurrentRulePos > count + 1) {
    Inform(QStringLiteral("请先点击“添加”新建规则，或在规则列表中选择要修改的规则！"), kTitleHint);
    return;
  }
  const QSignalBlocker quiet(lvwRules);
  if (CurrentRulePos <= count) delete lvwRules->takeTopLevelItem(CurrentRulePos - 1);
  AddRuleItem(lvwRules, CurrentRulePos, comParameter->currentText(), comCompare->currentText(),
              txtRule->text());
  comParameter->setEditText(QString());
  txtRule->clear();
  lvwRules->setFocus(Qt::OtherFocusReason);
}

void frmMain::cmdRulesSave_Click() {
  if (comTimes->currentText().isEmpty()) {
    Inform(QStringLiteral("匹配次数不能为空！"), kTitleHint);
    return;
  }
  QTreeWidgetItem* step = SelectedRow(lvwSetp);
  if (step == nullptr) {
    // No step to write to; nothing is written.
    Inform(kNoStepChosen, kTitleHint);
    return;
  }
  const QString section = step->text(0);
  const QString& file = common_.ModulePath;
  const int count = lvwRules->topLevelItemCount();
  SaveWarnings warnings;
  warnings.CheckCount(QStringLiteral("规则"), count);
  warnings.CheckCodePage(QStringLiteral("唯一标识"), section);
  for (int row = 1; row <= 4; ++row) {
    warnings.CheckCodePage(QStringLiteral("步骤的") + msfSetp->TextMatrix(row, 0),
                           msfSetp->TextMatrix(row, 1));
  }
  for (int i = 1; i <= count; ++i) {
    const QTreeWidgetItem* rule = lvwRules->topLevelItem(i - 1);
    warnings.CheckCodePage(QStringLiteral("第 %1 条规则的参数").arg(i), rule->text(0));
    warnings.CheckCodePage(QStringLiteral("第 %1 条规则的规则").arg(i), rule->text(2));
  }
  if (!ConfirmSave(warnings)) return;
  WriteIniValue(section, QStringLiteral("Count"), QString::number(count), file);
  WriteIniValue(section, QStringLiteral("Times"), msfSetp->TextMatrix(1, 1), file);
  WriteIniValue(section, QStringLiteral("LogName"), msfSetp->TextMatrix(2, 1), file);
  WriteIniValue(section, QStringLiteral("LogFileName"), msfSetp->TextMatrix(3, 1), file);
  WriteIniValue(section, QStringLiteral("LogContent"), msfSetp->TextMatrix(4, 1), file);
  for (int i = 1; i <= count; ++i) {
    const QTreeWidgetItem* rule = lvwRules->topLevelItem(i - 1);
    const QString number = QString::number(i);
    const bool match = rule->text(1).compare(kMatch, Qt::CaseInsensitive) == 0;
    WriteIniValue(section, number + QStringLiteral("_Parameter"), rule->text(0), file);
    WriteIniValue(section, number + QStringLiteral("_Compare"),
                  match ? QStringLiteral("1") : QStringLiteral("0"), file);
    WriteIniValue(section, number + QStringLiteral("_Rule"), rule->text(2), file);
  }
  for (int i = 1; i <= 4; ++i) step->setText(i, msfSetp->TextMatrix(i, 1));
}

void frmMain::cmdRuleDel_Click() {
  if (lvwRules->topLevelItemCount() == 0) return;
  QTreeWidgetItem* row = SelectedRow(lvwRules);
  if (row == nullptr) {
    Inform(kNoRuleChosen, kTitleHint);
    return;
  }
  const QSignalBlocker quiet(lvwRules);
  delete lvwRules->takeTopLevelItem(lvwRules->indexOfTopLevelItem(row));
  lvwRules->clearSelection();
}

void frmMain::MoveRule(Move move) {
  QTreeWidgetItem* row = SelectedRow(lvwRules);
  if (row == nullptr) {
    Inform(kNoRuleChosen, kTitleHint);
    return;
  }
  const int position = lvwRules->indexOfTopLevelItem(row) + 1;
  const int target = MoveTarget(position, lvwRules->topLevelItemCount(),
                                move == Move::Top || move == Move::Up,
                                move == Move::Top || move == Move::Bottom);
  if (target == 0) return;
  const QSignalBlocker quiet(lvwRules);
  const QStringList texts = RowTexts(row, 3);
  delete lvwRules->takeTopLevelItem(position - 1);
  AddRuleItem(lvwRules, target, texts[0], texts[1], texts[2]);
  SelectRow(lvwRules, target);
}

void frmMain::cmdRuleTop_Click() { MoveRule(Move::Top); }
void frmMain::cmdRuleUp_Click() { MoveRule(Move::Up); }
void frmMain::cmdRuleDown_Click() { MoveRule(Move::Down); }
void frmMain::cmdRuleBottom_Click() { MoveRule(Move::Bottom); }

void frmMain::lvwRules_Click() {
  if (lvwRules->topLevelItemCount() == 0) return;
  QTreeWidgetItem* row = SelectedRow(lvwRules);
  if (row == nullptr) return;
  CurrentRulePos = lvwRules->indexOfTopLevelItem(row) + 1;
  comParameter->setEditText(row->text(0));
  comCompare->setCurrentIndex(comCompare->findText(row->text(1)));
  txtRule->setText(row->text(2));
}

}  // namespace sentrel::editor
