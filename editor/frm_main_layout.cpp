// The main window's layout: its controls with their names and captions, their
// geometry in twips, and the fixed contents of its lists and grids. What the
// controls do is in frm_main.cpp (load, unload, wiring), frm_main_cells.cpp,
// frm_main_module.cpp and frm_main_steps.cpp.
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <array>
#include <utility>

#include "editor/flex_grid.h"
#include "editor/frm_main.h"
#include "editor/twips.h"

namespace sentrel::editor {

namespace {

template <typename T>
T* Make(QWidget* parent, const char* name) {
  auto* widget = new T(parent);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = Make<QPushButton>(parent, name);
  button->setText(caption);
  button->setAutoDefault(false);
  return button;
}

// The row of buttons under a list, from the left: add, save, delete, to the
// top, up, down, to the bottom.
void MakeListButtons(QWidget* frame,
                     const std::array<std::pair<QPushButton**, const char*>, 7>& buttons) {
  static const char16_t* const kCaptions[] = {u"添加", u"保存", u"删除", u"置顶",
                                              u"上移", u"下移", u"置底"};
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    *buttons[i].first = MakeButton(frame, buttons[i].second, QString::fromUtf16(kCaptions[i]));
  }
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption) {
  auto* frame = Make<QGroupBox>(parent, name);
  frame->setTitle(caption);
  return frame;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  auto* label = Make<QLabel>(parent, name);
  label->setText(caption);
  return label;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, bool typedText) {
  auto* combo = Make<QComboBox>(parent, name);
  combo->setEditable(typedText);
  combo->setInsertPolicy(QComboBox::NoInsert);
  // No completion: a typed "HTTP_X" must stay "HTTP_X" and never become a
  // longer item of the list such as "HTTP_X_FORWARDED_FOR".
  if (typedText) combo->setCompleter(nullptr);
  return combo;
}

void SetUpList(QTreeWidget* list, const Twips& tw, const QList<std::pair<QString, int>>& columns) {
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->header()->setVisible(true);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  list->clear();
  list->setColumnCount(0);
  QStringList captions;
  for (const auto& column : columns) captions << column.first;
  list->setColumnCount(static_cast<int>(columns.size()));
  list->setHeaderLabels(captions);
  for (int i = 0; i < columns.size(); ++i) list->setColumnWidth(i, tw.X(columns[i].second));
}

}  // namespace

