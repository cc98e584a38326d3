#include "tests/editor/editor_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "editor/flex_grid.h"
#include "editor/ini.h"

namespace sentrel::editor::testing {

EditorFixture::EditorFixture() : common(std::make_unique<Common>(dialogs, dir.path())) {}

EditorFixture::~EditorFixture() {
  QList<QPointer<QWidget>> windows = created_;
  for (QWidget* w : common->Windows()) windows.append(w);
  for (const QPointer<QWidget>& w : windows) delete w.data();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  common.reset();
}

QString EditorFixture::Path(const QString& name) const { return dir.filePath(name); }

frmMain* EditorFixture::StartWindow() {
  auto* window = new frmMain(*common);
  created_.append(window);
  window->show();
  QApplication::setActiveWindow(window);
  if (!QTest::qWaitForWindowActive(window)) qWarning("window did not become active");
  return window;
}

frmMain* EditorFixture::Current() const {
  const QList<QWidget*> windows = common->Windows();
  return windows.isEmpty() ? nullptr : static_cast<frmMain*>(windows.last());
}

void EditorFixture::OpenWith(frmMain* window, const QString& path) {
  dialogs.fileAnswers.push_back(path);
  Click(window->cmdOpen);
}

frmMain* EditorFixture::NewWith(frmMain* window, const QString& path) {
  dialogs.fileAnswers.push_back(path);
  Click(window->cmdNew);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  frmMain* fresh = Current();
  if (fresh != nullptr && fresh != window) {
    QApplication::setActiveWindow(fresh);
    if (!QTest::qWaitForWindowActive(fresh)) qWarning("new window did not become active");
  }
  return fresh;
}

QString EditorFixture::Read(const QString& section, const QString& key, const QString& path) {
  return ReadIniValue(section, key, path);
}

void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

void ClickCell(frmMain*, FlexGrid* grid, int row, int col) {
  const QRect rect = grid->visualRect(grid->model()->index(row - 1, col - 1));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
}

void ClickRow(QTreeWidget* list, int position) {
  const QRect rect = list->visualItemRect(list->topLevelItem(position - 1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void ClickBesideRows(QTreeWidget* list) {
  const QPoint below(list->viewport()->width() / 2, list->viewport()->height() - 3);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
}

void PressKey(QWidget* widget, int key) {
  QWidget* target = widget;
  if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr && combo->lineEdit()) {
    target = combo->lineEdit();
  }
  QTest::keyClick(target, static_cast<Qt::Key>(key));
}

void TypeText(QWidget* widget, const QString& text) {
  QWidget* target = widget;
  if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr && combo->lineEdit()) {
    target = combo->lineEdit();
  }
  for (const QChar ch : text) {
    if (ch.unicode() < 0x80) {
      QTest::keyClick(target, ch.toLatin1());
    } else {
      // Characters beyond ASCII arrive as key events that carry only text.
      QTest::sendKeyEvent(QTest::Press, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
      QTest::sendKeyEvent(QTest::Release, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
  }
}

void ChooseItem(QComboBox* combo, int index) {
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  QTest::qWait(1);
  const QRect rect = view->visualRect(view->model()->index(index, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
}

QByteArray Gbk(const QString& text) {
  const std::string bytes = ToCodePage(text);
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QByteArray GbkLines(const QStringList& lines) {
  QByteArray out;
  for (const QString& line : lines) out += Gbk(line) + "\r\n";
  return out;
}

}  // namespace sentrel::editor::testing
