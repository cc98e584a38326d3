// Settings-file access: the path rule, reading and writing single keys, the
// code-page boundary and the read limit.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "editor/ini.h"
#include "tests/editor/editor_fixture.h"

using namespace sentrel::editor;
using namespace sentrel::editor::testing;

class TestIni : public QObject {
  Q_OBJECT

 private slots:
  void pathRule_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("leading backslash, folder without separator")
        << "\\m.ini" << "C:\\Prog" << "C:\\Prog\\m.ini";
    QTest::newRow("leading backslash, folder ending in backslash")
        << "\\m.ini" << "C:\\Prog\\" << "C:\\Prog\\m.ini";
    QTest::newRow("leading backslash, POSIX folder") << "\\m.ini" << "/opt/rs" << "/opt/rs\\m.ini";
    QTest::newRow("leading backslash, POSIX folder ending in slash")
        << "\\m.ini" << "/opt/rs/" << "/opt/rs/m.ini";
    QTest::newRow("doubled backslash in the middle")
        << "C:\\a\\\\b\\m.ini" << "/x" << "C:\\a\\b\\m.ini";
    QTest::newRow("three backslashes keep two") << "a\\\\\\b" << "/x" << "a\\\\b";
    QTest::newRow("four backslashes become two") << "a\\\\\\\\b" << "/x" << "a\\\\b";
    QTest::newRow("absolute POSIX path unchanged") << "/tmp/m.ini" << "/x" << "/tmp/m.ini";
    QTest::newRow("empty") << "" << "/x" << "";
  }
  void pathRule() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(ApplyIniPathRule(path, folder), expected);
  }

  void missingKeyOrFileReadsEmpty() {
    QTemporaryDir dir;
    const QString file = dir.filePath("m.ini");
    QCOMPARE(ReadIniValue("About", "Name", file), QString());
    WriteBytes(file, "[About]\r\nName=Probe\r\n");
    QCOMPARE(ReadIniValue("About", "Name", file), QString("Probe"));
    QCOMPARE(ReadIniValue("About", "Author", file), QString());
    QCOMPARE(ReadIniValue("Cofing", "Name", file), QString());
    QCOMPARE(ReadIniValue("about", "NAME", file), QString("Probe"));
  }

  void writeCreatesFileAndSectionAndReadsBack() {
    QTemporaryDir dir;
    const QString file = dir.filePath("m.ini");
    QCOMPARE(WriteIniValue("About", "Name", "Probe check", file), QString());
    QCOMPARE(WriteIniValue("Cofing", "Setp", "1-10", file), QString());
    QCOMPARE(WriteIniValue("About", "Version", "4.3.0", file), QString());
    QCOMPARE(ReadBytes(file),
             QByteArray("[About]\r\nName=Probe check\r\nVersion=4.3.0\r\n"
                        "[Cofing]\r\nSetp=1-10\r\n"));
    WriteIniValue("about", "name", "Other", file);
    QCOMPARE(ReadIniValue("About", "Name", file), QString("Other"));
  }

  void leadingBackslashNamesProgramFolder() {
    QTemporaryDir dir;
    for (const QString& folder : {dir.path(), dir.path() + "/"}) {
      WriteIniValue("About", "Name", "x", "\\prog.ini", folder);
      QCOMPARE(ReadIniValue("About", "Name", dir.filePath("prog.ini")), QString("x"));
      WriteIniValue("About", "Name", "y", dir.filePath("prog.ini"));
      QCOMPARE(ReadIniValue("About", "Name", "\\prog.ini", folder), QString("y"));
    }
  }

  void doubledBackslashReadAndWrittenAsOne() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    WriteIniValue("Step", "Count", "2", "\\sub\\\\m.ini", dir.path());
    QVERIFY(QFile::exists(dir.filePath("sub/m.ini")));
    QCOMPARE(ReadIniValue("Step", "Count", "\\\\sub\\\\m.ini", dir.path()), QString("2"));
  }

  void valuesCrossTheBoundaryInTheCodePage() {
    QTemporaryDir dir;
    const QString file = dir.filePath("m.ini");
    WriteIniValue("步骤一", "LogName", "中文日志", file);
    const QByteArray bytes = ReadBytes(file);
    // 步骤一 and 中文日志 in GBK.
    QCOMPARE(bytes, QByteArray("[\xB2\xBD\xD6\xE8\xD2\xBB]\r\n"
                               "LogName=\xD6\xD0\xCE\xC4\xC8\xD5\xD6\xBE\r\n"));
    QCOMPARE(ReadIniValue("步骤一", "LogName", file), QString("中文日志"));
  }

  void readLimitCutsLongValuesAtACharacterBoundary() {
    QTemporaryDir dir;
    const QString file = dir.filePath("m.ini");
    const QString ascii(5000, QChar('a'));
    WriteBytes(file, "[S]\r\nA=" + ascii.toLatin1() + "\r\nB=" + Gbk(QString(3000, QChar(u'中'))) +
                         "\r\nC=" + Gbk(QString(kIniReadLimit, QChar('b'))) + "\r\n");
    QCOMPARE(ReadIniValue("S", "A", file), QString(kIniReadLimit, QChar('a')));
    // 4095 bytes would end in half a character: the lone lead byte is dropped.
    QCOMPARE(ReadIniValue("S", "B", file), QString(kIniReadLimit / 2, QChar(u'中')));
    QCOMPARE(ReadIniValue("S", "C", file), QString(kIniReadLimit, QChar('b')));
    QVERIFY(kIniReadLimit >= 127);
  }

  void writesThatWouldBreakTheFileChangeNothing() {
    QTemporaryDir dir;
    const QString file = dir.filePath("m.ini");
    WriteIniValue("S", "A", "1", file);
    const QByteArray before = ReadBytes(file);
    WriteIniValue("S", "B", "line1\nline2", file);
    WriteIniValue("S", "C", "x\r\n[Evil]", file);
    WriteIniValue("a]b", "C", "1", file);
    QCOMPARE(ReadBytes(file), before);
  }

  void failedWriteIsSwallowed() {
    QTemporaryDir dir;
    const QString file = dir.filePath("missing/m.ini");
    QCOMPARE(WriteIniValue("S", "A", "1", file), QString());
    QVERIFY(!QFile::exists(file));
    QCOMPARE(ReadIniValue("S", "A", file), QString());
  }
};

QTEST_MAIN(TestIni)
#include "tst_ini.moc"
