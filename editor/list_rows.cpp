#include "editor/list_rows.h"

#include <QStringList>
#include <QTreeWidget>

namespace sentrel::editor {

namespace {

bool InsertRow(QTreeWidget* list, std::int32_t position, const QStringList& texts) {
  if (list == nullptr) return false;
  const int count = list->topLevelItemCount();
  if (position < 1 || position > count + 1) return false;
  auto* item = new QTreeWidgetItem(texts);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  list->insertTopLevelItem(position - 1, item);
  return true;
}

}  // namespace

bool AddStepItem(QTreeWidget* list, std::int32_t position, const QString& identifier,
                 const QString& times, const QString& logName, const QString& logFileName,
                 const QString& logContent) {
  return InsertRow(list, position, {identifier, times, logName, logFileName, logContent});
}

bool AddRuleItem(QTreeWidget* list, std::int32_t position, const QString& parameter,
                 const QString& compare, const QString& pattern) {
  return InsertRow(list, position, {parameter, compare, pattern});
}

}  // namespace sentrel::editor
