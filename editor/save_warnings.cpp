#include "editor/save_warnings.h"

#include "editor/ini.h"

namespace sentrel::editor {

void SaveWarnings::CheckCodePage(const QString& field, const QString& value) {
  if (FitsCodePage(value)) return;
  lines_ << QStringLiteral("“%1”中有系统代码页无法保存的字符，将保存为“?”").arg(field);
}

void SaveWarnings::CheckVersion(const QString& version) {
  if (version.trimmed() == QLatin1String(kFilterModuleVersion)) return;
  lines_ << QStringLiteral("版本“%1”不是 %2，过滤器不会读取这个模块")
                .arg(version, QLatin1String(kFilterModuleVersion));
}

void SaveWarnings::CheckCount(const QString& what, int count) {
  if (count <= kFilterMaxEntries) return;
  lines_ << QStringLiteral("%1数量 %2 超过 %3，过滤器不会读取这个模块")
                .arg(what)
                .arg(count)
                .arg(kFilterMaxEntries);
}

QString SaveWarnings::Question() const {
  return QStringLiteral("保存的内容中有过滤器将拒绝或改变的值：\n") + lines_.join(u'\n') +
         QStringLiteral("\n是否仍然保存？");
}

}  // namespace sentrel::editor