void frmMain::BuildControls() {
  cmdNew = MakeButton(this, "cmdNew", QStringLiteral("新建(&New)"));
  cmdOpen = MakeButton(this, "cmdOpen", QStringLiteral("打开(&Open)"));

  fraAbout = MakeFrame(this, "fraAbout", QStringLiteral("关于"));
  lblName = MakeLabel(fraAbout, "lblName", QStringLiteral("名称"));
  txtName = Make<QLineEdit>(fraAbout, "txtName");
  lblAuthor = MakeLabel(fraAbout, "lblAuthor", QStringLiteral("作者"));
  txtAuthor = Make<QLineEdit>(fraAbout, "txtAuthor");
  lblVersion = MakeLabel(fraAbout, "lblVersion", QStringLiteral("版本"));
  txtVersion = Make<QLineEdit>(fraAbout, "txtVersion");
  lblAbout = MakeLabel(fraAbout, "lblAbout", QStringLiteral("说明介绍"));
  txtAbout = Make<QPlainTextEdit>(fraAbout, "txtAbout");
  cmdAboutSave = MakeButton(fraAbout, "cmdAboutSave", QStringLiteral("保存"));

  fraSet = MakeFrame(this, "fraSet", QStringLiteral("参数"));
  msfConfig = Make<FlexGrid>(fraSet, "msfConfig");
  comPriority = MakeCombo(fraSet, "comPriority", false);
  comExecute = MakeCombo(fraSet, "comExecute", false);
  comConfig = MakeCombo(fraSet, "comConfig", true);
  txtConfig = Make<QLineEdit>(fraSet, "txtConfig");
  cmdSave = MakeButton(fraSet, "cmdSave", QStringLiteral("保存"));

  fraStep = MakeFrame(this, "fraStep", QStringLiteral("步骤"));
  lvwSetp = Make<QTreeWidget>(fraStep, "lvwSetp");
  MakeListButtons(fraStep, {{{&cmdSetpAdd, "cmdSetpAdd"},
                             {&cmdSetpSave, "cmdSetpSave"},
                             {&cmdSetpDel, "cmdSetpDel"},
                             {&cmdSetpTop, "cmdSetpTop"},
                             {&cmdSetpUp, "cmdSetpUp"},
                             {&cmdSetpDown, "cmdSetpDown"},
                             {&cmdSetpBottom, "cmdSetpBottom"}}});

  fraRule = MakeFrame(this, "fraRule", QStringLiteral("规则"));
  lvwRules = Make<QTreeWidget>(fraRule, "lvwRules");
  MakeListButtons(fraRule, {{{&cmdRuleAdd, "cmdRuleAdd"},
                             {&cmdRulesSave, "cmdRulesSave"},
                             {&cmdRuleDel, "cmdRuleDel"},
                             {&cmdRuleTop, "cmdRuleTop"},
                             {&cmdRuleUp, "cmdRuleUp"},
                             {&cmdRuleDown, "cmdRuleDown"},
                             {&cmdRuleBottom, "cmdRuleBottom"}}});
  lblParameter = MakeLabel(fraRule, "lblParameter", QStringLiteral("参数"));
  comParameter = MakeCombo(fraRule, "comParameter", true);
  lblCompare = MakeLabel(fraRule, "lblCompare", QStringLiteral("比较"));
  comCompare = MakeCombo(fraRule, "comCompare", false);
  lblRule = MakeLabel(fraRule, "lblRule", QStringLiteral("规则"));
  txtRule = Make<QLineEdit>(fraRule, "txtRule");
  cmdRuleSave = MakeButton(fraRule, "cmdRuleSave", QStringLiteral("确定"));
  fraStepConfig = MakeFrame(fraRule, "fraStepConfig", QStringLiteral("参数"));
  msfSetp = Make<FlexGrid>(fraStepConfig, "msfSetp");
  comTimes = MakeCombo(fraStepConfig, "comTimes", true);
  txtStepConfig = Make<QLineEdit>(fraStepConfig, "txtStepConfig");

  // The cell editors show only while a cell is edited.
  for (QWidget* editor : CellEditors()) editor->hide();
}

void frmMain::PlaceControls() {
  const Twips tw(this);
  setFixedSize(tw.X(12405), tw.Y(7665));

  fraAbout->setGeometry(tw.Rect(120, 120, 3375, 3375));
  lblName->setGeometry(tw.Rect(120, 270, 480, 255));
  txtName->setGeometry(tw.Rect(600, 240, 2655, 285));
  lblAuthor->setGeometry(tw.Rect(120, 630, 480, 255));
  txtAuthor->setGeometry(tw.Rect(600, 600, 1215, 285));
  lblVersion->setGeometry(tw.Rect(1980, 630, 600, 255));
  txtVersion->setGeometry(tw.Rect(2640, 600, 615, 285));
  lblAbout->setGeometry(tw.Rect(120, 1020, 3135, 255));
  txtAbout->setGeometry(tw.Rect(120, 1320, 3135, 1935));
  cmdAboutSave->setGeometry(tw.Rect(1200, 2880, 1035, 315));

  fraSet->setGeometry(tw.Rect(120, 3600, 3375, 3255));
  msfConfig->setGeometry(tw.Rect(120, 240, 3135, 2415));
  cmdSave->setGeometry(tw.Rect(1200, 2760, 1035, 315));

  fraStep->setGeometry(tw.Rect(3600, 120, 8655, 2775));
  lvwSetp->setGeometry(tw.Rect(120, 240, 8415, 1935));
  const int rowLefts[] = {120, 1360, 2600, 3840, 5080, 6320, 7560};
  QPushButton* stepButtons[] = {cmdSetpAdd, cmdSetpSave, cmdSetpDel,   cmdSetpTop,
                                cmdSetpUp,  cmdSetpDown, cmdSetpBottom};
  for (int i = 0; i < 7; ++i) stepButtons[i]->setGeometry(tw.Rect(rowLefts[i], 2280, 915, 375));

  fraRule->setGeometry(tw.Rect(3600, 3000, 8655, 4575));
  lvwRules->setGeometry(tw.Rect(120, 240, 8415, 2055));
  QPushButton* ruleButtons[] = {cmdRuleAdd, cmdRulesSave, cmdRuleDel,   cmdRuleTop,
                                cmdRuleUp,  cmdRuleDown,  cmdRuleBottom};
  for (int i = 0; i < 7; ++i) ruleButtons[i]->setGeometry(tw.Rect(rowLefts[i], 2400, 915, 375));
  lblParameter->setGeometry(tw.Rect(120, 3150, 480, 255));
  comParameter->setGeometry(tw.Rect(600, 3120, 2415, 315));
  lblCompare->setGeometry(tw.Rect(120, 3630, 480, 255));
  comCompare->setGeometry(tw.Rect(600, 3600, 1335, 315));
  lblRule->setGeometry(tw.Rect(120, 4095, 480, 255));
  txtRule->setGeometry(tw.Rect(600, 4080, 4455, 285));
  cmdRuleSave->setGeometry(tw.Rect(3720, 3480, 1275, 435));
  fraStepConfig->setGeometry(tw.Rect(5400, 2880, 3135, 1575));
  msfSetp->setGeometry(tw.Rect(120, 240, 2895, 1215));

  cmdOpen->setGeometry(tw.Rect(120, 6960, 1515, 555));
  cmdNew->setGeometry(tw.Rect(1960, 6960, 1515, 555));
}

