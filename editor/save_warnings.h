// What a save is about to write that the filter will refuse or change: a
// version other than the one the filter reads, more steps or rules than it
// reads, characters the system code page cannot hold. The window collects
// them before a save and asks the administrator whether to save anyway.
#pragma once

#include <QString>
#include <QStringList>

namespace sentrel::editor {

// The version the filter reads; a module with any other version is skipped.
inline constexpr const char* kFilterModuleVersion = "4.3.0";
// Most steps of a module, and rules of a step, that the filter reads.
inline constexpr int kFilterMaxEntries = 128;

class SaveWarnings {
 public:
  // Notes `value` of the field named `field` when the code page cannot hold
  // all of its characters (they would be stored as "?").
  void CheckCodePage(const QString& field, const QString& value);
  // Notes a version the filter does not read.
  void CheckVersion(const QString& version);
  // Notes a count of steps or rules (`what`) above what the filter reads.
  void CheckCount(const QString& what, int count);

  bool IsEmpty() const { return lines_.isEmpty(); }
  // The question put to the administrator.
  QString Question() const;

 private:
  QStringList lines_;
};

}  // namespace sentrel::editor
