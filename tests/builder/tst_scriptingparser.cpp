#include "builderfixtures.h"
#include "testmain.h"

#include "console.h"
#include "scriptingparser.h"

#include <QtTest>

using namespace fixtures;

namespace
{

// A stand-in for the script compiler: records its arguments, writes three bytes of "byte code" to
// the output file (argument 2) and a variable report, then exits with the given status.
QString writeCompilerDouble(const QString &dir, int status, bool writeReport = true)
{
    const QString path = QDir(dir).filePath(QStringLiteral("compiler-%1.sh").arg(status));
    QByteArray script = "#!/bin/sh\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n"
                        "printf '\\001\\002\\003' > \"$2\"\n";
    if (writeReport) script += "printf '  42\\n0:4\\tx\\n' > variable_memory_usage.txt\n";
    script += "echo compiling\n"
              "exit " +
              QByteArray::number(status) + "\n";
    writeFile(path, script);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

} // namespace

class ScriptingParserTest : public QObject
{
    Q_OBJECT

private slots:
    void noScriptGivesEightZeroBytes_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::newRow("missing section") << "";
        QTest::newRow("no children") << "<scripting/>";
        QTest::newRow("other children only") << "<scripting><Script in='a'/><source in='b'/></scripting>";
    }

    void noScriptGivesEightZeroBytes()
    {
        QFETCH(QString, xml);
        Console console;
        ScriptingParser parser(console, "/nonexistent/tollan", QString());
        QByteArray out("x");
        QVERIFY(parser.parse(xml.isEmpty() ? QDomElement() : Xml(xml).root(), out));
        QCOMPARE(out, QByteArray(8, '\0'));
        QCOMPARE(console.capturedOut(), QString());
    }

    void compiledScript()
    {
        ScratchDir dir;
        QVERIFY(writeFile("api.xml", "<api/>"));
        const QString compiler = writeCompilerDouble(dir.path(), 0);
        Console console;
        ScriptingParser parser(console, compiler, QString());
        QByteArray out;
        QVERIFY(
            parser.parse(Xml("<scripting><script in='main.script' api='api.xml' stack='0x400' debug='debug'/>"
                             "</scripting>")
                             .root(),
                         out));
        // Stack 1024, variables 42, then the bytes the compiler wrote.
        QCOMPARE(out.toHex(' '), QByteArray("00 04 00 00 2a 00 00 00 01 02 03"));
        const QString canonicalApi = QFileInfo("api.xml").canonicalFilePath();
        QCOMPARE(console.capturedOut(), "\nscript\n compiler   :" + compiler +
                                            "\n script     :main.script\n api        :" + canonicalApi +
                                            "\n stack      :1024\ncompiling\n variables  :42\n");
        // "debug" is passed only together with "const".
        const QStringList args = QString::fromUtf8(readFile("args.txt")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(args.size(), 3);
        QCOMPARE(args.at(0), QString("main.script"));
        QVERIFY(args.at(1).startsWith(QDir::tempPath()));
        QCOMPARE(args.at(2), QString("api.xml"));
        // The temporary file is gone after the parse.
        QVERIFY(!QFile::exists(args.at(1)));
    }

    void argumentsInOrder_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<QString>("constantsLine");
        QTest::newRow("const and debug")
            << "const='k.txt' debug='xap_pack'" << QStringList{"k.txt", "xap_pack"} << " constants  :k.txt\n";
        QTest::newRow("const only") << "const='k.txt'" << QStringList{"k.txt"} << " constants  :k.txt\n";
        QTest::newRow("debug only") << "debug='debug'" << QStringList{} << "";
    }

    void argumentsInOrder()
    {
        QFETCH(QString, attributes);
        QFETCH(QStringList, tail);
        QFETCH(QString, constantsLine);
        ScratchDir dir;
        QTemporaryDir sdk;
        Console console;
        ScriptingParser parser(console, writeCompilerDouble(dir.path(), 0), sdk.path());
        QByteArray out;
        QVERIFY(parser.parse(Xml("<scripting><script in='s' " + attributes + "/></scripting>").root(), out));
        const QStringList args = QString::fromUtf8(readFile("args.txt")).split('\n', Qt::SkipEmptyParts);
        // The API file defaults to the SDK's; it does not exist here, so the api line is empty but the
        // path is still handed on.
        QCOMPARE(args.mid(2), QStringList{sdk.path() + "/api/wifiapi.xml"} + tail);
        QVERIFY(console.capturedOut().contains("\n api        :\n stack      :512\n" + constantsLine +
                                               "compiling\n"));
    }

    void unparsableStackCountsAsZero()
    {
        ScratchDir dir;
        Console console;
        ScriptingParser parser(console, writeCompilerDouble(dir.path(), 0), QString());
        QByteArray out;
        QVERIFY(parser.parse(Xml("<scripting><script in='s' stack='big'/></scripting>").root(), out));
        QCOMPARE(word(out, 0), 0u);
        QVERIFY(parser.parse(Xml("<scripting><script in='s' stack='010'/></scripting>").root(), out));
        QCOMPARE(word(out, 0), 8u);
    }

    void missingReportFailsTheSection_data()
    {
        // A compiler that ends well without writing its report: whatever an earlier run left must
        // not be taken for this compile's.
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("no report") << QByteArray();
        QTest::newRow("stale report") << QByteArray("64\n");
    }

    void missingReportFailsTheSection()
    {
        QFETCH(QByteArray, left);
        ScratchDir dir;
        if (!left.isEmpty()) QVERIFY(writeFile("variable_memory_usage.txt", left));
        Console console;
        ScriptingParser parser(console, writeCompilerDouble(dir.path(), 0, false), QString());
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<scripting><script in='s'/></scripting>").root(), out));
        QVERIFY2(console.capturedOut().endsWith(
                     "compiling\nvariable_memory_usage.txt file open failed\nscript compiler failed\n"),
                 qPrintable(console.capturedOut()));
        QVERIFY(!QFile::exists("variable_memory_usage.txt"));
    }

    void reportWithoutNumberFailsTheSection()
    {
        ScratchDir dir;
        const QString compiler = dir.file("empty-report.sh");
        QVERIFY(writeFile(compiler, "#!/bin/sh\n: > variable_memory_usage.txt\n"));
        QFile::setPermissions(compiler, QFile::permissions(compiler) | QFile::ExeOwner);
        Console console;
        ScriptingParser parser(console, compiler, QString());
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<scripting><script in='s'/></scripting>").root(), out));
        QVERIFY(console.capturedOut().endsWith(
            "variable_memory_usage.txt file read failed\nscript compiler failed\n"));
    }

    void failingCompilerFailsTheSection()
    {
        ScratchDir dir;
        Console console;
        ScriptingParser parser(console, writeCompilerDouble(dir.path(), 3), QString());
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<scripting><script in='s'/></scripting>").root(), out));
        QVERIFY(console.capturedOut().endsWith("compiling\nscript compiler failed\n"));
    }

    void compilerThatCannotStart()
    {
        ScratchDir dir;
        const QString missing = dir.file("no-such-compiler");
        Console console;
        ScriptingParser parser(console, missing, QString());
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<scripting><script in='s'/></scripting>").root(), out));
        QVERIFY(
            console.capturedOut().endsWith("unable to execute:" + missing + "\nscript compiler failed\n"));
    }
};

NW_TEST(ScriptingParserTest)

#include "tst_scriptingparser.moc"