void frmMain::ShowAboutSave(bool shown) {
  const Twips tw(this);
  cmdAboutSave->setVisible(shown);
  txtAbout->setGeometry(tw.Rect(120, 1320, 3135, shown ? 1440 : 1935));
}

void frmMain::LoadFixedContents() {
  const Twips tw(this);
  comExecute->clear();
  // The item's position is the stored action: 0 block, 1 log only, 2 allow,
  // 3 picture-code challenge.
  comExecute->addItems({QStringLiteral("拦截"), QStringLiteral("不处理"), QStringLiteral("不限制"),
                        QStringLiteral("验证码")});
  comExecute->setCurrentIndex(-1);
  comPriority->clear();
  comPriority->addItems({QStringLiteral("低"), QStringLiteral("中"), QStringLiteral("高")});
  comPriority->setCurrentIndex(-1);
  comTimes->clear();
  comTimes->addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("0-3")});
  comCompare->clear();
  comCompare->addItems({QStringLiteral("匹配"), QStringLiteral("不匹配")});
  // A new rule wants a match unless another choice is made; a rule without a
  // choice would be stored as one that must not match.
  comCompare->setCurrentIndex(0);

  SetUpList(lvwSetp, tw,
            {{QStringLiteral("唯一标识"), 1800},
             {QStringLiteral("次数"), 1200},
             {QStringLiteral("日志类型"), 1200},
             {QStringLiteral("日志文件"), 1200},
             {QStringLiteral("日志内容"), 2600}});
  SetUpList(lvwRules, tw,
            {{QStringLiteral("参数"), 1800},
             {QStringLiteral("比较"), 1200},
             {QStringLiteral("规则"), 5200}});

  const int fixedRowHeight = std::max(tw.Y(240), fontMetrics().height() + 6);
  msfSetp->SetSize(5, 2);
  msfSetp->SetColWidth(0, tw.X(800));
  msfSetp->SetColWidth(1, tw.X(1850));
  msfSetp->SetRowHeight(0, fixedRowHeight);
  for (int row = 1; row <= 4; ++row) msfSetp->SetRowHeight(row, tw.Y(300));
  const QString stepLabels[] = {QStringLiteral("匹配次数"), QStringLiteral("日志类型"),
                                QStringLiteral("日志文件"), QStringLiteral("日志内容")};
  for (int row = 1; row <= 4; ++row) msfSetp->SetTextMatrix(row, 0, stepLabels[row - 1]);
  msfSetp->SetCurrentCell(1, 1);

  msfConfig->SetSize(9, 2);
  msfConfig->SetColWidth(0, tw.X(850));
  msfConfig->SetColWidth(1, tw.X(1900));
  msfConfig->SetRowHeight(0, fixedRowHeight);
  for (int row = 1; row <= 8; ++row) msfConfig->SetRowHeight(row, tw.Y(300));
  const QString configLabels[] = {QStringLiteral("优先级"),   QStringLiteral("日志类型"),
                                  QStringLiteral("日志文件"), QStringLiteral("日志内容"),
                                  QStringLiteral("执行操作"), QStringLiteral("开始步骤"),
                                  QStringLiteral("匹配次数"), QStringLiteral("有效时间")};
  for (int row = 1; row <= 8; ++row) msfConfig->SetTextMatrix(row, 0, configLabels[row - 1]);
  msfConfig->SetCurrentCell(1, 1);
}

}  // namespace sentrel::editor
