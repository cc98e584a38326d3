// The main window and its module document: load, New, Open, About save and
// Parameters save, checked on the widgets, the messages shown and the file.
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <memory>

#include "editor/flex_grid.h"
#include "editor/ini.h"
#include "editor/twips.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

namespace {

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QStringList Column(const FlexGrid* grid, int col) {
  QStringList texts;
  for (int row = 1; row < grid->Rows(); ++row) texts << grid->TextMatrix(row, col);
  return texts;
}

QStringList StepRows(const QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < list->columnCount(); ++c) cells << list->topLevelItem(i)->text(c);
    rows << cells.join('|');
  }
  return rows;
}

// A module file as the editor writes one, with two steps.
QByteArray SampleModule() {
  return GbkLines({"[About]", "Name=探测检查", "Author=管理员", "Version=4.3.0",
                   "About=第一行\\n第二行\\Nthird", "[Cofing]", "Priority=2", "LogName=探测",
                   "LogFileName={Time}", "LogContent={TIME} {S(REMOTE_ADDR)}", "Execute=0",
                   "Setp=1-10", "Times=1", "Dateline=3600", "[Config]", "Priority=2", "[Step]",
                   "Count=2", "1=甲", "2=Probe", "[甲]", "Count=1", "Times=3", "LogName=",
                   "LogFileName=", "LogContent=", "1_Parameter=REMOTE_ADDR", "1_Compare=1",
                   "1_Rule=^10\\.", "[Probe]", "Count=0", "Times=0-3", "LogName=n", "LogFileName=f",
                   "LogContent=c"});
}

}  // namespace

class TestWindow : public QObject {
  Q_OBJECT

  std::unique_ptr<EditorFixture> fx;

 private slots:
  void init() { fx = std::make_unique<EditorFixture>(); }
  void cleanup() { fx.reset(); }

  // ---- Window load --------------------------------------------------------

  // Every named control of the window has the class its name's prefix
  // promises, a name of its own, and a place inside its container where no
  // sibling covers it; captions fit their controls. Checked in a window made
  // with New, where every control but the cell editors is shown.
  void everyNamedControlIsShownInsideItsContainer() {
    frmMain* w = fx->NewWith(fx->StartWindow(), fx->Path("layout"));
    const QList<std::pair<QString, QStringList>> kinds = {
        {"cmd", {"QPushButton"}},         {"txt", {"QLineEdit", "QPlainTextEdit"}},
        {"com", {"QComboBox"}},           {"lvw", {"QTreeWidget"}},
        {"msf", {"sentrel::editor::FlexGrid"}}, {"fra", {"QGroupBox"}},
        {"lbl", {"QLabel"}}};
    const QStringList cellEditors = {"comTimes", "txtStepConfig", "comPriority",
                                     "comExecute", "comConfig", "txtConfig"};
    QList<QWidget*> controls;
    for (QWidget* child : w->findChildren<QWidget*>()) {
      const QString name = child->objectName();
      for (const auto& [prefix, classes] : kinds) {
        if (name.size() > 3 && name.startsWith(prefix) && name[3].isUpper()) {
          QVERIFY2(classes.contains(child->metaObject()->className()), qPrintable(name));
          controls << child;
        }
      }
    }
    // A window without its controls would pass everything below.
    QVERIFY(controls.size() > 40);
    for (QWidget* control : controls) {
      const QString name = control->objectName();
      QCOMPARE(w->findChildren<QWidget*>(name).size(), 1);
      QWidget* parent = control->parentWidget();
      QVERIFY2(parent->rect().contains(control->geometry()), qPrintable(name));
      if (cellEditors.contains(name)) {
        QVERIFY2(control->isHidden(), qPrintable(name));
        continue;
      }
      QVERIFY2(control->isVisibleTo(w), qPrintable(name));
      for (QWidget* sibling : controls) {
        if (sibling == control || sibling->parentWidget() != parent ||
            cellEditors.contains(sibling->objectName())) {
          continue;
        }
        QVERIFY2(!control->geometry().intersects(sibling->geometry()),
                 qPrintable(name + " overlaps " + sibling->objectName()));
      }
      QString caption;
      if (auto* button = qobject_cast<QPushButton*>(control)) caption = button->text();
      if (auto* label = qobject_cast<QLabel*>(control)) caption = label->text();
      if (auto* frame = qobject_cast<QGroupBox*>(control)) caption = frame->title();
      caption.remove('&');
      QVERIFY2(control->fontMetrics().horizontalAdvance(caption) <= control->width(),
               qPrintable(name));
    }
    // The value column of each grid is shown whole.
    for (FlexGrid* grid : {w->msfConfig, w->msfSetp}) {
      QVERIFY2(grid->ColPos(1) + grid->ColWidth(1) <= grid->viewport()->geometry().right() + 1,
               qPrintable(grid->objectName()));
    }
  }

