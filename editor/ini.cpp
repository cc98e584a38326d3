#include "editor/ini.h"

#include <QCoreApplication>
#include <QFile>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace sentrel::editor {

namespace {

// Drops a lead byte left alone at the end of a value cut at the read limit,
// so the cut never splits a double-byte character.
void TrimDanglingLeadByte(std::string& bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (platform::IsLeadByte(b)) {
      if (i + 1 >= bytes.size()) {
        bytes.resize(i);
        return;
      }
      i += 2;
    } else {
      i += 1;
    }
  }
}

}  // namespace

QString ApplyIniPathRule(const QString& path, const QString& programFolder) {
  QString full = path;
  if (full.startsWith(QLatin1Char('\\'))) {
    if (programFolder.endsWith(QLatin1Char('/'))) {
      // A native folder name ending in its separator takes the name as it is.
      full = programFolder + full.mid(1);
    } else if (programFolder.endsWith(QLatin1Char('\\'))) {
      full = programFolder + full;
    } else {
      full = programFolder + QLatin1Char('\\') + full;
    }
  }
  QString collapsed;
  collapsed.reserve(full.size());
  for (qsizetype i = 0; i < full.size(); ++i) {
    collapsed += full[i];
    if (full[i] == QLatin1Char('\\') && i + 1 < full.size() && full[i + 1] == QLatin1Char('\\')) {
      ++i;
    }
  }
  return collapsed;
}

QString ProgramFolder() {
  if (QCoreApplication::instance() == nullptr) return QString();
  return QCoreApplication::applicationDirPath();
}

std::string ToCodePage(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToCodePage(std::string_view(utf8.constData(), utf8.size()));
}

QString FromCodePage(const std::string& bytes) {
  const std::string utf8 = platform::CodePageToUtf8(bytes);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

bool FitsCodePage(const QString& text) { return FromCodePage(ToCodePage(text)) == text; }

QString ReadIniValue(const QString& section, const QString& key, const QString& path,
                     const QString& programFolder) {
  try {
    const QByteArray nativePath = QFile::encodeName(ApplyIniPathRule(path, programFolder));
    std::string value =
        platform::ReadProfileString(nativePath.toStdString(), ToCodePage(section), ToCodePage(key),
                                    std::string(), static_cast<std::size_t>(kIniReadLimit) + 1);
    std::erase(value, '\0');
    if (value.size() >= static_cast<std::size_t>(kIniReadLimit)) TrimDanglingLeadByte(value);
    return FromCodePage(value);
  } catch (...) {
    return QString();
  }
}

int ReadIniNumber(const QString& section, const QString& key, const QString& path,
                  int defaultValue, const QString& programFolder) {
  try {
    const QByteArray nativePath = QFile::encodeName(ApplyIniPathRule(path, programFolder));
    return platform::ReadProfileInt(nativePath.toStdString(), ToCodePage(section),
                                    ToCodePage(key), defaultValue);
  } catch (...) {
    return defaultValue;
  }
}

QString WriteIniValue(const QString& section, const QString& key, const QString& value,
                      const QString& path, const QString& programFolder) {
  try {
    const QByteArray nativePath = QFile::encodeName(ApplyIniPathRule(path, programFolder));
    platform::WriteProfileString(nativePath.toStdString(), ToCodePage(section), ToCodePage(key),
                                 ToCodePage(value));
  } catch (...) {
  }
  return QString();
}

}  // namespace sentrel::editor
