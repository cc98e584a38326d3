// Step and rule editing: the editors over the grid cells, the step list and
// rule list commands, and what the two saves write into the module file.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "editor/flex_grid.h"
#include "editor/twips.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

namespace {

QStringList Rows(const QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < list->columnCount(); ++c) cells << list->topLevelItem(i)->text(c);
    rows << cells.join('|');
  }
  return rows;
}

QStringList FirstColumn(const QTreeWidget* list) {
  QStringList names;
  for (int i = 0; i < list->topLevelItemCount(); ++i) names << list->topLevelItem(i)->text(0);
  return names;
}

int SelectedPosition(const QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  if (selected.size() != 1) return 0;
  return list->indexOfTopLevelItem(selected.first()) + 1;
}

QStringList Cells(const FlexGrid* grid) {
  QStringList texts;
  for (int row = 1; row < grid->Rows(); ++row) texts << grid->TextMatrix(row, 1);
  return texts;
}

QByteArray Module() {
  return GbkLines({"[About]", "Name=规则测试", "Version=4.3.0", "[Cofing]", "Priority=1",
                   "LogName=", "LogFileName=", "LogContent=", "Execute=0", "Setp=0", "Times=1",
                   "Dateline=60", "[Step]", "Count=2", "1=甲", "2=乙", "[甲]", "Count=3",
                   "Times=3", "LogName=步骤日志", "LogFileName=f.log", "LogContent=c",
                   "1_Parameter=REMOTE_ADDR", "1_Compare=1", "1_Rule=^10\\.",
                   "2_Parameter=", "2_Compare=0", "2_Rule=ignored", "3_Parameter=HTTP_USER_AGENT",
                   "3_Compare=0", "3_Rule=爬虫", "[乙]", "Count=4", "Times=1", "LogName=",
                   "LogFileName=", "LogContent=", "1_Parameter=URL", "1_Compare=false",
                   "1_Rule=a", "2_Parameter=URL", "2_Compare=00", "2_Rule=b",
                   "3_Parameter=URL", "3_Rule=c", "4_Parameter=QUERY_STRING", "4_Compare=0",
                   "4_Rule="});
}

void Expect(const ScriptedDialogs& dialogs, const QString& text, const QString& title) {
  const QList<Shown> messages = dialogs.Messages();
  QCOMPARE(messages.size(), 1);
  QCOMPARE(messages[0].text, text);
  QCOMPARE(messages[0].title, title);
  QCOMPARE(messages[0].icon, MessageIcon::Information);
}

}  // namespace

class TestEditing : public QObject {
  Q_OBJECT

  std::unique_ptr<EditorFixture> fx;
  QString file;

  frmMain* OpenSample() {
    file = fx->Path("module.ini");
    WriteBytes(file, Module());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    return w;
  }

  frmMain* NewModuleWithSteps(const QStringList& identifiers) {
    frmMain* w = fx->NewWith(fx->StartWindow(), fx->Path("steps"));
    file = fx->common->ModulePath;
    for (const QString& id : identifiers) {
      fx->dialogs.textAnswers.push_back(id);
      Click(w->cmdSetpAdd);
    }
    fx->dialogs.Clear();
    return w;
  }

 private slots:
  void init() { fx = std::make_unique<EditorFixture>(); }
  void cleanup() { fx.reset(); }

  // ---- Cell editors -------------------------------------------------------