  void loadSetsTheEmptyState() {
    fx->common->IsNewModule = true;
    frmMain* w = fx->StartWindow();
    QCOMPARE(w->windowTitle(), QString("Tarnwick Rulesmith"));
    QVERIFY(!fx->common->IsNewModule);
    QCOMPARE(w->CurrentRulePos, 0);
    QVERIFY(!w->cmdAboutSave->isVisible());
    QVERIFY(w->fraAbout->isEnabled());
    QVERIFY(!w->fraSet->isEnabled());
    QVERIFY(!w->fraStep->isEnabled());
    QVERIFY(!w->fraRule->isEnabled());
    QVERIFY(!w->cmdSave->isEnabled());
    QVERIFY(!w->cmdRuleSave->isEnabled());
    for (QWidget* editor : {static_cast<QWidget*>(w->comTimes),
                            static_cast<QWidget*>(w->txtStepConfig),
                            static_cast<QWidget*>(w->comPriority),
                            static_cast<QWidget*>(w->comExecute),
                            static_cast<QWidget*>(w->comConfig),
                            static_cast<QWidget*>(w->txtConfig)}) {
      QVERIFY2(editor->isHidden(), qPrintable(editor->objectName()));
    }
  }

  void fixedListsGridsAndColumns() {
    frmMain* w = fx->StartWindow();
    // An item's position is the value stored for it.
    QCOMPARE(Items(w->comExecute), (QStringList{"拦截", "不处理", "不限制", "验证码"}));
    QCOMPARE(Items(w->comPriority), (QStringList{"低", "中", "高"}));
    QCOMPARE(Items(w->comTimes), (QStringList{"0", "1", "0-3"}));
    QCOMPARE(Items(w->comCompare), (QStringList{"匹配", "不匹配"}));
    QVERIFY(!w->comExecute->isEditable());
    QVERIFY(!w->comPriority->isEditable());
    QVERIFY(!w->comCompare->isEditable());
    QVERIFY(w->comParameter->isEditable());
    QVERIFY(w->comTimes->isEditable());
    QVERIFY(w->comConfig->isEditable());
    QCOMPARE(w->comExecute->currentIndex(), -1);
    QCOMPARE(w->comCompare->currentText(), QString("匹配"));  // a new rule wants a match

    QCOMPARE(Column(w->msfConfig, 0), (QStringList{"优先级", "日志类型", "日志文件", "日志内容",
                                                   "执行操作", "开始步骤", "匹配次数", "有效时间"}));
    QCOMPARE(Column(w->msfConfig, 1), QStringList(8, QString()));
    QCOMPARE(Column(w->msfSetp, 0), (QStringList{"匹配次数", "日志类型", "日志文件", "日志内容"}));
    const QList<std::pair<QTreeWidget*, QStringList>> lists = {
        {w->lvwSetp, {"唯一标识", "次数", "日志类型", "日志文件", "日志内容"}},
        {w->lvwRules, {"参数", "比较", "规则"}}};
    for (const auto& [list, captions] : lists) {
      QCOMPARE(list->columnCount(), captions.size());
      QVERIFY(!list->header()->isHidden());
      QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
      for (int i = 0; i < captions.size(); ++i) QCOMPARE(list->headerItem()->text(i), captions[i]);
    }
  }

