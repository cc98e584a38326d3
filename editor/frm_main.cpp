// Window load and unload, the variable list, and the wiring of the controls
// to the commands.
#include "editor/frm_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "editor/common.h"
#include "editor/flex_grid.h"
#include "editor/ini.h"
#include "editor/save_warnings.h"
#include "editor/user_dialogs.h"

namespace sentrel::editor {

frmMain::frmMain(Common& common, QWidget* parent) : QWidget(parent), common_(common) {
  setObjectName(QStringLiteral("frmMain"));
  setFont(QFont(QStringLiteral("Tahoma"), 9));
  common_.AddWindow(this);

  BuildControls();
  PlaceControls();

  // Window load.
  common_.IsNewModule = false;
  ShowAboutSave(false);
  fraSet->setEnabled(false);
  fraStep->setEnabled(false);
  fraRule->setEnabled(false);
  LoadFixedContents();
  LoadVariableList();
  ConnectCommands();
  common_.Hooks().HookGridWheel(this);
  ShowTitle();
}

frmMain::~frmMain() { Unload(); }

void frmMain::LoadVariableList() {
  QFile file(QString::fromUtf8(kVariableListFile));
  if (!file.open(QIODevice::ReadOnly)) return;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    if (line.isEmpty()) continue;
    comParameter->addItem(FromCodePage(line.toStdString()));
  }
  comParameter->setCurrentIndex(-1);
  comParameter->setEditText(QString());
}

void frmMain::ConnectCommands() {
  for (QWidget* editor : CellEditors()) InstallCellEditor(editor);
  lvwSetp->viewport()->installEventFilter(this);
  lvwRules->viewport()->installEventFilter(this);
  // A step or rule chosen with the keyboard is loaded exactly as a clicked
  // one. Changes the commands make themselves are made with the lists'
  // signals blocked.
  connect(lvwSetp, &QTreeWidget::itemSelectionChanged, this, &frmMain::lvwSetp_Click);
  connect(lvwRules, &QTreeWidget::itemSelectionChanged, this, &frmMain::lvwRules_Click);

  connect(cmdNew, &QPushButton::clicked, this, &frmMain::cmdNew_Click);
  connect(cmdOpen, &QPushButton::clicked, this, &frmMain::cmdOpen_Click);
  connect(cmdAboutSave, &QPushButton::clicked, this, &frmMain::cmdAboutSave_Click);
  connect(cmdSave, &QPushButton::clicked, this, &frmMain::cmdSave_Click);

  connect(msfConfig, &FlexGrid::Click, this, &frmMain::msfConfig_Click);
  connect(msfConfig, &FlexGrid::EnterPressed, this, &frmMain::msfConfig_Click);
  connect(msfSetp, &FlexGrid::Click, this, &frmMain::msfSetp_Click);
  connect(msfSetp, &FlexGrid::EnterPressed, this, &frmMain::msfSetp_Click);
  for (QComboBox* combo : {comTimes, comPriority, comExecute, comConfig}) {
    connect(combo, &QComboBox::activated, this, [this, combo](int) { CellItemChosen(combo); });
  }

  connect(cmdSetpAdd, &QPushButton::clicked, this, &frmMain::cmdSetpAdd_Click);
  connect(cmdSetpSave, &QPushButton::clicked, this, &frmMain::cmdSetpSave_Click);
  connect(cmdSetpDel, &QPushButton::clicked, this, &frmMain::cmdSetpDel_Click);
  connect(cmdSetpTop, &QPushButton::clicked, this, &frmMain::cmdSetpTop_Click);
  connect(cmdSetpUp, &QPushButton::clicked, this, &frmMain::cmdSetpUp_Click);
  connect(cmdSetpDown, &QPushButton::clicked, this, &frmMain::cmdSetpDown_Click);
  connect(cmdSetpBottom, &QPushButton::clicked, this, &frmMain::cmdSetpBottom_Click);

  connect(cmdRuleAdd, &QPushButton::clicked, this, &frmMain::cmdRuleAdd_Click);
  connect(cmdRuleSave, &QPushButton::clicked, this, &frmMain::cmdRuleSave_Click);
  connect(cmdRulesSave, &QPushButton::clicked, this, &frmMain::cmdRulesSave_Click);
  connect(cmdRuleDel, &QPushButton::clicked, this, &frmMain::cmdRuleDel_Click);
  connect(cmdRuleTop, &QPushButton::clicked, this, &frmMain::cmdRuleTop_Click);
  connect(cmdRuleUp, &QPushButton::clicked, this, &frmMain::cmdRuleUp_Click);
  connect(cmdRuleDown, &QPushButton::clicked, this, &frmMain::cmdRuleDown_Click);
  connect(cmdRuleBottom, &QPushButton::clicked, this, &frmMain::cmdRuleBottom_Click);
}

void frmMain::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  common_.Hooks().UnhookGridWheel(this);
  common_.RemoveWindow(this);
}

void frmMain::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();
}

void frmMain::Inform(const QString& text, const QString& title) {
  common_.Dialogs().ShowMessage(this, text, title, MessageIcon::Information);
}

bool frmMain::ConfirmSave(const SaveWarnings& warnings) {
  if (warnings.IsEmpty()) return true;
  return common_.Dialogs().AskYesNo(this, warnings.Question(), QStringLiteral("提示"),
                                    MessageIcon::Warning);
}

}  // namespace sentrel::editor
