#include "editor/common_dialog.h"

#include <QFileDialog>

namespace sentrel::editor {

QStringList QtNameFilters(const QString& pipeFilter) {
  const QStringList parts = pipeFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString pattern = parts[i + 1].trimmed();
    if (pattern.isEmpty()) continue;
    QStringList globs = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& glob : globs) glob = glob.trimmed();
    const QString qtPatterns = globs.join(QLatin1Char(' '));
    const QString ownSuffix = QLatin1Char('(') + pattern + QLatin1Char(')');
    if (description.endsWith(ownSuffix)) {
      description.chop(ownSuffix.size());
      filters << description + QLatin1Char('(') + qtPatterns + QLatin1Char(')');
    } else if (description.isEmpty()) {
      filters << QLatin1Char('(') + qtPatterns + QLatin1Char(')');
    } else {
      filters << description + QStringLiteral(" (") + qtPatterns + QLatin1Char(')');
    }
  }
  return filters;
}

std::unique_ptr<QFileDialog> CCommonDialog::BuildDialog(QWidget* lhWnd, bool save) const {
  QWidget* owner = lhWnd != nullptr ? lhWnd : Parent_hWnd;
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setWindowTitle(save ? QStringLiteral("保存") : QStringLiteral("打开"));
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode((eFlag & kOfnFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, (eFlag & kOfnOverwritePrompt) == 0);
  const QStringList filters = QtNameFilters(sFilter);
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  if (!sAppPath.isEmpty()) dialog->setDirectory(sAppPath);
  dialog->selectFile(QString());
  return dialog;
}

QString CCommonDialog::Show(QWidget* lhWnd, bool save) {
  try {
    std::unique_ptr<QFileDialog> dialog = BuildDialog(lhWnd, save);
    if (dialog->exec() != QDialog::Accepted) return QString();
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
  } catch (...) {
    return QString();
  }
}

QString CCommonDialog::ShowSave(QWidget* lhWnd) { return Show(lhWnd, true); }

QString CCommonDialog::ShowOpen(QWidget* lhWnd) { return Show(lhWnd, false); }

}  // namespace sentrel::editor
