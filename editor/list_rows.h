// Inserting rows into the editor's step and rule lists. Positions count from
// 1; a position below 1 or above the row count + 1 fails and changes nothing.
#pragma once

#include <QString>
#include <cstdint>

class QTreeWidget;

namespace sentrel::editor {

// A step row: the identifier as item text, then Times, LogName, LogFileName
// and LogContent as sub-items 1 to 4.
bool AddStepItem(QTreeWidget* list, std::int32_t position, const QString& identifier,
                 const QString& times, const QString& logName, const QString& logFileName,
                 const QString& logContent);

// A rule row: the parameter as item text, the compare text as sub-item 1 and
// the pattern as sub-item 2.
bool AddRuleItem(QTreeWidget* list, std::int32_t position, const QString& parameter,
                 const QString& compare, const QString& pattern);

}  // namespace sentrel::editor
