// The support routines under the window: file dialogs, list rows, the grid
// wheel hook, and the Qt implementation of the user dialogs.
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <functional>

#include "editor/common_dialog.h"
#include "editor/flex_grid.h"
#include "editor/grid_wheel.h"
#include "editor/list_rows.h"
#include "editor/user_dialogs.h"

using namespace sentrel::editor;

namespace {

// Runs `action` on the modal dialog as soon as it is shown and its own event
// loop runs: a dialog closed before exec() enters its loop would leave exec()
// waiting for ever. Each look is a fresh single-shot timer; one long-lived
// polling timer was sometimes lost between two dialogs, and the test hung.
void WhenModalShown(std::function<void(QWidget*)> action) {
  QTimer::singleShot(10, qApp, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || QThread::currentThread()->loopLevel() == 0) {
      WhenModalShown(action);
      return;
    }
    action(modal);
  });
}

// A window with two grids of 20 value rows each, small enough to scroll.
class TwoGrids : public QWidget {
 public:
  TwoGrids() {
    auto* layout = new QVBoxLayout(this);
    first = new FlexGrid(this);
    second = new FlexGrid(this);
    for (FlexGrid* grid : {first, second}) {
      grid->SetSize(21, 2);
      for (int row = 1; row <= 20; ++row) grid->SetRowHeight(row, 20);
      grid->setFixedHeight(130);
      layout->addWidget(grid);
    }
    resize(300, 300);
  }
  FlexGrid* first;
  FlexGrid* second;
};

void Wheel(FlexGrid* grid, int deltaY, int deltaX = 0) {
  const QPointF pos(10, 40);
  QWheelEvent event(pos, grid->viewport()->mapToGlobal(pos), QPoint(), QPoint(deltaX, deltaY),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(grid->viewport(), &event);
}

QStringList RowTexts(const QTreeWidget& list) {
  QStringList rows;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < list.columnCount(); ++c) cells << list.topLevelItem(i)->text(c);
    rows << cells.join('|');
  }
  return rows;
}

}  // namespace

class TestSupport : public QObject {
  Q_OBJECT

 private slots:
  // ---- File dialogs -------------------------------------------------------

