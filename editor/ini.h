// Reading and writing single keys of a settings file for the editor.
//
// Sections, keys and values cross this boundary as Qt strings and reach the
// file as text in the system code page (GBK); the file path is handed to the
// file system in its native encoding. Nothing here reports an error: a failed
// read gives the empty text and a failed write changes nothing.
#pragma once

#include <QString>

namespace sentrel::editor {

// The longest value, in code-page bytes, that ReadIniValue returns whole.
// Longer values are cut at a character boundary at or below this limit.
inline constexpr int kIniReadLimit = 4095;

// Applies the editor's path rule: a path that starts with a backslash names a
// file in `programFolder` (a separator is put between them unless the folder
// already ends in one), and every pair of backslashes is collapsed into one,
// left to right and non-overlapping.
QString ApplyIniPathRule(const QString& path, const QString& programFolder);

// The folder used for the leading-backslash form: the program's own folder.
QString ProgramFolder();

// The value of `key` in `section` of the file, or the empty text when the key
// or the file is missing or anything fails. `programFolder` defaults to the
// program's folder.
QString ReadIniValue(const QString& section, const QString& key, const QString& path,
                     const QString& programFolder = ProgramFolder());

// Writes key=value, creating the file and the section when needed. Always
// returns the empty text; failures are swallowed. Names and values the file
// cannot hold (a line break anywhere, a "]" in the section, a "=" in the key)
// are refused by the file layer and so leave the file unchanged.
QString WriteIniValue(const QString& section, const QString& key, const QString& value,
                      const QString& path, const QString& programFolder = ProgramFolder());

// The integer value of the key as the filter reads it: leading blanks, an
// optional sign, then the leading digits; a value that does not start with a
// number reads as 0; a missing key or an empty value gives `defaultValue`.
int ReadIniNumber(const QString& section, const QString& key, const QString& path,
                  int defaultValue, const QString& programFolder = ProgramFolder());

// Conversions at the code-page boundary.
std::string ToCodePage(const QString& text);
QString FromCodePage(const std::string& bytes);
// True when the text goes through the code page unchanged; characters the
// code page cannot hold are stored as "?".
bool FitsCodePage(const QString& text);

}  // namespace sentrel::editor
