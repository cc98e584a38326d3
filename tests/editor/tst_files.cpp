// Module files in the code page: a module with Chinese names, log texts and
// step identifiers goes through the editor byte for byte, and a module built
// through the window has exactly the expected bytes.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <vector>

#include "editor/flex_grid.h"
#include "editor/list_rows.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

namespace {

// A module in the layout the editor writes, with Config/Priority beside the
// Cofing keys.
QStringList ChineseModule() {
  return {"[About]",
          "Name=防采集模块",
          "Author=站点管理员",
          "Version=4.3.0",
          "About=拦截快速翻页的客户端\\n第二行说明",
          "[Cofing]",
          "Priority=2",
          "LogName=采集拦截",
          "LogFileName=采集日志",
          "LogContent={TIME}\\t{S(REMOTE_ADDR)} 访问 {S(URL)}",
          "Execute=0",
          "Setp=1-10",
          "Times=2",
          "Dateline=3600",
          "[Config]",
          "Priority=2",
          "[Step]",
          "Count=2",
          "1=第一步",
          "2=翻页检测",
          "[第一步]",
          "Count=2",
          "Times=3",
          "LogName=步骤一",
          "LogFileName=步骤日志",
          "LogContent=命中 {S(URL)}",
          "1_Parameter=URL",
          "1_Compare=1",
          "1_Rule=^/文章/",
          "2_Parameter=HTTP_USER_AGENT",
          "2_Compare=0",
          "2_Rule=浏览器",
          "[翻页检测]",
          "Count=1",
          "Times=0-3",
          "LogName=",
          "LogFileName=",
          "LogContent=",
          "1_Parameter=QUERY_STRING",
          "1_Compare=1",
          "1_Rule=页=\\d+"};
}

// A module whose save the filter would refuse or change: how to prepare it in
// a window made with New, the button that saves it, what the question must
// name, and a key the save then writes.
struct WarningCase {
  const char* name;
  std::function<void(EditorFixture&, frmMain*)> prepare;
  QPushButton* frmMain::*save;
  const char* mentioned;
  const char* section;
  const char* key;
  const char* stored;
};

void AboutFields(frmMain* w, const QString& name, const QString& version) {
  w->txtName->setText(name);
  w->txtVersion->setText(version);
}

void AddStep(EditorFixture& fx, frmMain* w, const QString& identifier) {
  fx.dialogs.textAnswers.push_back(identifier);
  Click(w->cmdSetpAdd);
}

const std::vector<WarningCase>& WarningCases() {
  static const std::vector<WarningCase> cases = {
      {"version the filter does not read",
       [](EditorFixture&, frmMain* w) { AboutFields(w, "N", "4.3.1"); }, &frmMain::cmdAboutSave,
       "4.3.1", "About", "Version", "4.3.1"},
      {"name outside the code page",
       [](EditorFixture&, frmMain* w) { AboutFields(w, "名称😀", "4.3.0"); },
       &frmMain::cmdAboutSave, "“名称”", "About", "Name", "名称?"},
      {"log content outside the code page",
       [](EditorFixture&, frmMain* w) {
         w->comExecute->setCurrentIndex(0);
         w->comConfig->setEditText("1");
         w->msfConfig->SetTextMatrix(6, 1, "1");
         w->msfConfig->SetTextMatrix(4, 1, "日志😀");
       },
       &frmMain::cmdSave, "“日志内容”", "Cofing", "LogContent", "日志?"},
      {"129 steps",
       [](EditorFixture&, frmMain* w) {
         for (int i = 1; i <= 129; ++i) AddStepItem(w->lvwSetp, i, QString::number(i), "1", "", "", "");
       },
       &frmMain::cmdSetpSave, "步骤数量 129", "Step", "Count", "129"},
      {"step identifier outside the code page",
       [](EditorFixture& fx, frmMain* w) { AddStep(fx, w, "步😀"); }, &frmMain::cmdSetpSave,
       "第 1 个步骤的唯一标识", "Step", "1", "步?"},
      {"129 rules",
       [](EditorFixture& fx, frmMain* w) {
         AddStep(fx, w, "S");
         for (int i = 1; i <= 129; ++i) AddRuleItem(w->lvwRules, i, "URL", "匹配", "x");
       },
       &frmMain::cmdRulesSave, "规则数量 129", "S", "Count", "129"},
      {"rule pattern outside the code page",
       [](EditorFixture& fx, frmMain* w) {
         AddStep(fx, w, "S");
         Click(w->cmdRuleAdd);
         TypeText(w->comParameter, "URL");
         w->txtRule->setText("爬虫😀");
         Click(w->cmdRuleSave);
       },
       &frmMain::cmdRulesSave, "第 1 条规则的规则", "S", "1_Rule", "爬虫?"},
  };
  return cases;
}

}  // namespace

class TestFiles : public QObject {
  Q_OBJECT

  std::unique_ptr<EditorFixture> fx;

 private slots:
  void init() { fx = std::make_unique<EditorFixture>(); }
  void cleanup() { fx.reset(); }

