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

    void outputFiles_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("listing");
        QTest::newRow("debug") << "debug" << true;
        QTest::newRow("Debug") << "Debug" << false;
    }
    void outputFiles()
    {
        QFETCH(QString, flag);
        QFETCH(bool, listing);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "consts.txt", "LIMIT 7\n");
        writeFile(dir, "a.s", "dim x\n");
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), {"a.s", "out.bin", "api.xml", "consts.txt", flag}, &out), 0);
        QCOMPARE(QFile::exists(dir.filePath("debug.txt")), listing);
        QFile bin(dir.filePath("out.bin"));
        QVERIFY(bin.open(QIODevice::ReadOnly));
        QCOMPARE(bin.readAll().toHex(), QByteArray("0400ffffffffffff17"));
        QFile usage(dir.filePath("variable_memory_usage.txt"));
        QVERIFY(usage.open(QIODevice::ReadOnly));
        QVERIFY(usage.readAll().startsWith("4\n0:0\tLIMIT\n"));
    }

    // A file that ends inside an if block leaves the IF without a target: no byte code is written.
    void unresolvedTargetWritesNothing()
    {
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "a.s", "dim x\nprocedure p()\nif x then\n");
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), {"a.s", "out.bin", "api.xml"}, &out), 255);
        QCOMPARE(out, QByteArray("IF with no end if\n"));
        QVERIFY(!QFile::exists(dir.filePath("out.bin")));
    }

    void optionsAfterPositionals()
    {
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "a.s", "dim x\n");
        QByteArray out;
        // Position 4 becomes the constants file "-e"; the end address 0x2000 sets the listing base.
        QCOMPARE(runTollan(dir.path(), {"a.s", "out.bin", "api.xml", "-e", "0x2000", "-d"}, &out), 0);
        QFile listing(dir.filePath("debug.txt"));
        QVERIFY(listing.open(QIODevice::ReadOnly));
        // Last instruction (the END) at 8: base 0x2000 - 8.
        QVERIFY(listing.readAll().startsWith("0\t1ff8 "));
    }
};

NW_TEST(CommandLineTest)
#include "tst_commandline.moc"
