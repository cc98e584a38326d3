#include "editor/common.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace sentrel::editor {

QString Common::DialogFolder() const {
  if (!ModulePath.isEmpty()) {
    const QString folder = QFileInfo(ModulePath).absolutePath();
    if (QDir(folder).exists()) return folder;
  }
  if (!lastFolder_.isEmpty() && QDir(lastFolder_).exists()) return lastFolder_;
  return startFolder_;
}

void Common::RememberChosenFile(const QString& path) {
  lastFolder_ = QFileInfo(path).absolutePath();
}

}  // namespace sentrel::editor
