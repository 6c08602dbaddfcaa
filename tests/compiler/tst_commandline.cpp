#include "compilertest.h"
#include "testmain.h"

#include <QProcess>
#include <QTest>

// Runs the built program in a directory of its own and returns its exit status.
static int runTollan(const QString &dir, const QStringList &args, QByteArray *out)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(NW_TOLLAN), args);
    p.waitForFinished(60000);
    *out = p.readAllStandardOutput();
    return p.exitCode();
}

class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("none") << QStringList() << QByteArray("input file required\n");
        QTest::newRow("input only") << QStringList{"a.s"} << QByteArray("output file required\n");
        QTest::newRow("no api") << QStringList{"a.s", "out.bin"} << QByteArray("api file required\n");
        QTest::newRow("bad bank size") << QStringList{"a.s", "out.bin", "api.xml", "-s", "12abc"}
                                       << QByteArray("valid banksize required\n");
        QTest::newRow("bad end address")
            << QStringList{"a.s", "out.bin", "api.xml", "-e", "0x"} << QByteArray("valid address required\n");
        QTest::newRow("missing script")
            << QStringList{"none.s", "out.bin", "api.xml"} << QByteArray("Failed to open:none.s\n");
    }
    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), args, &out), 255);
        QCOMPARE(out, output);
    }

    void errorReportFormat()
    {
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "a.s", "dim x\n\n# comment\nprocedure p()\n  x = 1\n\n   x = = 2   \nend\n");
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), {"a.s", "out.bin", "api.xml"}, &out), 255);
        QCOMPARE(out, QByteArray("\na.s:Error, syntax error in line 7\n       \"x = = 2\"\n"
                                 "       expecting variable, ( or value\n\n"));
        QVERIFY(!QFile::exists(dir.filePath("out.bin")));
    }
};

NW_TEST(CommandLineTest)
#include "tst_commandline.moc"
