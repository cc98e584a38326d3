// The editors that open over the cells of the two grids, and the mouse and
// key handling of the cell editors and the two lists.
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include "editor/flex_grid.h"
#include "editor/frm_main.h"
#include "editor/twips.h"

namespace sentrel::editor {

// ---- Cell editors ----------------------------------------------------------

void frmMain::InstallCellEditor(QWidget* editor) {
  editor->installEventFilter(this);
  if (auto* combo = qobject_cast<QComboBox*>(editor); combo != nullptr && combo->lineEdit()) {
    combo->lineEdit()->installEventFilter(this);
  }
}

FlexGrid* frmMain::GridOf(const QWidget* editor) const {
  if (editor == comTimes || editor == txtStepConfig) return msfSetp;
  return msfConfig;
}

QList<QWidget*> frmMain::CellEditors() const {
  return {comTimes, txtStepConfig, comPriority, comExecute, comConfig, txtConfig};
}

QWidget* frmMain::CellEditorOf(QObject* watched) const {
  for (QWidget* editor : CellEditors()) {
    if (watched == editor) return editor;
    if (auto* combo = qobject_cast<QComboBox*>(editor);
        combo != nullptr && combo->lineEdit() != nullptr && watched == combo->lineEdit()) {
      return editor;
    }
  }
  return nullptr;
}

QString frmMain::EditorText(const QWidget* editor) {
  if (const auto* combo = qobject_cast<const QComboBox*>(editor)) return combo->currentText();
  if (const auto* line = qobject_cast<const QLineEdit*>(editor)) return line->text();
  return QString();
}

void frmMain::OpenCellEditor(FlexGrid* grid, QWidget* editor, int row, int col) {
  const Twips tw(this);
  const QPoint origin = grid->geometry().topLeft();
  editor->setGeometry(origin.x() + grid->ColPos(col) + tw.X(50),
                      origin.y() + grid->RowPos(row) + tw.Y(50), grid->ColWidth(col) - tw.X(20),
                      grid->RowHeight(row));
  editor->raise();
  editor->show();
  editor->setFocus(Qt::OtherFocusReason);
}

void frmMain::msfSetp_Click() {
  const int row = msfSetp->Row();
  const int col = msfSetp->Col();
  if (row < 1 || col < 1) return;
  if (row == 1) {
    comTimes->setEditText(msfSetp->TextMatrix(row, col));
    txtStepConfig->hide();
    OpenCellEditor(msfSetp, comTimes, row, col);
  } else {
    txtStepConfig->setText(msfSetp->TextMatrix(row, col));
    comTimes->hide();
    OpenCellEditor(msfSetp, txtStepConfig, row, col);
  }
}

void frmMain::msfConfig_Click() {
  const int row = msfConfig->Row();
  const int col = msfConfig->Col();
  if (row < 1 || col < 1) return;
  txtConfig->hide();
  comPriority->hide();
  comExecute->hide();
  comConfig->hide();
  switch (row) {
    case 1:
      OpenCellEditor(msfConfig, comPriority, row, col);
      break;
    case 5:
      OpenCellEditor(msfConfig, comExecute, row, col);
      break;
    case 6:
      comConfig->clear();
      comConfig->addItems({QStringLiteral("1"), QStringLiteral("1-10")});
      comConfig->setEditText(msfConfig->TextMatrix(row, col));
      OpenCellEditor(msfConfig, comConfig, row, col);
      break;
    default:
      txtConfig->setText(msfConfig->TextMatrix(row, col));
      OpenCellEditor(msfConfig, txtConfig, row, col);
      break;
  }
}

void frmMain::CommitCellEdit(QWidget* editor) {
  FlexGrid* grid = GridOf(editor);
  if (editor == comPriority) {
    grid->SetTextMatrix(1, 1, EditorText(editor));
  } else {
    grid->SetTextMatrix(grid->Row(), grid->Col(), EditorText(editor));
  }
  editor->hide();
  grid->setFocus(Qt::OtherFocusReason);
}

void frmMain::DropCellEdit(QWidget* editor) {
  editor->hide();
  GridOf(editor)->setFocus(Qt::OtherFocusReason);
}

void frmMain::CellItemChosen(QComboBox* editor) {
  FlexGrid* grid = GridOf(editor);
  if (editor == comPriority) {
    grid->SetTextMatrix(1, 1, editor->currentText());
  } else {
    grid->SetTextMatrix(grid->Row(), grid->Col(), editor->currentText());
  }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == lvwSetp->viewport()) {
      lvwSetp_Click();
    } else if (watched == lvwRules->viewport()) {
      lvwRules_Click();
    }
    return false;
  }
  QWidget* editor = CellEditorOf(watched);
  if (editor == nullptr) return false;
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      CommitCellEdit(editor);
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      DropCellEdit(editor);
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::FocusOut && editor->isVisible()) {
    const auto* focus = static_cast<QFocusEvent*>(event);
    if (focus->reason() == Qt::PopupFocusReason || focus->reason() == Qt::ActiveWindowFocusReason) {
      return false;
    }
    // Focus moving between a combo box, its own text field and its list stays
    // inside the editor.
    QWidget* now = QApplication::focusWidget();
    if (now != nullptr && (now == editor || editor->isAncestorOf(now))) return false;
    if (auto* combo = qobject_cast<QComboBox*>(editor);
        combo != nullptr && now != nullptr && now->window() == combo->view()->window()) {
      return false;
    }
    editor->hide();
    QPointer<FlexGrid> grid = GridOf(editor);
    QTimer::singleShot(0, this, [grid] {
      if (grid) grid->setFocus(Qt::OtherFocusReason);
    });
    return false;
  }
  return false;
}

}  // namespace sentrel::editor