  void variableListIsReadFromTheCurrentFolder() {
    const QString before = QDir::currentPath();
    WriteBytes(fx->Path("服务器变量名.txt"),
               GbkLines({"REMOTE_ADDR", "", "HTTP_USER_AGENT", "自定义变量"}) + "URL");
    QVERIFY(QDir::setCurrent(fx->dir.path()));
    frmMain* w = fx->StartWindow();
    QDir::setCurrent(before);
    QCOMPARE(Items(w->comParameter),
             (QStringList{"REMOTE_ADDR", "HTTP_USER_AGENT", "自定义变量", "URL"}));
    QCOMPARE(w->comParameter->currentText(), QString());
    QVERIFY(fx->dialogs.shown.isEmpty());
  }

  void missingVariableListGivesAnEmptyListAndNoMessage() {
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(fx->dir.path()));
    frmMain* w = fx->StartWindow();
    QDir::setCurrent(before);
    QCOMPARE(w->comParameter->count(), 0);
    QVERIFY(fx->dialogs.shown.isEmpty());
    QVERIFY(w->isVisible());
  }

  void shippedVariableListIsOfferedBesideTheProgram() {
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral(RULESMITH_PROGRAM_DIR)));
    frmMain* w = fx->StartWindow();
    QDir::setCurrent(before);
    const QStringList items = Items(w->comParameter);
    for (const char* name :
         {"REMOTE_ADDR", "HTTP_USER_AGENT", "URL", "QUERY_STRING", "HTTP_HOST"}) {
      QVERIFY2(items.contains(name), name);
    }
  }

  // ---- New ----------------------------------------------------------------

  void newAddsTheExtensionWhereMissing_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension") << "m" << "m.ini";
    QTest::newRow("lower case") << "m.ini" << "m.ini";
    QTest::newRow("upper case") << "m.INI" << "m.INI";
    QTest::newRow("other extension after .ini") << "m.ini.txt" << "m.ini.txt.ini";
    QTest::newRow("short name") << "a" << "a.ini";
    QTest::newRow("Chinese name") << "模块" << "模块.ini";
  }
  void newAddsTheExtensionWhereMissing() {
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    frmMain* w = fx->StartWindow();
    frmMain* fresh = fx->NewWith(w, fx->Path(chosen) + QChar(u'\0') + "rest of buffer");
    QVERIFY(fresh != w);
    QCOMPARE(fx->common->ModulePath, fx->Path(expected));
  }

  void newOpensAFreshWindowWithTheDefaults() {
    frmMain* w = fx->StartWindow();
    frmMain* fresh = fx->NewWith(w, fx->Path("new"));
    QVERIFY(fresh != nullptr && fresh != w);
    QVERIFY(!w->isVisible());
    QCOMPARE(fx->common->Windows().size(), 1);
    QVERIFY(fx->common->IsNewModule);
    QCOMPARE(fx->common->ModulePath, fx->Path("new.ini"));
    QCOMPARE(fresh->windowTitle(),
             "Tarnwick Rulesmith - " + QDir::toNativeSeparators(fx->Path("new.ini")));
    QVERIFY(!QFile::exists(fx->Path("new.ini")));  // New writes nothing

    const Twips tw(fresh);
    QVERIFY(fresh->isVisible());
    QVERIFY(fresh->cmdAboutSave->isVisible());
    QCOMPARE(fresh->txtAbout->height(), tw.Y(1440));
    QVERIFY(fresh->fraSet->isEnabled());
    QVERIFY(fresh->fraStep->isEnabled());
    QVERIFY(!fresh->fraRule->isEnabled());
    QCOMPARE(fresh->comPriority->currentIndex(), 1);
    QCOMPARE(fresh->comExecute->currentIndex(), -1);
    QCOMPARE(Column(fresh->msfConfig, 1),
             (QStringList{"中", "", "{Time}\t", "", "", "", "1", "-1"}));

    const auto& seen = fx->dialogs.fileDialogs.first();
    QCOMPARE(seen.eFlag, 0x80000u);
    QCOMPARE(seen.filter, QString("模块文件(*.ini)|*.ini"));
    QCOMPARE(seen.appPath, fx->dir.path());
    QCOMPARE(seen.parent, static_cast<QWidget*>(w));
    QCOMPARE(fx->dialogs.shown.first().kind, Shown::Kind::SaveFile);
  }

  void cancelledNewChangesNothing() {
    WriteBytes(fx->Path("kept.ini"), SampleModule());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, fx->Path("kept.ini"));
    w->txtName->setText("unchanged");
    fx->dialogs.Clear();
    fx->dialogs.fileAnswers.push_back(QString());
    Click(w->cmdNew);
    QCOMPARE(fx->common->ModulePath, fx->Path("kept.ini"));
    QCOMPARE(fx->common->Windows(), QList<QWidget*>{w});
    QVERIFY(w->isVisible());
    QCOMPARE(w->txtName->text(), QString("unchanged"));
  }

  void newOntoAnExistingFileAsksFirst() {
    const QString existing = fx->Path("old.ini");
    WriteBytes(existing, "[About]\r\nName=old\r\n");
    frmMain* w = fx->StartWindow();

    fx->dialogs.yesNoAnswers.push_back(false);
    fx->dialogs.fileAnswers.push_back(existing);
    Click(w->cmdNew);
    QCOMPARE(fx->dialogs.shown.size(), 2);
    const Shown question = fx->dialogs.shown[1];
    QCOMPARE(question.kind, Shown::Kind::Question);
    QCOMPARE(question.text, QString("文件已存在，是否覆盖写入！"));
    QCOMPARE(question.title, QString("提示"));
    QCOMPARE(question.icon, MessageIcon::Question);
    QCOMPARE(ReadBytes(existing), QByteArray("[About]\r\nName=old\r\n"));
    QCOMPARE(fx->common->ModulePath, QString());
    QCOMPARE(fx->common->Windows(), QList<QWidget*>{w});

    fx->dialogs.yesNoAnswers.push_back(true);
    frmMain* fresh = fx->NewWith(w, fx->Path("old"));
    QVERIFY(fresh != w);
    QVERIFY(!QFile::exists(existing));  // deleted at once
    QCOMPARE(fx->common->ModulePath, existing);
  }

  void newThatCannotDeleteTheOldFileReportsAnError() {
    QVERIFY(QDir(fx->dir.path()).mkpath("busy.ini/inside"));
    frmMain* w = fx->StartWindow();
    fx->dialogs.yesNoAnswers.push_back(true);
    fx->dialogs.fileAnswers.push_back(fx->Path("busy.ini"));
    Click(w->cmdNew);
    const QList<Shown> messages = fx->dialogs.Messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QString("出现异常错误！"));
    QCOMPARE(messages[0].title, QString("Error"));
    QCOMPARE(messages[0].icon, MessageIcon::Information);
    QCOMPARE(fx->common->ModulePath, QString());
    QCOMPARE(fx->common->Windows(), QList<QWidget*>{w});
  }

  void wheelHookFollowsTheWindowsDuringNew() {
    frmMain* w = fx->StartWindow();
    GridWheelHooks& hooks = fx->common->Hooks();
    QCOMPARE(hooks.Count(), 2);
    QCOMPARE(hooks.FindHookedGrid(w->msfConfig), 1);
    QCOMPARE(hooks.FindHookedGrid(w->msfSetp), 2);
    frmMain* fresh = fx->NewWith(w, fx->Path("wheel"));
    QCOMPARE(hooks.Count(), 2);
    QCOMPARE(hooks.FindHookedGrid(w->msfConfig), 0);
    QCOMPARE(hooks.FindHookedGrid(w->msfSetp), 0);
    QCOMPARE(hooks.FindHookedGrid(fresh->msfConfig), 1);
    QCOMPARE(hooks.FindHookedGrid(fresh->msfSetp), 2);

    FlexGrid* grid = fresh->msfConfig;
    QVERIFY(grid->verticalScrollBar()->maximum() >= 1);
    const QPointF pos(5, 5);
    QWheelEvent down(pos, grid->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &down);
    QCOMPARE(grid->TopRow(), 2);
    QWheelEvent up(pos, grid->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &up);
    QCOMPARE(grid->TopRow(), 1);
  }

  // ---- Open ---------------------------------------------------------------

  void openFillsTheWindowFromTheFile() {
    const QString file = fx->Path("sample.ini");
    WriteBytes(file, SampleModule());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file + QChar(u'\0') + "junk");
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(fx->common->ModulePath, file);
    QVERIFY(!fx->common->IsNewModule);
    QCOMPARE(fx->dialogs.shown.first().kind, Shown::Kind::OpenFile);
    QCOMPARE(fx->dialogs.fileDialogs.first().filter, QString("模块文件(*.ini)|*.ini"));

    QCOMPARE(w->txtName->text(), QString("探测检查"));
    QCOMPARE(w->txtAuthor->text(), QString("管理员"));
    QCOMPARE(w->txtVersion->text(), QString("4.3.0"));
    QCOMPARE(w->txtAbout->toPlainText(), QString("第一行\n第二行\nthird"));
    QCOMPARE(w->txtAbout->height(), Twips(w).Y(1935));
    QCOMPARE(w->comExecute->currentIndex(), 0);
    QCOMPARE(w->comPriority->currentIndex(), 2);
    QCOMPARE(w->comConfig->currentText(), QString("1-10"));
    QCOMPARE(Column(w->msfConfig, 1),
             (QStringList{"高", "探测", "{Time}", "{TIME} {S(REMOTE_ADDR)}", "拦截", "1-10", "1",
                          "3600"}));
    QCOMPARE(StepRows(w->lvwSetp), (QStringList{"甲|3|||", "Probe|0-3|n|f|c"}));
    QCOMPARE(w->lvwRules->topLevelItemCount(), 0);
    QVERIFY(!w->cmdAboutSave->isVisible());
    QVERIFY(w->fraSet->isEnabled());
    QVERIFY(w->fraStep->isEnabled());
    QVERIFY(!w->fraRule->isEnabled());
  }

  void openAfterNewLeavesTheNewState() {
    const QString file = fx->Path("sample.ini");
    WriteBytes(file, SampleModule());
    frmMain* fresh = fx->NewWith(fx->StartWindow(), fx->Path("new"));
    fx->OpenWith(fresh, file);
    QVERIFY(!fx->common->IsNewModule);
    QVERIFY(!fresh->cmdAboutSave->isVisible());
    QCOMPARE(fresh->txtAbout->height(), Twips(fresh).Y(1935));
    QVERIFY(!fresh->fraRule->isEnabled());
  }

  void cancelledOpenChangesNothing() {
    const QString file = fx->Path("sample.ini");
    WriteBytes(file, SampleModule());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    w->txtName->setText("edited");
    fx->OpenWith(w, QString());
    QCOMPARE(fx->common->ModulePath, file);
    QCOMPARE(w->txtName->text(), QString("edited"));
    QCOMPARE(w->lvwSetp->topLevelItemCount(), 2);
  }

  // An Open that fails changes nothing: the window keeps the module it showed
  // and saves still go to that module's file, whose name the title shows.
  void failedOpenChangesNothing_data() {
    QTest::addColumn<QString>("execute");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");
    QTest::newRow("Execute 4") << "4" << false << "模块文件存在错误！" << "Error";
    QTest::newRow("Execute -2") << "-2" << false << "模块文件存在错误！" << "Error";
    QTest::newRow("missing file") << "0" << true << "找不到模块文件！" << "提示";
  }
  void failedOpenChangesNothing() {
    QFETCH(QString, execute);
    QFETCH(bool, missing);
    QFETCH(QString, message);
    QFETCH(QString, title);
    const QString good = fx->Path("good.ini");
    WriteBytes(good, SampleModule());
    const QString bad = fx->Path("sub/bad.ini");
    QVERIFY(QDir(fx->dir.path()).mkdir("sub"));
    const QByteArray badBytes = GbkLines({"[About]", "Name=坏模块", "Version=4.3.0", "[Cofing]",
                                          "Setp=1", "Execute=" + execute});
    if (!missing) WriteBytes(bad, badBytes);
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, good);
    QVERIFY(w->windowTitle().endsWith(QDir::toNativeSeparators(good)));
    fx->dialogs.Clear();

    fx->OpenWith(w, bad);
    const QList<Shown> messages = fx->dialogs.Messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].title, title);
    QCOMPARE(fx->common->ModulePath, good);
    QVERIFY(w->windowTitle().endsWith(QDir::toNativeSeparators(good)));
    QCOMPARE(w->txtName->text(), QString("探测检查"));
    QCOMPARE(w->comExecute->currentIndex(), 0);
    QCOMPARE(w->lvwSetp->topLevelItemCount(), 2);

    // A save goes to the module on screen; the file that failed is untouched.
    w->comPriority->setCurrentIndex(0);
    Click(w->cmdSave);
    QCOMPARE(fx->Read("Config", "Priority", good), QString("0"));
    QCOMPARE(ReadBytes(bad), missing ? QByteArray() : badBytes);
    QCOMPARE(QFile::exists(bad), !missing);
    // The next dialog opens in the folder of the module on screen.
    fx->dialogs.fileAnswers.push_back(QString());
    Click(w->cmdOpen);
    QCOMPARE(fx->dialogs.fileDialogs.last().appPath, fx->dir.path());
  }

  // With no module on screen, a file dialog opens where the last file was
  // chosen, even when that file could not be opened.
  void fileDialogsOpenWhereTheLastFileWasChosen() {
    QVERIFY(QDir(fx->dir.path()).mkdir("sub"));
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, fx->Path("sub/missing.ini"));
    fx->OpenWith(w, QString());
    QCOMPARE(fx->dialogs.fileDialogs[0].appPath, fx->dir.path());
    QCOMPARE(fx->dialogs.fileDialogs[1].appPath, fx->Path("sub"));
    QCOMPARE(fx->common->ModulePath, QString());
  }

  // Open reads the action and the loading priority as the filter does, so
  // every module the filter loads opens.
  void openReadsActionAndPriorityAsTheFilterDoes_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("priority");
    QTest::newRow("no action, Priority in Cofing only")
        << QStringList{"[Cofing]", "Execute=-1", "Priority=0"} << "" << "低";
    QTest::newRow("empty action, nothing for Priority")
        << QStringList{"[Cofing]", "Execute="} << "" << "低";
    QTest::newRow("action not a number reads as 0")
        << QStringList{"[Cofing]", "Execute=abc"} << "拦截" << "低";
    QTest::newRow("picture code, Priority in Config only")
        << QStringList{"[Config]", "Priority=2", "[Cofing]", "Execute=3"} << "验证码" << "高";
    QTest::newRow("Config wins over Cofing")
        << QStringList{"[Config]", "Priority=0", "[Cofing]", "Execute=2", "Priority=2"} << "不限制"
        << "低";
    QTest::newRow("Priority 5 loads in the middle group")
        << QStringList{"[Cofing]", "Execute=1", "Priority=5"} << "不处理" << "中";
  }
  void openReadsActionAndPriorityAsTheFilterDoes() {
    QFETCH(QStringList, lines);
    QFETCH(QString, action);
    QFETCH(QString, priority);
    const QString file = fx->Path("m.ini");
    WriteBytes(file, GbkLines(lines));
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(w->comExecute->currentText(), action);
    QCOMPARE(w->msfConfig->TextMatrix(5, 1), action);
    QCOMPARE(w->comPriority->currentText(), priority);
    QCOMPARE(w->msfConfig->TextMatrix(1, 1), priority);
  }

  void stepListFromTheFile_data() {
    QTest::addColumn<QStringList>("stepLines");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("count not a number")
        << QStringList{"[Step]", "Count=abc", "1=A", "[A]", "Count=1", "Times=1"} << QStringList{};
    QTest::newRow("count missing")
        << QStringList{"[Step]", "1=A", "[A]", "Count=1", "Times=1"} << QStringList{};
    QTest::newRow("step without Count left out, later ones kept")
        << QStringList{"[Step]", "Count=3", "1=A", "2=B", "3=C", "[A]", "Count=1", "Times=1",
                       "[B]", "Times=2", "[C]", "Count=0", "Times=3"}
        << QStringList{"A|1|||", "C|3|||"};
    QTest::newRow("count smaller than the keys")
        << QStringList{"[Step]", "Count=1", "1=A", "2=B", "[A]", "Count=1", "[B]", "Count=1"}
        << QStringList{"A||||"};
    QTest::newRow("repeated identifier listed twice")
        << QStringList{"[Step]", "Count=2", "1=A", "2=a", "[A]", "Count=1", "Times=5"}
        << QStringList{"A|5|||", "a|5|||"};
    QTest::newRow("negative count") << QStringList{"[Step]", "Count=-4", "1=A", "[A]", "Count=1"}
                                    << QStringList{};
    QTest::newRow("count with text after its number, as the filter reads it")
        << QStringList{"[Step]", "Count=2 steps", "1=A", "2=B", "[A]", "Count=1", "[B]", "Count=1"}
        << QStringList{"A||||", "B||||"};
  }
  void stepListFromTheFile() {
    QFETCH(QStringList, stepLines);
    QFETCH(QStringList, rows);
    const QString file = fx->Path("steps.ini");
    WriteBytes(file, GbkLines(QStringList{"[Cofing]", "Execute=1", "Priority=1"} + stepLines));
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(StepRows(w->lvwSetp), rows);
  }

  void hugeStepCountIsReadUpToTheLimit() {
    const QString file = fx->Path("huge.ini");
    WriteBytes(file, GbkLines({"[Cofing]", "Execute=1", "Priority=1", "[Step]",
                               "Count=99999999999999", "1=A", "[A]", "Count=1"}));
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    QCOMPARE(StepRows(w->lvwSetp), QStringList{"A||||"});
  }

  // ---- About save ---------------------------------------------------------

  void aboutSaveChecksNameAndVersion_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty name") << "" << "4.3.0" << "模块名称不能为空！";
    QTest::newRow("empty version") << "N" << "" << "模块执行版本不能为空！";
    QTest::newRow("both empty") << "" << "" << "模块名称不能为空！";
  }
  void aboutSaveChecksNameAndVersion() {
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(QString, message);
    frmMain* fresh = fx->NewWith(fx->StartWindow(), fx->Path("about"));
    fresh->txtName->setText(name);
    fresh->txtVersion->setText(version);
    Click(fresh->cmdAboutSave);
    const QList<Shown> messages = fx->dialogs.Messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].title, QString("提示"));
    QCOMPARE(messages[0].icon, MessageIcon::Information);
    QVERIFY(!QFile::exists(fx->Path("about.ini")));
  }

  void aboutSaveWritesFourKeysInOrder() {
    frmMain* fresh = fx->NewWith(fx->StartWindow(), fx->Path("about"));
    QTest::keyClicks(fresh->txtName, "Probe");
    fresh->txtVersion->setText("4.3.0");
    fresh->txtAbout->setPlainText("第一行\n第二行");
    Click(fresh->cmdAboutSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(ReadBytes(fx->Path("about.ini")),
             GbkLines({"[About]", "Name=Probe", "Author=", "Version=4.3.0",
                       "About=第一行\\n第二行"}));
  }

  void aboutSaveDoesNothingInAnOpenedModule() {
    const QString file = fx->Path("sample.ini");
    WriteBytes(file, SampleModule());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    w->txtName->setText("changed");
    w->cmdAboutSave_Click();
    QCOMPARE(ReadBytes(file), SampleModule());
    QVERIFY(fx->dialogs.Messages().isEmpty());
  }

  // ---- Parameters save ----------------------------------------------------

  void parametersSaveChecks_data() {
    QTest::addColumn<int>("execute");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("message");
    QTest::newRow("no action chosen") << -1 << "1" << "请选择执行操作！";
    QTest::newRow("empty start step") << 0 << "" << "开始步骤不能为空！";
    QTest::newRow("lone dash") << 0 << "-" << "开始步骤不符合规则！";
    QTest::newRow("letters") << 2 << "a1" << "开始步骤不符合规则！";
    QTest::newRow("dashes only") << 1 << "--" << "开始步骤不符合规则！";
  }
  void parametersSaveChecks() {
    QFETCH(int, execute);
    QFETCH(QString, start);
    QFETCH(QString, message);
    frmMain* fresh = fx->NewWith(fx->StartWindow(), fx->Path("params"));
    fresh->comExecute->setCurrentIndex(execute);
    fresh->comConfig->setEditText(start);
    Click(fresh->cmdSave);
    const QList<Shown> messages = fx->dialogs.Messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].title, QString("提示"));
    QCOMPARE(messages[0].icon, MessageIcon::Information);
    QVERIFY(!QFile::exists(fx->Path("params.ini")));
  }

  void parametersSaveWritesCofingInOrderAndThePriorityForTheFilter() {
    frmMain* fresh = fx->NewWith(fx->StartWindow(), fx->Path("params"));
    fresh->comExecute->setCurrentIndex(2);
    fresh->comPriority->setCurrentIndex(2);
    fresh->comConfig->setEditText("1-10");
    fresh->msfConfig->SetTextMatrix(2, 1, "日志");
    fresh->msfConfig->SetTextMatrix(4, 1, "{TIME} 访问");
    fresh->msfConfig->SetTextMatrix(6, 1, "3-5");  // the grid cell is what is stored
    fresh->msfConfig->SetTextMatrix(7, 1, "abc");  // stored as typed
    Click(fresh->cmdSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(ReadBytes(fx->Path("params.ini")),
             GbkLines({"[Cofing]", "Priority=2", "LogName=日志", "LogFileName={Time}\t",
                       "LogContent={TIME} 访问", "Execute=2", "Setp=3-5", "Times=abc",
                       "Dateline=-1", "[Config]", "Priority=2"}));
    // Open reads the priority back from Cofing.
    fx->OpenWith(fresh, fx->Path("params.ini"));
    QCOMPARE(fresh->comPriority->currentIndex(), 2);
  }

  void parametersSaveReplacesValuesAndKeepsOtherKeys() {
    const QString file = fx->Path("sample.ini");
    WriteBytes(file, SampleModule());
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    w->comPriority->setCurrentIndex(0);
    Click(w->cmdSave);
    QCOMPARE(fx->Read("Cofing", "Priority", file), QString("0"));
    QCOMPARE(fx->Read("Config", "Priority", file), QString("0"));
    QByteArray expected = SampleModule();
    expected.replace("Priority=2", "Priority=0");
    QCOMPARE(ReadBytes(file), expected);
  }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
