// Module files written by the editor, read by the filter's own routines. The
// test links the filter library; the editor program itself never does.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "editor/flex_grid.h"
#include "filter/settings/module_reader.h"
#include "filter/settings/module_registry.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

class TestFilterFiles : public QObject {
  Q_OBJECT

  std::unique_ptr<EditorFixture> fx;

  // Makes a module in the Action folder with the given priority item and
  // saves its parameters.
  void SaveModule(frmMain*& w, const QString& name, int priorityItem) {
    w = fx->NewWith(w, fx->Path("Action/" + name));
    w->comExecute->setCurrentIndex(0);
    w->comPriority->setCurrentIndex(priorityItem);
    w->comConfig->setEditText("0");
    w->msfConfig->SetTextMatrix(6, 1, "0");
    Click(w->cmdSave);
  }

 private slots:
  void init() { fx = std::make_unique<EditorFixture>(); }
  void cleanup() { fx.reset(); }

  // The chosen priority takes effect: the filter's folder scan orders the
  // modules by the Config priority that Parameters save writes.
  void chosenPriorityOrdersTheFilterScan() {
    QVERIFY(QDir(fx->dir.path()).mkdir("Action"));
    frmMain* w = fx->StartWindow();
    SaveModule(w, "low", 0);
    SaveModule(w, "middle", 1);
    SaveModule(w, "high", 2);
    QVERIFY(fx->dialogs.Messages().isEmpty());

    sentrel::ModuleRegistry registry;
    QVERIFY(sentrel::ScanModuleFolder(QFile::encodeName(fx->Path("Action")).toStdString(),
                                      registry));
    registry.OrderScannedPaths();
    QStringList order;
    for (const std::string& path : registry.modulePaths) {
      // The filter builds its paths with backslashes.
      order << QString::fromStdString(path.substr(path.find_last_of('\\') + 1));
    }
    QCOMPARE(order, (QStringList{"high.ini", "middle.ini", "low.ini"}));
  }

  // A module written through the window is read by the filter's module
  // reader with every value as the editor showed it.
  void moduleReaderReadsWhatTheEditorWrites() {
    frmMain* w = fx->NewWith(fx->StartWindow(), fx->Path("读取检查"));
    const QString file = fx->common->ModulePath;
    w->txtName->setText("防采集模块");
    w->txtVersion->setText("4.3.0");
    Click(w->cmdAboutSave);

    w->comExecute->setCurrentIndex(2);
    w->comPriority->setCurrentIndex(2);
    w->comConfig->setEditText("3-10");
    w->msfConfig->SetTextMatrix(2, 1, "采集拦截");
    w->msfConfig->SetTextMatrix(4, 1, "第一行\\n{S(REMOTE_ADDR)}");
    w->msfConfig->SetTextMatrix(6, 1, "3-10");
    w->msfConfig->SetTextMatrix(7, 1, "5");
    Click(w->cmdSave);

    const QList<QStringList> steps = {
        {"第一步", "0-3", "步骤日志", "步骤.log", "命中"},
        {"翻页检测", "2", "", "", ""}};
    for (const QStringList& step : steps) {
      fx->dialogs.textAnswers.push_back(step[0]);
      Click(w->cmdSetpAdd);
      for (int row = 1; row <= 4; ++row) w->msfSetp->SetTextMatrix(row, 1, step[row]);
      Click(w->cmdRuleAdd);
      w->comParameter->setEditText("url");
      w->comCompare->setCurrentIndex(0);
      w->txtRule->setText("^/文章/" + step[0]);
      Click(w->cmdRuleSave);
      Click(w->cmdRuleAdd);
      w->comParameter->setEditText("HTTP_USER_AGENT");
      w->comCompare->setCurrentIndex(1);
      w->txtRule->clear();
      Click(w->cmdRuleSave);
      Click(w->cmdRulesSave);
    }
    Click(w->cmdSetpSave);
    QVERIFY(fx->dialogs.Messages().isEmpty());

    sentrel::FilterSettings settings;
    settings.Dateline = 7200;
    sentrel::Module module;
    QVERIFY(sentrel::ReadModule(QFile::encodeName(file).toStdString(), settings, module));
    QCOMPARE(module.name, Gbk("防采集模块").toStdString());
    QCOMPARE(module.execute, 2);
    QCOMPARE(module.setpLow, 3u);
    QCOMPARE(module.setpHigh, 10u);
    QCOMPARE(module.log.LogName, Gbk("采集拦截").toStdString());
    QCOMPARE(module.log.LogFileName, std::string("{Time}"));  // the trailing tab is trimmed
    QCOMPARE(module.log.LogContent, Gbk("第一行\n{S(REMOTE_ADDR)}").toStdString());
    QCOMPARE(module.times, 5);
    QCOMPARE(module.dateline, 7200);  // -1 of a new module: the filter-wide value
    QCOMPARE(module.steps.size(), std::size_t{2});

    const sentrel::Step& first = module.steps[0];
    QCOMPARE(first.timesLow, 0u);
    QCOMPARE(first.timesHigh, 3u);
    QCOMPARE(first.log.LogName, Gbk("步骤日志").toStdString());
    QCOMPARE(first.log.LogFileName, Gbk("步骤.log").toStdString());
    QCOMPARE(first.log.LogContent, Gbk("命中").toStdString());
    QCOMPARE(first.rules.size(), std::size_t{2});
    QCOMPARE(first.rules[0].parameter, std::string("URL"));
    QCOMPARE(first.rules[0].pattern, Gbk("^/文章/第一步").toStdString());
    QVERIFY(first.rules[0].compare);
    QCOMPARE(first.rules[1].parameter, std::string("HTTP_USER_AGENT"));
    QCOMPARE(first.rules[1].pattern, std::string());
    QVERIFY(!first.rules[1].compare);

    const sentrel::Step& second = module.steps[1];
    QCOMPARE(second.timesLow, 2u);
    QCOMPARE(second.timesHigh, 2u);
    QCOMPARE(second.log.LogName, std::string());
    QCOMPARE(second.rules.size(), std::size_t{2});
    QCOMPARE(second.rules[0].pattern, Gbk("^/文章/翻页检测").toStdString());
  }
};

QTEST_MAIN(TestFilterFiles)
#include "tst_filter_files.moc"