  void openedModuleSavesBackByteForByte() {
    const QString file = fx->Path("中文模块.ini");
    const QByteArray original = GbkLines(ChineseModule());
    WriteBytes(file, original);
    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(w->txtName->text(), QString("防采集模块"));
    QCOMPARE(w->txtAbout->toPlainText(), QString("拦截快速翻页的客户端\n第二行说明"));
    QCOMPARE(w->msfConfig->TextMatrix(4, 1), QString("{TIME}\\t{S(REMOTE_ADDR)} 访问 {S(URL)}"));

    Click(w->cmdSave);
    Click(w->cmdSetpSave);
    for (int step = 1; step <= 2; ++step) {
      ClickRow(w->lvwSetp, step);
      Click(w->cmdRulesSave);
    }
    QVERIFY(fx->dialogs.Messages().isEmpty());
    QCOMPARE(ReadBytes(file), original);
  }

  void moduleBuiltThroughTheWindowHasTheExpectedBytes() {
    frmMain* w = fx->NewWith(fx->StartWindow(), fx->Path("新模块"));
    const QString file = fx->common->ModulePath;
    QCOMPARE(file, fx->Path("新模块.ini"));

    TypeText(w->txtName, "防采集模块");
    TypeText(w->txtAuthor, "站点管理员");
    TypeText(w->txtVersion, "4.3.0");
    w->txtAbout->setPlainText("拦截快速翻页的客户端\n第二行说明");
    Click(w->cmdAboutSave);

    ClickCell(w, w->msfConfig, 5, 1);
    ChooseItem(w->comExecute, 0);
    PressKey(w->comExecute, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 1, 1);
    ChooseItem(w->comPriority, 2);
    PressKey(w->comPriority, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 6, 1);
    ChooseItem(w->comConfig, 1);
    PressKey(w->comConfig, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 2, 1);
    TypeText(w->txtConfig, "采集拦截");
    PressKey(w->txtConfig, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 3, 1);
    w->txtConfig->clear();
    TypeText(w->txtConfig, "采集日志");
    PressKey(w->txtConfig, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 4, 1);
    TypeText(w->txtConfig, "{TIME} 访问");
    PressKey(w->txtConfig, Qt::Key_Return);
    ClickCell(w, w->msfConfig, 8, 1);
    w->txtConfig->clear();
    TypeText(w->txtConfig, "3600");
    PressKey(w->txtConfig, Qt::Key_Return);
    Click(w->cmdSave);

    fx->dialogs.textAnswers.push_back(QString("第一步"));
    Click(w->cmdSetpAdd);
    ClickCell(w, w->msfSetp, 2, 1);
    TypeText(w->txtStepConfig, "步骤一");
    PressKey(w->txtStepConfig, Qt::Key_Return);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "URL");
    ChooseItem(w->comCompare, 0);
    TypeText(w->txtRule, "^/文章/");
    Click(w->cmdRuleSave);
    Click(w->cmdRuleAdd);
    TypeText(w->comParameter, "HTTP_USER_AGENT");
    ChooseItem(w->comCompare, 1);
    TypeText(w->txtRule, "浏览器");
    Click(w->cmdRuleSave);
    Click(w->cmdRulesSave);
    Click(w->cmdSetpSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());

    QCOMPARE(ReadBytes(file),
             GbkLines({"[About]", "Name=防采集模块", "Author=站点管理员", "Version=4.3.0",
                       "About=拦截快速翻页的客户端\\n第二行说明", "[Cofing]", "Priority=2",
                       "LogName=采集拦截", "LogFileName=采集日志", "LogContent={TIME} 访问",
                       "Execute=0", "Setp=1-10", "Times=1", "Dateline=3600", "[Config]",
                       "Priority=2", "[第一步]", "Count=2", "Times=1", "LogName=步骤一",
                       "LogFileName=", "LogContent=", "1_Parameter=URL", "1_Compare=1",
                       "1_Rule=^/文章/", "2_Parameter=HTTP_USER_AGENT", "2_Compare=0",
                       "2_Rule=浏览器", "[Step]", "Count=1", "1=第一步"}));
  }

  // A save that would write what the filter refuses or changes asks first,
  // naming the field: No writes nothing, Yes writes as before.
  void savesAskBeforeWritingWhatTheFilterRefusesOrChanges_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < static_cast<int>(WarningCases().size()); ++i) {
      QTest::newRow(WarningCases()[i].name) << i;
    }
  }
  void savesAskBeforeWritingWhatTheFilterRefusesOrChanges() {
    QFETCH(int, index);
    const WarningCase& c = WarningCases()[index];
    frmMain* w = fx->NewWith(fx->StartWindow(), fx->Path("warn"));
    const QString file = fx->common->ModulePath;
    c.prepare(*fx, w);
    fx->dialogs.Clear();
    for (const bool answer : {false, true}) {
      fx->dialogs.yesNoAnswers.push_back(answer);
      Click(w->*c.save);
      QCOMPARE(fx->dialogs.shown.size(), 1);
      const Shown question = fx->dialogs.shown[0];
      fx->dialogs.Clear();
      QCOMPARE(question.kind, Shown::Kind::Question);
      QCOMPARE(question.title, QString("提示"));
      QCOMPARE(question.icon, MessageIcon::Warning);
      QVERIFY2(question.text.contains(c.mentioned), qPrintable(question.text));
      QCOMPARE(QFile::exists(file), answer);
    }
    QCOMPARE(fx->Read(c.section, c.key, file), QString(c.stored));
  }
};

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
