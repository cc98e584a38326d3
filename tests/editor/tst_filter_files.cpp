// Module files written by the editor, read by the filter's own routines. The
// test links the filter library; the editor program itself never does.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "editor/flex_grid.h"
#include "filter/settings/module_reader.h"
#include "filter/settings/module_registry.h"
#include "platform/profile.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

namespace {

// Settings with the picture code on, so an action 3 stays 3.
sentrel::FilterSettings PictureCodeSettings() {
  sentrel::FilterSettings settings;
  settings.codePage = "<html>code</html>";
  return settings;
}

// The loading group the filter's folder scan puts the file in: 0 first,
// 1 between, 2 last.
int LoadingGroup(const QString& file) {
  const int priority = sentrel::platform::ReadProfileInt(QFile::encodeName(file).toStdString(),
                                                         "Config", "Priority", 0);
  return priority == 2 ? 0 : priority == 0 ? 2 : 1;
}

bool ReadWithFilter(const QString& file, sentrel::Module& module) {
  return sentrel::ReadModule(QFile::encodeName(file).toStdString(), PictureCodeSettings(), module);
}

// Everything the filter holds of a module, one line per value.
QStringList Describe(const sentrel::Module& m) {
  auto log = [](const sentrel::LogSpec& l) {
    return QString::fromStdString(l.LogName + "|" + l.LogFileName + "|" + l.LogContent);
  };
  QStringList lines{QString::fromStdString(m.name),
                    QString("execute %1 setp %2-%3 times %4 dateline %5")
                        .arg(static_cast<int>(m.execute))
                        .arg(m.setpLow)
                        .arg(m.setpHigh)
                        .arg(m.times)
                        .arg(m.dateline),
                    log(m.log)};
  for (const sentrel::Step& step : m.steps) {
    lines << QString("step %1-%2 ").arg(step.timesLow).arg(step.timesHigh) + log(step.log);
    for (const sentrel::Rule& rule : step.rules) {
      lines << QString::fromStdString(rule.parameter + (rule.compare ? " = " : " != ") +
                                      rule.pattern);
    }
  }
  return lines;
}

// The module files the filter is known to load: the demo's and the tests'.
QStringList ShippedModules() {
  QStringList files;
  for (const char* folder : {"demo/settings/Action", "tests/fuzz/fuzz_module_reader_seeds"}) {
    const QDir dir(QStringLiteral(SENTREL_SOURCE_DIR "/") + folder);
    for (const QString& name : dir.entryList({"*.ini"}, QDir::Files, QDir::Name)) {
      files << dir.filePath(name);
    }
  }
  return files;
}

}  // namespace

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

  // Every module the filter loads opens in the editor without a message and
  // shows what the filter reads; saved back through every save button, it
  // is read by the filter exactly as before.
  void shippedModulesOpenAndSaveBackUnchanged_data() {
    QTest::addColumn<QString>("source");
    for (const QString& file : ShippedModules()) {
      QTest::newRow(qPrintable(QDir(SENTREL_SOURCE_DIR).relativeFilePath(file))) << file;
    }
  }
  void shippedModulesOpenAndSaveBackUnchanged() {
    QFETCH(QString, source);
    const QString file = fx->Path("copy.ini");
    QVERIFY(QFile::copy(source, file));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    sentrel::Module before;
    QVERIFY(ReadWithFilter(file, before));
    const int group = LoadingGroup(file);

    frmMain* w = fx->StartWindow();
    fx->OpenWith(w, file);
    QCOMPARE(fx->dialogs.Messages().size(), 0);
    QCOMPARE(fx->common->ModulePath, file);
    QCOMPARE(w->comExecute->currentIndex(), int(before.execute));
    QCOMPARE(w->lvwSetp->topLevelItemCount(), int(before.steps.size()));
    for (int i = 1; i <= w->lvwSetp->topLevelItemCount(); ++i) {
      ClickRow(w->lvwSetp, i);
      const sentrel::Step& step = before.steps[i - 1];
      QCOMPARE(w->lvwRules->topLevelItemCount(), int(step.rules.size()));
      for (int j = 0; j < w->lvwRules->topLevelItemCount(); ++j) {
        const QTreeWidgetItem* row = w->lvwRules->topLevelItem(j);
        QCOMPARE(row->text(0).toUpper().toStdString(), step.rules[j].parameter);
        QCOMPARE(row->text(1) == "匹配", step.rules[j].compare);
        QCOMPARE(row->text(2).toStdString(), step.rules[j].pattern);
      }
      Click(w->cmdRulesSave);
    }
    Click(w->cmdSave);
    Click(w->cmdSetpSave);
    QCOMPARE(fx->dialogs.shown.size(), 1);  // the file dialog only

    sentrel::Module after;
    QVERIFY(ReadWithFilter(file, after));
    QCOMPARE(Describe(after), Describe(before));
    QCOMPARE(LoadingGroup(file), group);
  }

  // Every action the editor offers, chosen in its cell editor and saved, is
  // the action the filter reads.
  void everyOfferedActionIsTheOneTheFilterReads() {
    frmMain* w = fx->StartWindow();
    for (int action = 0; action < 4; ++action) {
      w = fx->NewWith(w, fx->Path(QString("action%1").arg(action)));
      const QString file = fx->common->ModulePath;
      w->txtName->setText("动作");
      w->txtVersion->setText("4.3.0");
      Click(w->cmdAboutSave);
      ClickCell(w, w->msfConfig, 5, 1);
      ChooseItem(w->comExecute, action);
      PressKey(w->comExecute, Qt::Key_Return);
      w->comConfig->setEditText("0");
      w->msfConfig->SetTextMatrix(6, 1, "0");
      Click(w->cmdSave);
      fx->dialogs.textAnswers.push_back(QString("S"));
      Click(w->cmdSetpAdd);
      Click(w->cmdRuleAdd);
      TypeText(w->comParameter, "URL");
      Click(w->cmdRuleSave);
      Click(w->cmdRulesSave);
      Click(w->cmdSetpSave);
      QVERIFY(fx->dialogs.Messages().isEmpty());
      sentrel::Module module;
      QVERIFY(ReadWithFilter(file, module));
      QCOMPARE(int(module.execute), action);
      QCOMPARE(w->msfConfig->TextMatrix(5, 1), w->comExecute->itemText(action));
    }
  }

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
    QCOMPARE(module.execute, sentrel::ModuleAction::Allow);
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