  void textCellEditorOpensOverTheCellAndCommitsWithEnter() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 2, 1);
    QVERIFY(w->txtConfig->isVisible());
    QCOMPARE(w->txtConfig->text(), QString());
    const Twips tw(w);
    const QPoint origin = w->msfConfig->geometry().topLeft();
    QCOMPARE(w->txtConfig->x(), origin.x() + w->msfConfig->ColPos(1) + tw.X(50));
    QCOMPARE(w->txtConfig->y(), origin.y() + w->msfConfig->RowPos(2) + tw.Y(50));
    QCOMPARE(w->txtConfig->width(), w->msfConfig->ColWidth(1) - tw.X(20));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->txtConfig));

    TypeText(w->txtConfig, "访问日志");
    PressKey(w->txtConfig, Qt::Key_Return);
    QCOMPARE(w->msfConfig->TextMatrix(2, 1), QString("访问日志"));
    QVERIFY(!w->txtConfig->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->msfConfig));
  }

  void escapeAndLostFocusDropTheEdit() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 8, 1);
    QCOMPARE(w->txtConfig->text(), QString("60"));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->txtConfig));
    TypeText(w->txtConfig, "0");
    PressKey(w->txtConfig, Qt::Key_Escape);
    QCOMPARE(w->msfConfig->TextMatrix(8, 1), QString("60"));
    QVERIFY(!w->txtConfig->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->msfConfig));

    ClickCell(w, w->msfConfig, 8, 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->txtConfig));
    TypeText(w->txtConfig, "5");
    QTest::mouseClick(w->txtName, Qt::LeftButton);
    QVERIFY(!w->txtConfig->isVisible());
    QCOMPARE(w->msfConfig->TextMatrix(8, 1), QString("60"));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->msfConfig));

    // The typed text was dropped: a save stores the cell.
    Click(w->cmdSave);
    QCOMPARE(fx->Read("Cofing", "Dateline", file), QString("60"));
  }

  void choosingAnItemCommitsAtOnceAndKeepsTheEditorOpen() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 5, 1);
    QVERIFY(w->comExecute->isVisible());
    QCOMPARE(w->comExecute->currentText(), QString("拦截"));
    ChooseItem(w->comExecute, 2);
    QCOMPARE(w->msfConfig->TextMatrix(5, 1), QString("不限制"));
    QVERIFY(w->comExecute->isVisible());
    PressKey(w->comExecute, Qt::Key_Escape);
    QVERIFY(!w->comExecute->isVisible());
    QCOMPARE(w->msfConfig->TextMatrix(5, 1), QString("不限制"));
    Click(w->cmdSave);
    QCOMPARE(fx->Read("Cofing", "Execute", file), QString("2"));
  }

  void priorityEditorAlwaysTargetsRowOne() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 1, 1);
    QVERIFY(w->comPriority->isVisible());
    ChooseItem(w->comPriority, 2);
    QCOMPARE(w->msfConfig->TextMatrix(1, 1), QString("高"));
    w->comPriority->setCurrentIndex(0);
    w->msfConfig->SetCurrentCell(4, 1);
    PressKey(w->comPriority, Qt::Key_Return);
    QCOMPARE(w->msfConfig->TextMatrix(1, 1), QString("低"));
    QCOMPARE(w->msfConfig->TextMatrix(4, 1), QString());
    QVERIFY(!w->comPriority->isVisible());
  }

  void startStepEditorOffersItsItemsAndTakesTypedText() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 6, 1);
    QVERIFY(w->comConfig->isVisible());
    QCOMPARE(w->comConfig->count(), 2);
    QCOMPARE(w->comConfig->itemText(0), QString("1"));
    QCOMPARE(w->comConfig->itemText(1), QString("1-10"));
    QCOMPARE(w->comConfig->currentText(), QString("0"));
    w->comConfig->lineEdit()->selectAll();
    TypeText(w->comConfig, "2-5");
    PressKey(w->comConfig, Qt::Key_Return);
    QCOMPARE(w->msfConfig->TextMatrix(6, 1), QString("2-5"));
    QCOMPARE(w->comConfig->count(), 2);  // typed text is not added as an item
    Click(w->cmdSave);
    QCOMPARE(fx->Read("Cofing", "Setp", file), QString("2-5"));
    // Reopening the cell starts again from the fixed items.
    ClickCell(w, w->msfConfig, 6, 1);
    QCOMPARE(w->comConfig->count(), 2);
  }

  void enterOnTheGridOpensTheCurrentCellAndOtherEditorsHide() {
    frmMain* w = OpenSample();
    ClickCell(w, w->msfConfig, 1, 1);
    QVERIFY(w->comPriority->isVisible());
    ClickCell(w, w->msfConfig, 7, 1);
    QVERIFY(!w->comPriority->isVisible());
    QVERIFY(w->txtConfig->isVisible());
    QCOMPARE(w->txtConfig->text(), QString("1"));
    PressKey(w->txtConfig, Qt::Key_Escape);
    w->msfConfig->SetCurrentCell(5, 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->msfConfig));
    PressKey(w->msfConfig, Qt::Key_Return);
    QVERIFY(w->comExecute->isVisible());
    QVERIFY(!w->txtConfig->isVisible());
  }

  void stepGridEditors() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    QCOMPARE(Cells(w->msfSetp), (QStringList{"3", "步骤日志", "f.log", "c"}));
    ClickCell(w, w->msfSetp, 1, 1);
    QVERIFY(w->comTimes->isVisible());
    QCOMPARE(w->comTimes->currentText(), QString("3"));
    ChooseItem(w->comTimes, 2);
    QCOMPARE(w->msfSetp->TextMatrix(1, 1), QString("0-3"));
    QVERIFY(w->comTimes->isVisible());
    ClickCell(w, w->msfSetp, 2, 1);
    QVERIFY(!w->comTimes->isVisible());
    QVERIFY(w->txtStepConfig->isVisible());
    QCOMPARE(w->txtStepConfig->text(), QString("步骤日志"));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->txtStepConfig));
    w->txtStepConfig->clear();
    TypeText(w->txtStepConfig, "新日志");
    PressKey(w->txtStepConfig, Qt::Key_Enter);
    QCOMPARE(w->msfSetp->TextMatrix(2, 1), QString("新日志"));
    QVERIFY(!w->txtStepConfig->isVisible());
  }

  // ---- Steps --------------------------------------------------------------

  void stepAddAppendsASelectedRowAndWritesNothing() {
    frmMain* w = OpenSample();
    fx->dialogs.Clear();
    fx->dialogs.textAnswers.push_back(QString("第三步"));
    Click(w->cmdSetpAdd);
    QCOMPARE(fx->dialogs.shown.size(), 1);
    QCOMPARE(fx->dialogs.shown[0].kind, Shown::Kind::Input);
    QCOMPARE(fx->dialogs.shown[0].text, QString("请输入该步骤的唯一标识"));
    QCOMPARE(fx->dialogs.shown[0].title, QString("提示"));
    QCOMPARE(Rows(w->lvwSetp).last(), QString("第三步|1|||"));
    QCOMPARE(SelectedPosition(w->lvwSetp), 3);
    QCOMPARE(Cells(w->msfSetp), (QStringList{"1", "", "", ""}));
    QCOMPARE(w->lvwRules->topLevelItemCount(), 0);
    QVERIFY(w->fraRule->isEnabled());
    QCOMPARE(w->CurrentRulePos, 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->cmdRuleAdd));
    QCOMPARE(ReadBytes(file), Module());

    fx->dialogs.textAnswers.push_back(QString("甲"));  // a repeated identifier is accepted
    Click(w->cmdSetpAdd);
    QCOMPARE(FirstColumn(w->lvwSetp), (QStringList{"甲", "乙", "第三步", "甲"}));
  }

  void stepAddRefusals_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << true << "" << "";
    QTest::newRow("empty") << false << "" << "";
    QTest::newRow("step in lower case") << false << "step" << "标识名不合法！";
    QTest::newRow("COFING") << false << "COFING" << "标识名不合法！";
    QTest::newRow("About") << false << "About" << "标识名不合法！";
    QTest::newRow("closing bracket") << false << "a]b" << "标识名不合法！";
    QTest::newRow("line break") << false << "a\nb" << "标识名不合法！";
  }
  void stepAddRefusals() {
    QFETCH(bool, cancelled);
    QFETCH(QString, answer);
    QFETCH(QString, message);
    frmMain* w = OpenSample();
    fx->dialogs.Clear();
    fx->dialogs.textAnswers.push_back(cancelled ? std::nullopt : std::optional<QString>(answer));
    Click(w->cmdSetpAdd);
    if (message.isEmpty()) {
      QVERIFY(fx->dialogs.Messages().isEmpty());
    } else {
      Expect(fx->dialogs, message, "提示");
    }
    QCOMPARE(w->lvwSetp->topLevelItemCount(), 2);
    QVERIFY(!w->fraRule->isEnabled());
    QCOMPARE(w->CurrentRulePos, 0);
  }

  void stepsSaveAfterAShorterListLeavesTheOldKeys() {
    frmMain* w = NewModuleWithSteps({"A", "B", "C", "D", "E"});
    Click(w->cmdSetpSave);
    QCOMPARE(ReadBytes(file),
             GbkLines({"[Step]", "Count=5", "1=A", "2=B", "3=C", "4=D", "5=E"}));
    ClickRow(w->lvwSetp, 4);
    Click(w->cmdSetpDel);
    ClickRow(w->lvwSetp, 2);
    Click(w->cmdSetpDel);
    QCOMPARE(FirstColumn(w->lvwSetp), (QStringList{"A", "C", "E"}));
    Click(w->cmdSetpSave);
    QCOMPARE(ReadBytes(file),
             GbkLines({"[Step]", "Count=3", "1=A", "2=C", "3=E", "4=D", "5=E"}));
    QVERIFY(fx->dialogs.Messages().isEmpty());
  }

  void stepDelete() {
    frmMain* w = NewModuleWithSteps({});
    Click(w->cmdSetpDel);  // no rows: nothing happens
    QVERIFY(fx->dialogs.shown.isEmpty());

    w = OpenSample();
    fx->dialogs.Clear();
    Click(w->cmdSetpDel);
    Expect(fx->dialogs, "请选择要操作的步骤！", "提示");
    QCOMPARE(w->lvwSetp->topLevelItemCount(), 2);

    ClickRow(w->lvwSetp, 1);
    const QStringList shownCells = Cells(w->msfSetp);
    const QStringList shownRules = Rows(w->lvwRules);
    Click(w->cmdSetpDel);
    QCOMPARE(FirstColumn(w->lvwSetp), QStringList{"乙"});
    QCOMPARE(Cells(w->msfSetp), shownCells);
    QCOMPARE(Rows(w->lvwRules), shownRules);
    QCOMPARE(SelectedPosition(w->lvwSetp), 0);
    QCOMPARE(ReadBytes(file), Module());
  }

  void stepMoves_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("position");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<int>("selected");
    QTest::newRow("top on the first row") << "cmdSetpTop" << 1 << QStringList{"A", "B", "C"} << 1;
    QTest::newRow("up on the first row") << "cmdSetpUp" << 1 << QStringList{"A", "B", "C"} << 1;
    QTest::newRow("down on the last row") << "cmdSetpDown" << 3 << QStringList{"A", "B", "C"} << 3;
    QTest::newRow("bottom on the last row")
        << "cmdSetpBottom" << 3 << QStringList{"A", "B", "C"} << 3;
    QTest::newRow("up on row 3 of 3") << "cmdSetpUp" << 3 << QStringList{"A", "C", "B"} << 2;
    QTest::newRow("top on row 3") << "cmdSetpTop" << 3 << QStringList{"C", "A", "B"} << 1;
    QTest::newRow("down on row 1") << "cmdSetpDown" << 1 << QStringList{"B", "A", "C"} << 2;
    QTest::newRow("bottom on row 1") << "cmdSetpBottom" << 1 << QStringList{"B", "C", "A"} << 3;
    QTest::newRow("bottom on row 2") << "cmdSetpBottom" << 2 << QStringList{"A", "C", "B"} << 3;
  }
  void stepMoves() {
    QFETCH(QString, command);
    QFETCH(int, position);
    QFETCH(QStringList, order);
    QFETCH(int, selected);
    frmMain* w = NewModuleWithSteps({"A", "B", "C"});
    w->lvwSetp->topLevelItem(1)->setText(2, "日志B");
    ClickRow(w->lvwSetp, position);
    Click(w->findChild<QPushButton*>(command));
    QCOMPARE(FirstColumn(w->lvwSetp), order);
    QCOMPARE(SelectedPosition(w->lvwSetp), selected);
    const int b = static_cast<int>(order.indexOf("B"));
    QCOMPARE(Rows(w->lvwSetp)[b], QString("B|1|日志B||"));  // the row carries its values
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QVERIFY(!QFile::exists(file));
  }

  void stepMovesWithoutASelectedRow() {
    frmMain* w = OpenSample();
    for (QPushButton* b : {w->cmdSetpTop, w->cmdSetpUp, w->cmdSetpDown, w->cmdSetpBottom}) {
      fx->dialogs.Clear();
      Click(b);
      Expect(fx->dialogs, "请选择要操作的步骤！", "提示");
      QCOMPARE(FirstColumn(w->lvwSetp), (QStringList{"甲", "乙"}));
    }
  }

  void choosingAStepLoadsItsRulesFromTheFile() {
    frmMain* w = OpenSample();
    w->comParameter->setEditText("left over");
    w->txtRule->setText("left over");
    ClickRow(w->lvwSetp, 1);
    QVERIFY(w->fraRule->isEnabled());
    QCOMPARE(Cells(w->msfSetp), (QStringList{"3", "步骤日志", "f.log", "c"}));
    // Rule 2 has no parameter: rules 1 and 3 are shown without a gap.
    QCOMPARE(Rows(w->lvwRules),
             (QStringList{"REMOTE_ADDR|匹配|^10\\.", "HTTP_USER_AGENT|不匹配|爬虫"}));
    QCOMPARE(w->comParameter->currentText(), QString());
    QCOMPARE(w->txtRule->text(), QString());
    QCOMPARE(w->CurrentRulePos, 0);

    ClickRow(w->lvwSetp, 2);
    // Only "0" wants no match; false, 00 and a missing value want one.
    QCOMPARE(Rows(w->lvwRules),
             (QStringList{"URL|匹配|a", "URL|匹配|b", "URL|匹配|c", "QUERY_STRING|不匹配|"}));
  }

  // A step or rule chosen with the keyboard is loaded as a click loads it, so
  // a save then writes the step that is shown into its own section.
  void keyboardChoiceLoadsTheStepOrRule_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("ruleTo");  // from rule `from` of step `to`
    QTest::newRow("down") << int(Qt::Key_Down) << 1 << 2 << 2;
    QTest::newRow("up") << int(Qt::Key_Up) << 2 << 1 << 1;
    QTest::newRow("home") << int(Qt::Key_Home) << 2 << 1 << 1;
    QTest::newRow("end") << int(Qt::Key_End) << 1 << 2 << 4;
  }
  void keyboardChoiceLoadsTheStepOrRule() {
    QFETCH(int, key);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, ruleTo);
    const QList<QStringList> stepCells = {{"3", "步骤日志", "f.log", "c"}, {"1", "", "", ""}};
    const QList<QStringList> stepRules = {
        {"REMOTE_ADDR|匹配|^10\\.", "HTTP_USER_AGENT|不匹配|爬虫"},
        {"URL|匹配|a", "URL|匹配|b", "URL|匹配|c", "QUERY_STRING|不匹配|"}};
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, from);
    PressKey(w->lvwSetp, key);
    QCOMPARE(SelectedPosition(w->lvwSetp), to);
    QCOMPARE(Cells(w->msfSetp), stepCells[to - 1]);
    QCOMPARE(Rows(w->lvwRules), stepRules[to - 1]);
    Click(w->cmdRulesSave);
    // Both steps keep their own rules in the file.
    for (const int step : {from, to}) {
      ClickRow(w->lvwSetp, step);
      QCOMPARE(Rows(w->lvwRules), stepRules[step - 1]);
    }

    // The same on the rule list: the confirm replaces the rule that is shown.
    ClickRow(w->lvwRules, from);
    PressKey(w->lvwRules, key);
    QCOMPARE(w->CurrentRulePos, ruleTo);
    QCOMPARE(w->comParameter->currentText() + "|" + w->comCompare->currentText() + "|" +
                 w->txtRule->text(),
             stepRules[to - 1][ruleTo - 1]);
    w->txtRule->setText("改");
    Click(w->cmdRuleSave);
    QVERIFY(Rows(w->lvwRules)[ruleTo - 1].endsWith("|改"));
    QCOMPARE(Rows(w->lvwRules)[from - 1], stepRules[to - 1][from - 1]);
  }

  void clickBesideTheRowsWithNothingSelectedDoesNothing() {
    frmMain* w = OpenSample();
    ClickBesideRows(w->lvwSetp);
    QVERIFY(!w->fraRule->isEnabled());
    QCOMPARE(w->lvwRules->topLevelItemCount(), 0);
    QCOMPARE(Cells(w->msfSetp), (QStringList{"", "", "", ""}));
  }

  void unsavedStepShowsNoRulesAndUnsavedRulesAreDropped() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "URL");
    Click(w->cmdRuleSave);
    QCOMPARE(w->lvwRules->topLevelItemCount(), 3);
    ClickRow(w->lvwSetp, 2);
    ClickRow(w->lvwSetp, 1);
    QCOMPARE(w->lvwRules->topLevelItemCount(), 2);  // the confirmed rule was not saved

    fx->dialogs.textAnswers.push_back(QString("新步骤"));
    Click(w->cmdSetpAdd);
    ClickRow(w->lvwSetp, 3);
    QCOMPARE(w->lvwRules->topLevelItemCount(), 0);
  }

  // ---- Rules --------------------------------------------------------------

  void addThenTwoConfirmsLeaveOneNewRow() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdRuleAdd);
    QCOMPARE(w->CurrentRulePos, 3);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->comParameter));
    TypeText(w->comParameter, "URL");
    TypeText(w->txtRule, "first");
    Click(w->cmdRuleSave);
    QCOMPARE(w->comParameter->currentText(), QString());
    QCOMPARE(w->txtRule->text(), QString());
    TypeText(w->comParameter, "QUERY_STRING");
    TypeText(w->txtRule, "second");
    Click(w->cmdRuleSave);
    QCOMPARE(Rows(w->lvwRules), (QStringList{"REMOTE_ADDR|匹配|^10\\.",
                                             "HTTP_USER_AGENT|不匹配|爬虫",
                                             "QUERY_STRING|匹配|second"}));
    QCOMPARE(w->CurrentRulePos, 3);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->lvwRules));
  }

  // A confirm with no rule to put it at says what to do: right after a step
  // is chosen, and so also when the previous step had more rules.
  void confirmWithoutAPositionSaysWhatToDo_data() {
    QTest::addColumn<int>("ruleClickedBefore");
    QTest::newRow("nothing before") << 0;
    QTest::newRow("rule 2 of the other step before") << 2;
    QTest::newRow("rule 4 of the other step before") << 4;
  }
  void confirmWithoutAPositionSaysWhatToDo() {
    QFETCH(int, ruleClickedBefore);
    frmMain* w = OpenSample();
    if (ruleClickedBefore > 0) {
      ClickRow(w->lvwSetp, 2);
      ClickRow(w->lvwRules, ruleClickedBefore);
    }
    ClickRow(w->lvwSetp, 1);
    TypeText(w->comParameter, "URL");
    Click(w->cmdRuleSave);
    Expect(fx->dialogs, "请先点击“添加”新建规则，或在规则列表中选择要修改的规则！", "提示");
    QCOMPARE(Rows(w->lvwRules),
             (QStringList{"REMOTE_ADDR|匹配|^10\\.", "HTTP_USER_AGENT|不匹配|爬虫"}));
  }

  void confirmWithAnEmptyParameter() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdRuleAdd);
    TypeText(w->txtRule, "x");
    Click(w->cmdRuleSave);
    Expect(fx->dialogs, "参数不能为空！", "提示");
    QCOMPARE(w->lvwRules->topLevelItemCount(), 2);
    QCOMPARE(w->txtRule->text(), QString("x"));
  }

  // Typed text stays as typed when the box loses the focus or Enter takes it,
  // even where a longer item of the list begins with it.
  void typedTextIsNotCompletedToALongerItem() {
    frmMain* w = OpenSample();
    w->comParameter->addItem("HTTP_X_FORWARDED_FOR");
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "HTTP_X");
    QTest::mouseClick(w->txtRule, Qt::LeftButton);
    QCOMPARE(w->comParameter->currentText(), QString("HTTP_X"));
    Click(w->cmdRuleSave);
    QCOMPARE(Rows(w->lvwRules).last(), QString("HTTP_X|匹配|"));

    ClickCell(w, w->msfConfig, 6, 1);
    w->comConfig->lineEdit()->selectAll();
    TypeText(w->comConfig, "1-1");
    PressKey(w->comConfig, Qt::Key_Return);
    QCOMPARE(w->msfConfig->TextMatrix(6, 1), QString("1-1"));
  }

  void clickingARuleEditsItInPlace() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    ClickRow(w->lvwRules, 2);
    QCOMPARE(w->CurrentRulePos, 2);
    QCOMPARE(w->comParameter->currentText(), QString("HTTP_USER_AGENT"));
    QCOMPARE(w->comCompare->currentIndex(), 1);
    QCOMPARE(w->txtRule->text(), QString("爬虫"));
    w->txtRule->setText("蜘蛛");
    ChooseItem(w->comCompare, 0);
    Click(w->cmdRuleSave);
    QCOMPARE(Rows(w->lvwRules),
             (QStringList{"REMOTE_ADDR|匹配|^10\\.", "HTTP_USER_AGENT|匹配|蜘蛛"}));
    // The position stays: a second confirm replaces the same row again.
    TypeText(w->comParameter, "URL");
    Click(w->cmdRuleSave);
    QCOMPARE(Rows(w->lvwRules), (QStringList{"REMOTE_ADDR|匹配|^10\\.", "URL|匹配|"}));

    // A row without a compare text leaves the compare box without a choice.
    w->lvwRules->topLevelItem(0)->setText(1, QString());
    ClickRow(w->lvwRules, 1);
    QCOMPARE(w->comCompare->currentIndex(), -1);
  }

  void rulesSaveWritesTheStepSectionInOrder() {
    frmMain* w = NewModuleWithSteps({"步一"});
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "REMOTE_ADDR");  // no compare choice made: a match is wanted
    TypeText(w->txtRule, "^10\\.");
    Click(w->cmdRuleSave);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "HTTP_USER_AGENT");
    ChooseItem(w->comCompare, 1);
    TypeText(w->txtRule, "机器人");
    Click(w->cmdRuleSave);
    w->msfSetp->SetTextMatrix(2, 1, "步骤日志");
    w->msfSetp->SetTextMatrix(4, 1, "{TIME}");
    Click(w->cmdRulesSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(ReadBytes(file),
             GbkLines({"[步一]", "Count=2", "Times=1", "LogName=步骤日志", "LogFileName=",
                       "LogContent={TIME}", "1_Parameter=REMOTE_ADDR", "1_Compare=1",
                       "1_Rule=^10\\.", "2_Parameter=HTTP_USER_AGENT", "2_Compare=0",
                       "2_Rule=机器人"}));
    QCOMPARE(Rows(w->lvwSetp), QStringList{"步一|1|步骤日志||{TIME}"});

    // Both saves make the step survive reopening.
    Click(w->cmdSetpSave);
    fx->OpenWith(w, file);
    ClickRow(w->lvwSetp, 1);
    QCOMPARE(Rows(w->lvwRules),
             (QStringList{"REMOTE_ADDR|匹配|^10\\.", "HTTP_USER_AGENT|不匹配|机器人"}));
  }

  void rulesSaveAfterDeletesLeavesStaleRuleKeys() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 2);
    ClickRow(w->lvwRules, 1);
    Click(w->cmdRuleDel);
    QCOMPARE(w->CurrentRulePos, 1);
    Click(w->cmdRulesSave);
    QCOMPARE(fx->Read("乙", "Count", file), QString("3"));
    QCOMPARE(fx->Read("乙", "1_Rule", file), QString("b"));
    QCOMPARE(fx->Read("乙", "2_Compare", file), QString("1"));  // normalised on save
    QCOMPARE(fx->Read("乙", "3_Parameter", file), QString("QUERY_STRING"));
    QCOMPARE(fx->Read("乙", "4_Parameter", file), QString("QUERY_STRING"));  // stale, kept
    QCOMPARE(fx->Read("乙", "4_Compare", file), QString("0"));
  }

  void choosingAnotherStepAfterRulesSaveShowsTheSavedRules() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "URL");
    TypeText(w->txtRule, "/admin");
    ChooseItem(w->comCompare, 1);
    Click(w->cmdRuleSave);
    Click(w->cmdRulesSave);
    ClickRow(w->lvwSetp, 2);
    ClickRow(w->lvwSetp, 1);
    QCOMPARE(Rows(w->lvwRules), (QStringList{"REMOTE_ADDR|匹配|^10\\.",
                                             "HTTP_USER_AGENT|不匹配|爬虫", "URL|不匹配|/admin"}));
  }

  void rulesSaveStoresTheGridNotTheEditorText() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    ClickCell(w, w->msfSetp, 1, 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->comTimes));
    w->comTimes->lineEdit()->selectAll();
    TypeText(w->comTimes, "7");
    PressKey(w->comTimes, Qt::Key_Escape);
    QCOMPARE(w->comTimes->currentText(), QString("7"));
    Click(w->cmdRulesSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(fx->Read("甲", "Times", file), QString("3"));
  }

  void rulesSaveWithAnEmptyTimesEditor() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    ClickCell(w, w->msfSetp, 1, 1);
    w->comTimes->lineEdit()->clear();
    PressKey(w->comTimes, Qt::Key_Escape);
    QCOMPARE(w->msfSetp->TextMatrix(1, 1), QString("3"));  // the cell still holds a value
    Click(w->cmdRulesSave);
    Expect(fx->dialogs, "匹配次数不能为空！", "提示");
    QCOMPARE(ReadBytes(file), Module());
  }

  void rulesSaveWithNoSelectedStepWritesNothing() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 1);
    Click(w->cmdSetpDel);
    QVERIFY(w->fraRule->isEnabled());
    Click(w->cmdRulesSave);
    QCOMPARE(ReadBytes(file), Module());
    QCOMPARE(fx->dialogs.Messages().size(), 1);
    QCOMPARE(fx->dialogs.Messages()[0].text, QString("请选择要操作的步骤！"));
  }

  void ruleDeleteAndMoves() {
    frmMain* w = OpenSample();
    ClickRow(w->lvwSetp, 2);
    fx->dialogs.Clear();
    for (QPushButton* b : {w->cmdRuleDel, w->cmdRuleTop, w->cmdRuleUp, w->cmdRuleDown,
                           w->cmdRuleBottom}) {
      fx->dialogs.Clear();
      Click(b);
      Expect(fx->dialogs, "请选择要操作的规则！", "提示");
    }
    fx->dialogs.Clear();
    const QStringList original = Rows(w->lvwRules);
    ClickRow(w->lvwRules, 4);
    QCOMPARE(w->CurrentRulePos, 4);
    Click(w->cmdRuleDown);  // last row: nothing moves
    QCOMPARE(Rows(w->lvwRules), original);
    Click(w->cmdRuleUp);
    QCOMPARE(Rows(w->lvwRules)[2], QString("QUERY_STRING|不匹配|"));
    QCOMPARE(SelectedPosition(w->lvwRules), 3);
    Click(w->cmdRuleTop);
    QCOMPARE(Rows(w->lvwRules)[0], QString("QUERY_STRING|不匹配|"));
    QCOMPARE(SelectedPosition(w->lvwRules), 1);
    Click(w->cmdRuleTop);  // first row: nothing moves
    Click(w->cmdRuleBottom);
    QCOMPARE(Rows(w->lvwRules), original);
    QCOMPARE(w->CurrentRulePos, 4);  // moves leave the position alone
    Click(w->cmdRuleDel);
    QCOMPARE(w->lvwRules->topLevelItemCount(), 3);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(ReadBytes(file), Module());
    // The new order reaches the file with Rules save, renumbered.
    ClickRow(w->lvwRules, 3);
    Click(w->cmdRuleTop);
    Click(w->cmdRulesSave);
    QCOMPARE(fx->Read("乙", "1_Rule", file), QString("c"));
    QCOMPARE(fx->Read("乙", "2_Rule", file), QString("a"));
    QCOMPARE(fx->Read("乙", "3_Rule", file), QString("b"));

    // With no rows, delete does nothing.
    for (int i = 0; i < 3; ++i) {
      ClickRow(w->lvwRules, 1);
      Click(w->cmdRuleDel);
    }
    fx->dialogs.Clear();
    Click(w->cmdRuleDel);
    QVERIFY(fx->dialogs.shown.isEmpty());
  }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
