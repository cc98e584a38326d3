#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/support/temp_folder.h"

namespace sentrel::platform {
namespace {

using test::TempFolder;

struct ReadCase {
  const char* section;
  const char* key;
  const char* defaultValue;
  std::size_t bufferSize;
  const char* expected;
};

// Every case through the single-key reader and through a file read once.
void CheckAll(const std::string& path, const std::vector<ReadCase>& cases) {
  const ProfileFile file(path);
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string("[") + c.section + "] " + c.key + " size " + std::to_string(c.bufferSize));
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, c.defaultValue, c.bufferSize), c.expected);
    EXPECT_EQ(file.ReadString(c.section, c.key, c.defaultValue, c.bufferSize), c.expected);
  }
}

// Spacing, case, quotes, duplicates and ignored lines, in LF and CR LF files.
const char kBody[] =
    "top=before any section\n"
    "[Config]\n"
    "Name=plain\n"
    "  Spaced  \t=\t  value with  inner  blanks \t \n"
    "MiXeD=case\n"
    "dq=\"double quoted\"\n"
    "sq='single quoted'\n"
    "mixedq=\"open single'\n"
    "lone=\"\n"
    "pair=\"\"\n"
    "inner=a\"b\"c\n"
    "padq=  ' padded inside '  \n"
    "dup=first\n"
    "DUP=second\n"
    "this line has no equals sign\n"
    "empty=\n"
    "eq=a=b=c\n"
    "  [  Spaced Section  ]  \n"
    "k=spaced section value\n"
    "[config]\n"
    "Name=second section with the same name\n"
    "Only=only in the second section\n"
    "[Other]\n"
    "Name=other\n"
    "[Last]\n"
    "tail=no line end";

const std::vector<ReadCase> kBodyCases = {
    {"Config", "Name", "d", 256, "plain"},
    {"CONFIG", "name", "d", 256, "plain"},
    {"config", "NAME", "d", 256, "plain"},
    {"Config", "Spaced", "d", 256, "value with  inner  blanks"},
    {"Config", "mixed", "d", 256, "case"},
    {"Config", "dq", "d", 256, "double quoted"},
    {"Config", "sq", "d", 256, "single quoted"},
    {"Config", "mixedq", "d", 256, "\"open single'"},
    {"Config", "lone", "d", 256, "\""},
    {"Config", "pair", "d", 256, ""},
    {"Config", "inner", "d", 256, "a\"b\"c"},
    {"Config", "padq", "d", 256, " padded inside "},
    {"Config", "dup", "d", 256, "first"},
    {"Config", "empty", "d", 256, ""},
    {"Config", "eq", "d", 256, "a=b=c"},
    {"Config", "this line has no equals sign", "d", 256, "d"},
    {"Config", "Only", "d", 256, "d"},  // the second [config] is never seen
    {"Config", "top", "d", 256, "d"},
    {"Config", "k", "d", 256, "d"},
    {"spaced section", "K", "d", 256, "spaced section value"},
    {"Other", "Name", "d", 256, "other"},
    {"Last", "tail", "d", 256, "no line end"},
    {"Missing", "Name", "default", 256, "default"},
    {"Config", "Missing", "default", 256, "default"},
    {"Config", "Missing", "trailing spaces   ", 256, "trailing spaces"},
    {"Config", "Missing", "", 256, ""},
    // Cut to bufferSize - 1 bytes, defaults included.
    {"Config", "Name", "d", 6, "plain"},
    {"Config", "Name", "d", 5, "plai"},
    {"Config", "Name", "d", 2, "p"},
    {"Config", "Name", "d", 1, ""},
    {"Config", "Name", "d", 0, ""},
    {"Config", "dq", "d", 7, "double"},
    {"Config", "Missing", "default", 4, "def"},
    {"Config", "Missing", "default", 0, ""},
};

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(ProfileRead, LfFile) {
  TempFolder dir;
  dir.Write("lf.ini", kBody);
  CheckAll(dir.WindowsPath("lf.ini"), kBodyCases);
}

TEST(ProfileRead, CrLfFile) {
  TempFolder dir;
  dir.Write("crlf.ini", WithCrLf(kBody));
  CheckAll(dir.WindowsPath("crlf.ini"), kBodyCases);
}