  void nameFilters_data() {
    QTest::addColumn<QString>("pipe");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("module files") << "模块文件(*.ini)|*.ini" << QStringList{"模块文件(*.ini)"};
    QTest::newRow("description without pattern") << "Text|*.txt" << QStringList{"Text (*.txt)"};
    QTest::newRow("several patterns")
        << "Logs(*.txt;*.log)|*.txt;*.log" << QStringList{"Logs(*.txt *.log)"};
    QTest::newRow("two pairs") << "A|*.a|B|*.b" << QStringList{"A (*.a)", "B (*.b)"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("description without its pattern") << "Lonely" << QStringList{};
  }
  void nameFilters() {
    QFETCH(QString, pipe);
    QFETCH(QStringList, expected);
    QCOMPARE(QtNameFilters(pipe), expected);
  }

  void dialogIsBuiltFromItsProperties() {
    QTemporaryDir dir;
    QWidget owner;
    QWidget other;
    CCommonDialog dialog;
    dialog.eFlag = kOfnExplorer;
    dialog.Parent_hWnd = &owner;
    dialog.sFilter = "模块文件(*.ini)|*.ini";
    dialog.sAppPath = dir.path();

    auto save = dialog.BuildDialog(nullptr, true);
    QCOMPARE(save->windowTitle(), QString("保存"));
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(save->fileMode(), QFileDialog::AnyFile);
    QVERIFY(save->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(save->nameFilters(), QStringList{"模块文件(*.ini)"});
    QCOMPARE(save->directory().absolutePath(), QDir(dir.path()).absolutePath());
    QCOMPARE(save->parentWidget(), &owner);

    auto open = dialog.BuildDialog(&other, false);
    QCOMPARE(open->windowTitle(), QString("打开"));
    QCOMPARE(open->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(open->fileMode(), QFileDialog::AnyFile);
    QCOMPARE(open->parentWidget(), &other);

    dialog.eFlag = kOfnExplorer | kOfnOverwritePrompt | kOfnFileMustExist;
    auto strict = dialog.BuildDialog(nullptr, true);
    QVERIFY(!strict->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(strict->fileMode(), QFileDialog::ExistingFile);
  }

  void showSaveReturnsTheChosenPathWithoutAskingToOverwrite() {
    QTemporaryDir dir;
    const QString existing = dir.filePath("old.ini");
    QFile(existing).open(QIODevice::WriteOnly);
    CCommonDialog dialog;
    dialog.eFlag = kOfnExplorer;
    dialog.sFilter = "模块文件(*.ini)|*.ini";
    dialog.sAppPath = dir.path();
    QString title;
    WhenModalShown([&](QWidget* modal) {
      auto* fd = qobject_cast<QFileDialog*>(modal);
      QVERIFY(fd != nullptr);
      title = fd->windowTitle();
      fd->selectFile(existing);
      static_cast<QDialog*>(fd)->accept();
    });
    QCOMPARE(dialog.ShowSave(), existing);
    QCOMPARE(title, QString("保存"));
  }

  void showOpenAcceptsAMissingFileAndCancelGivesEmpty() {
    QTemporaryDir dir;
    const QString missing = dir.filePath("new.ini");
    CCommonDialog dialog;
    dialog.eFlag = kOfnExplorer;
    dialog.sAppPath = dir.path();
    WhenModalShown([&](QWidget* modal) {
      auto* fd = qobject_cast<QFileDialog*>(modal);
      QVERIFY(fd != nullptr);
      QCOMPARE(fd->windowTitle(), QString("打开"));
      fd->selectFile(missing);
      static_cast<QDialog*>(fd)->accept();
    });
    QCOMPARE(dialog.ShowOpen(), missing);

    WhenModalShown([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QCOMPARE(dialog.ShowOpen(), QString());
  }

  // ---- List rows ----------------------------------------------------------

  void addStepItemPositions_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("rows");
    const QString added = "新|1|名|文件|内容";
    QTest::newRow("below 1") << 0 << false << QStringList{"a||||", "b||||"};
    QTest::newRow("negative") << -5 << false << QStringList{"a||||", "b||||"};
    QTest::newRow("first") << 1 << true << QStringList{added, "a||||", "b||||"};
    QTest::newRow("middle") << 2 << true << QStringList{"a||||", added, "b||||"};
    QTest::newRow("count + 1 appends") << 3 << true << QStringList{"a||||", "b||||", added};
    QTest::newRow("beyond count + 1") << 4 << false << QStringList{"a||||", "b||||"};
  }
  void addStepItemPositions() {
    QFETCH(int, position);
    QFETCH(bool, ok);
    QFETCH(QStringList, rows);
    QTreeWidget list;
    list.setColumnCount(5);
    QVERIFY(AddStepItem(&list, 1, "a", "", "", "", ""));
    QVERIFY(AddStepItem(&list, 2, "b", "", "", "", ""));
    QCOMPARE(AddStepItem(&list, position, "新", "1", "名", "文件", "内容"), ok);
    QCOMPARE(RowTexts(list), rows);
  }

  void addRuleItemPositions() {
    QTreeWidget list;
    list.setColumnCount(3);
    QVERIFY(!AddRuleItem(&list, 0, "X", "", ""));
    QVERIFY(!AddRuleItem(&list, 2, "X", "", ""));
    QVERIFY(AddRuleItem(&list, 1, "URL", "匹配", "^/a"));
    QVERIFY(AddRuleItem(&list, 1, "REMOTE_ADDR", "不匹配", ""));
    QVERIFY(!AddRuleItem(&list, 4, "X", "", ""));
    QCOMPARE(RowTexts(list), (QStringList{"REMOTE_ADDR|不匹配|", "URL|匹配|^/a"}));
    QVERIFY(!AddRuleItem(nullptr, 1, "X", "", ""));
  }

  // ---- Grid wheel hook ----------------------------------------------------

  void hookRecordsEveryGridOfTheWindowInOrder() {
    GridWheelHooks hooks;
    TwoGrids window;
    QCOMPARE(hooks.FindHookedGrid(window.first), 0);
    hooks.HookGridWheel(&window);
    QCOMPARE(hooks.Count(), 2);
    QCOMPARE(hooks.FindHookedGrid(window.first), 1);
    QCOMPARE(hooks.FindHookedGrid(window.second), 2);
    QCOMPARE(hooks.FindHookedGrid(&window), 0);
    QCOMPARE(hooks.FindHookedGrid(nullptr), 0);
    QCOMPARE(hooks.Record(1).owner.data(), static_cast<QWidget*>(&window));
    QCOMPARE(hooks.Record(2).grid.data(), window.second);
  }

  void wheelScrollsOneRowPerStep() {
    GridWheelHooks hooks;
    TwoGrids window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    hooks.HookGridWheel(&window);
    FlexGrid* grid = window.first;
    const int last = grid->verticalScrollBar()->maximum() + 1;
    QVERIFY(last >= 5);
    QCOMPARE(grid->TopRow(), 1);
    Wheel(grid, 120);  // away from the user at the top: nothing moves
    QCOMPARE(grid->TopRow(), 1);
    Wheel(grid, -120);
    QCOMPARE(grid->TopRow(), 2);
    Wheel(grid, -240);  // one event is one step, whatever its length
    QCOMPARE(grid->TopRow(), 3);
    Wheel(grid, 120);
    QCOMPARE(grid->TopRow(), 2);
    for (int i = 0; i < 40; ++i) Wheel(grid, -120);
    QCOMPARE(grid->TopRow(), last);  // steps beyond the last row are ignored
    QCOMPARE(window.second->TopRow(), 1);

    // A sideways wheel is left to the grid; a wheel of no length moves nothing.
    QWheelEvent sideways(QPointF(1, 1), QPointF(1, 1), QPoint(), QPoint(120, 0), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
    QVERIFY(!hooks.GridWheelProc(grid, &sideways));
    QWheelEvent still(QPointF(1, 1), QPointF(1, 1), QPoint(), QPoint(0, 0), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QVERIFY(hooks.GridWheelProc(grid, &still));
    QCOMPARE(grid->TopRow(), last);
    QEvent other(QEvent::Enter);
    QVERIFY(!hooks.GridWheelProc(grid, &other));
  }

  void wheelOverTheScrollBarIsOneRowToo() {
    GridWheelHooks hooks;
    TwoGrids window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    hooks.HookGridWheel(&window);
    QScrollBar* bar = window.first->verticalScrollBar();
    QWheelEvent event(QPointF(2, 2), bar->mapToGlobal(QPoint(2, 2)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &event);
    QCOMPARE(window.first->TopRow(), 2);
  }

  void unhookDropsOnlyThatWindowsRecordsAndRestoresTheGrid() {
    GridWheelHooks hooks;
    TwoGrids oldWindow;
    TwoGrids newWindow;
    for (TwoGrids* w : {&oldWindow, &newWindow}) {
      w->show();
      QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    hooks.HookGridWheel(&oldWindow);
    hooks.HookGridWheel(&newWindow);
    QCOMPARE(hooks.Count(), 4);
    hooks.UnhookGridWheel(&oldWindow);
    QCOMPARE(hooks.Count(), 2);
    QCOMPARE(hooks.FindHookedGrid(oldWindow.first), 0);
    QCOMPARE(hooks.FindHookedGrid(oldWindow.second), 0);
    QCOMPARE(hooks.FindHookedGrid(newWindow.first), 1);
    QCOMPARE(hooks.FindHookedGrid(newWindow.second), 2);

    Wheel(newWindow.second, -120);
    QCOMPARE(newWindow.second->TopRow(), 2);
    // The unhooked grid is back to its own handling, which scrolls several
    // rows per step.
    Wheel(oldWindow.first, -120);
    QCOMPARE(oldWindow.first->TopRow(), 1 + QApplication::wheelScrollLines());

    hooks.UnhookGridWheel(&oldWindow);  // a second unhook changes nothing
    QCOMPARE(hooks.Count(), 2);
  }

  void recordsOfADestroyedGridNeverMatch() {
    GridWheelHooks hooks;
    auto* window = new TwoGrids;
    hooks.HookGridWheel(window);
    FlexGrid* gone = window->first;
    delete window;
    QCOMPARE(hooks.FindHookedGrid(gone), 0);
    QCOMPARE(hooks.Count(), 2);
  }

  // ---- Qt user dialogs ----------------------------------------------------

  void qtMessageBoxShowsTextTitleAndIcon() {
    QtUserDialogs dialogs;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModalShown([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box != nullptr);
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
      box->button(QMessageBox::Ok)->click();
    });
    dialogs.ShowMessage(nullptr, "模块名称不能为空！", "提示", MessageIcon::Information);
    QCOMPARE(text, QString("模块名称不能为空！"));
    QCOMPARE(title, QString("提示"));
    QCOMPARE(icon, QMessageBox::Information);
  }

  void qtQuestionAnswersYesAndNo() {
    QtUserDialogs dialogs;
    for (const bool yes : {true, false}) {
      QMessageBox::Icon icon = QMessageBox::NoIcon;
      WhenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        icon = box->icon();
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      });
      QCOMPARE(dialogs.AskYesNo(nullptr, "文件已存在，是否覆盖写入！", "提示", MessageIcon::Question),
               yes);
      QCOMPARE(icon, QMessageBox::Question);
    }
  }

  void qtInputBoxGivesTextOrNothing() {
    QtUserDialogs dialogs;
    WhenModalShown([](QWidget* modal) {
      auto* box = qobject_cast<QInputDialog*>(modal);
      QVERIFY(box != nullptr);
      QCOMPARE(box->labelText(), QString("请输入该步骤的唯一标识"));
      QCOMPARE(box->windowTitle(), QString("提示"));
      box->setTextValue("第一步");
      box->accept();
    });
    QCOMPARE(dialogs.AskText(nullptr, "请输入该步骤的唯一标识", "提示", ""), std::optional<QString>("第一步"));
    WhenModalShown([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QCOMPARE(dialogs.AskText(nullptr, "p", "t", ""), std::optional<QString>());
  }
};

QTEST_MAIN(TestSupport)
#include "tst_support.moc"