TEST(ProfileRead, MissingFileGivesDefault) {
  TempFolder dir;
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("none.ini"), "Config", "Name", "fallback", 1024), "fallback");
  EXPECT_EQ(ReadProfileInt(dir.WindowsPath("none.ini"), "Config", "Name", 42), 42);
  // A folder is not a settings file.
  EXPECT_EQ(ReadProfileString(dir.WindowsPath(""), "Config", "Name", "fallback", 1024), "fallback");
}

TEST(ProfileRead, ValuesAreRawCodePageBytes) {
  TempFolder dir;
  // GBK bytes of Chinese text, including trail bytes that look like ASCII
  // letters and an '=' (0x3D is not a GBK trail byte, so it still splits).
  const std::string name = "\xc4\xa3\xbf\xe9\xbe\x57\xbd\x6a";
  dir.Write("gbk.ini", "[About]\r\nName=" + name + "\r\n[\xd6\xd0\xce\xc4]\r\nkey=\xb1\xa3\xb4\xe6\r\n");
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("gbk.ini"), "about", "name", "", 256), name);
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("gbk.ini"), "\xd6\xd0\xce\xc4", "KEY", "", 256),
            "\xb1\xa3\xb4\xe6");
  // The case of a trail byte is part of a double-byte character, not a letter.
  dir.Write("trail.ini", "[\xbe\x57]\r\nk=v\r\n");
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("trail.ini"), "\xbe\x57", "k", "d", 256), "v");
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("trail.ini"), "\xbe\x77", "k", "d", 256), "d");
}

TEST(ProfileRead, OneValueInABigFile) {
  TempFolder dir;
  std::string text = "[Step]\r\n";
  for (int i = 1; i <= 2000; ++i) text += std::to_string(i) + "=Step" + std::to_string(i) + "\r\n";
  dir.Write("big.ini", text);
  EXPECT_EQ(ReadProfileString(dir.WindowsPath("big.ini"), "Step", "1999", "", 256), "Step1999");
}

struct IntCase {
  const char* value;  // nullptr: the key is missing
  int expected;
};

TEST(ProfileRead, Integers) {
  const std::vector<IntCase> cases = {
      {"12", 12},        {"12abc", 12},          {"abc", 0},
      {"-5", -5},        {" +7", 7},             {"+", 0},
      {"-", 0},          {"- 5", 0},
#if defined(_WIN32)
      // The system's own reader takes a leading 0x as hexadecimal.
      {"0x1F", 31},
#else
      {"0x1F", 0},
#endif
      {"007", 7},        {"3.9", 3},             {"\"64\"", 64},
      {"''", -1},        {"", -1},               {nullptr, -1},
      {"2147483647", INT_MAX},                   {"4294967295", -1},
      {"4294967296", 0}, {"-2147483648", INT_MIN},
  };
  TempFolder dir;
  std::string text = "[Ints]\r\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].value != nullptr) text += "k" + std::to_string(i) + "=" + cases[i].value + "\r\n";
  }
  dir.Write("ints.ini", text);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].value == nullptr ? "(missing)" : cases[i].value);
    EXPECT_EQ(ReadProfileInt(dir.WindowsPath("ints.ini"), "ints", "K" + std::to_string(i), -1),
              cases[i].expected);
    EXPECT_EQ(ProfileFile(dir.WindowsPath("ints.ini")).ReadInt("ints", "K" + std::to_string(i), -1),
              cases[i].expected);
  }
}

TEST(ProfileRead, FileReadOnceKeepsItsContent) {
  TempFolder dir;
  dir.Write("once.ini", "[A]\r\nk=1\r\n");
  const ProfileFile file(dir.WindowsPath("once.ini"));
  dir.Write("once.ini", "[A]\r\nk=2\r\n");
#if defined(_WIN32)
  // The system's own routines answer every key from the file as it is then.
  EXPECT_EQ(file.ReadInt("A", "k", 0), 2);
#else
  EXPECT_EQ(file.ReadInt("A", "k", 0), 1);
#endif
  EXPECT_EQ(ProfileFile(dir.WindowsPath("gone.ini")).ReadString("A", "k", "def", 64), "def");
}

TEST(ProfileRead, ParseProfileIntAlone) {
  EXPECT_EQ(ParseProfileInt("\t 604800"), 604800);
  EXPECT_EQ(ParseProfileInt("-1"), -1);
  EXPECT_EQ(ParseProfileInt("99999999999"), static_cast<int>(99999999999LL % 4294967296LL));
  EXPECT_EQ(ParseProfileInt("x1"), 0);
  EXPECT_EQ(ParseProfileInt(""), 0);
}

}  // namespace
}  // namespace sentrel::platform
