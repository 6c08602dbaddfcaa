#include "compilertest.h"
#include "nwversion.h"
#include "testmain.h"

#include "pty.h"

#include <QProcess>
#include <QTest>
#include <sys/stat.h>
#include <termios.h>

// Runs the built program in a directory of its own and returns its exit status.
static int runTollan(const QString &dir, const QStringList &args, QByteArray *out,
                     const QString &shellCommand = QString())
{
    QProcess p;
    p.setWorkingDirectory(dir);
    if (shellCommand.isEmpty())
        p.start(QStringLiteral(NW_TOLLAN), args);
    else
        p.start(QStringLiteral("bash"), {QStringLiteral("-c"), shellCommand});
    p.waitForFinished(60000);
    *out = p.readAllStandardOutput();
    return p.exitCode();
}

// Runs the program through bash, after the given limits ("ulimit -f 1" ...); a file-size limit
// then fails writes with an error instead of ending the process.
static int runLimited(const QString &dir, const QString &limits, const QStringList &args, QByteArray *out)
{
    QStringList quoted;
    for (const QString &a : args)
        quoted << QLatin1Char('\'') + a + QLatin1Char('\'');
    return runTollan(
        dir, {}, out,
        QStringLiteral("trap '' XFSZ; %1; exec '%2' %3").arg(limits, NW_TOLLAN, quoted.join(' ')));
}

static QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// A script of string constants, which are copied into the code as they are: `sizes` gives each
// one's length, so the program is 8 bytes of tables, their sum and the final END.
static QByteArray constantsScript(const QVector<int> &sizes)
{
    QByteArray s;
    for (int i = 0; i < sizes.size(); ++i)
        s += "const s" + QByteArray::number(i) + "() = \"" + QByteArray(sizes.at(i), 'a') + "\"\n";
    return s;
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
        // A script is read whole: one larger than any that fits the byte code is refused.
        QTest::newRow("script over 64 MiB")
            << QStringList{"big.s", "out.bin", "api.xml"} << QByteArray("big.s file too large\n");
    }
    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        QFile big(dir.filePath("big.s"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize((qint64(64) << 20) + 1)); // sparse
        big.close();
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

    // --help and --version answer with status 0; "-h" stays an unknown option.
    void helpAndVersion_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("tollan " NW_VERSION_FULL "\n");
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QByteArray("  -s, --bank-size <size>       Target memory bank <size>\n");
        QTest::newRow("short h") << QStringList{"-h"} << 1 << QByteArray();
    }
    void helpAndVersion()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), args, &out), status);
        if (output.isEmpty() || output.startsWith("tollan"))
            QCOMPARE(out, output);
        else
            QVERIFY2(out.contains(output) && out.contains("--address-end") && out.contains("--debug") &&
                         out.contains("--version"),
                     out.constData());
    }

    // No output may land on an input or on another output of the run; nothing is written then.
    void outputClashes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("script")
            << QStringList{"a.s", "a.s", "api.xml"}
            << QByteArray("output path clash: a.s is both the script file and the output file\n");
        QTest::newRow("api by another spelling")
            << QStringList{"a.s", "./sub/../api.xml", "api.xml"}
            << QByteArray("output path clash: ./sub/../api.xml is both the api file and the output file\n");
        QTest::newRow("constants") << QStringList{"a.s", "consts.txt", "api.xml", "consts.txt"}
                                   << QByteArray(
                                          "output path clash: consts.txt is both the constants file and the "
                                          "output file\n");
        QTest::newRow("imported script")
            << QStringList{"a.s", "b.s", "api.xml"}
            << QByteArray("output path clash: b.s is both the script file and the "
                          "output file\n");
        QTest::newRow("symlink to the script")
            << QStringList{"a.s", "link.bin", "api.xml"}
            << QByteArray("output path clash: link.bin is both the script file and the output file\n");
        QTest::newRow("report") << QStringList{"a.s", "variable_memory_usage.txt", "api.xml"}
                                << QByteArray(
                                       "output path clash: variable_memory_usage.txt is both the output "
                                       "file and the memory report\n");
        QTest::newRow("listing") << QStringList{"a.s", "sub/../debug.txt", "api.xml", "consts.txt", "debug"}
                                 << QByteArray("output path clash: debug.txt is both the output file and the "
                                               "listing\n");
    }
    void outputClashes()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("sub");
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "consts.txt", "LIMIT 7\n");
        writeFile(dir, "a.s", "import \"b.s\"\ndim x\n");
        writeFile(dir, "b.s", "dim y\n");
        QFile::link(dir.filePath("a.s"), dir.filePath("link.bin"));
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::System);
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), args, &out), 255);
        QCOMPARE(out, output);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System), before);
        QCOMPARE(readAll(dir.filePath("a.s")), QByteArray("import \"b.s\"\ndim x\n"));
        QCOMPARE(readAll(dir.filePath("b.s")), QByteArray("dim y\n"));
        QCOMPARE(readAll(dir.filePath("api.xml")), smallApi());
    }

    // A file that cannot be written whole leaves the earlier one as it was and fails the run; an
    // unwritable listing is only reported.
    void writeFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("limits");
        QTest::addColumn<QString>("folder"); // made a folder where the program writes a file
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("binary");
        QTest::addColumn<QByteArray>("report");
        QByteArray manyGlobals = "dim ";
        for (int i = 0; i < 60; ++i)
            manyGlobals += (i ? ", variable_number_" : "variable_number_") + QByteArray::number(i);
        const QByteArray newBinary = QByteArray::fromHex("0400ffffffffffff17");
        QTest::newRow("binary beyond the size limit")
            << constantsScript({1100}) << "ulimit -f 1" << QString() << 255
            << QByteArray("output file write failed:out.bin: File too large\n")
            << QByteArray("old binary") << QByteArray("old report");
        QTest::newRow("report beyond the size limit")
            << manyGlobals << "ulimit -f 1" << QString() << 255
            << QByteArray("variable_memory_usage.txt file write failed: ") << newBinary
            << QByteArray("old report");
        QTest::newRow("report not writable") << QByteArray("dim x") << "true"
                                             << "variable_memory_usage.txt" << 255
                                             << QByteArray("variable_memory_usage.txt file open failed\n")
                                             << newBinary << QByteArray("(missing)");
        QTest::newRow("listing not writable")
            << QByteArray("dim x") << "true"
            << "debug.txt" << 0 << QByteArray("debug.txt file open failed: Is a directory\n") << newBinary
            << QByteArray("4\n0:0\tSME_BAD\n");
    }
    void writeFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, limits);
        QFETCH(QString, folder);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, binary);
        QFETCH(QByteArray, report);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "consts.txt", "");
        writeFile(dir, "a.s", script);
        writeFile(dir, "out.bin", "old binary");
        if (folder.isEmpty())
            writeFile(dir, "variable_memory_usage.txt", "old report");
        else
            QDir(dir.path()).mkdir(folder);
        QByteArray out;
        QCOMPARE(runLimited(dir.path(), limits, {"a.s", "out.bin", "api.xml", "consts.txt", "debug"}, &out),
                 status);
        QVERIFY2(out.contains(output), out.constData());
        QCOMPARE(readAll(dir.filePath("out.bin")), binary);
        QVERIFY(readAll(dir.filePath("variable_memory_usage.txt")).startsWith(report));
        // No temporary file is left behind.
        const QStringList left = QDir(dir.path()).entryList(QDir::Files);
        for (const QString &name : left)
            QVERIFY2(QStringList({"api.xml", "consts.txt", "a.s", "out.bin", "variable_memory_usage.txt",
                                  "debug.txt"})
                         .contains(name),
                     qPrintable(name));
    }

    // An output name that is a character device gets the bytes in place; a FIFO is refused, not
    // waited on, and stays a FIFO.
    void outputToDeviceNodes_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("character device") << false;
        QTest::newRow("fifo") << true;
    }
    void outputToDeviceNodes()
    {
        QFETCH(bool, fifo);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "a.s", "dim x\n");
        Pty pty;
        QVERIFY(pty.ok());
        termios raw;
        QVERIFY(tcgetattr(pty.master, &raw) == 0);
        cfmakeraw(&raw);
        QVERIFY(tcsetattr(pty.master, TCSANOW, &raw) == 0);
        const QString node = dir.filePath("node");
        if (fifo)
            QVERIFY(mkfifo(QFile::encodeName(node).constData(), 0600) == 0);
        else
            QVERIFY(QFile::link(pty.path, node));
        QByteArray out;
        const int status = runTollan(dir.path(), {"a.s", "node", "api.xml"}, &out);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(node).constData(), &st) == 0);
        if (fifo) {
            QCOMPARE(status, 255);
            QCOMPARE(out, QByteArray("output file open failed:node\n"));
            QVERIFY(S_ISFIFO(st.st_mode));
        } else {
            QCOMPARE(status, 0);
            QVERIFY(S_ISCHR(st.st_mode));
            QCOMPARE(pty.read(9, 3000).toHex(), QByteArray("0400ffffffffffff17"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QStringList("node.*"), QDir::AllEntries | QDir::System),
                 QStringList());
    }

    // Addresses are 16 bits wide, and the end address must leave room for the whole program.
    void programSize_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("65536 bytes") << constantsScript(QVector<int>(65, 1000) << 527) << QStringList() << 0
                                     << QByteArray();
        QTest::newRow("65537 bytes") << constantsScript(QVector<int>(65, 1000) << 528) << QStringList() << 255
                                     << QByteArray(
                                            "program too large: 65537 bytes, byte code addresses reach 65536 "
                                            "bytes\n");
        QTest::newRow("end address at the size")
            << QByteArray("dim x") << QStringList{"-e", "9"} << 0 << QByteArray();
        QTest::newRow("end address below the size")
            << QByteArray("dim x") << QStringList{"-e", "8"} << 255
            << QByteArray("end address 8 is below the program size of 9 bytes\n");
    }
    void programSize()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        writeFile(dir, "consts.txt", "");
        writeFile(dir, "a.s", script);
        QByteArray out;
        QCOMPARE(
            runTollan(dir.path(), QStringList{"a.s", "out.bin", "api.xml", "consts.txt"} + options, &out),
            status);
        QCOMPARE(out, output);
        QCOMPARE(QFile::exists(dir.filePath("out.bin")), status == 0);
        QCOMPARE(QFile::exists(dir.filePath("variable_memory_usage.txt")), status == 0);
    }

    // API files the tables cannot be built from: an event id the 16-bit table cannot reach ends
    // the run; XML nested beyond any real file reads as a broken file, and the script is
    // compiled without the API.
    void hostileApiFiles_data()
    {
        QTest::addColumn<QByteArray>("api");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("event id") << QByteArray(
                                         "<api><class name=\"c\"><event name=\"e\" script=\"2000000000\"/>"
                                         "</class></api>")
                                  << 255
                                  << QByteArray(
                                         "api.xml: event c_e has script id 2000000000, beyond the event "
                                         "table\n");
        QTest::newRow("30000 levels")
            << "<api>" + QByteArray("<a>").repeated(30000) + QByteArray("</a>").repeated(30000) + "</api>"
            << 0 << QByteArray("api.xml file read failed\n");
    }
    void hostileApiFiles()
    {
        QFETCH(QByteArray, api);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", api);
        writeFile(dir, "a.s", "dim x\n");
        QByteArray out;
        QCOMPARE(runTollan(dir.path(), {"a.s", "out.bin", "api.xml"}, &out), status);
        QCOMPARE(out, output);
        QCOMPARE(QFile::exists(dir.filePath("out.bin")), status == 0);
    }

    // Each imported file is closed before the next is compiled, so a chain longer than the
    // process may hold open files compiles; nesting has a limit of its own, and says so.
    void importChains_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("status");
        QTest::newRow("100 files, 16 descriptors") << 100 << 0;
        QTest::newRow("1002 files") << 1002 << 255;
    }
    void importChains()
    {
        QFETCH(int, files);
        QFETCH(int, status);
        QTemporaryDir dir;
        writeFile(dir, "api.xml", smallApi());
        for (int i = 0; i < files; ++i) {
            const QByteArray next = i + 1 < files ? "import \"f" + QByteArray::number(i + 1) + ".s\"\n" : "";
            writeFile(dir, QStringLiteral("f%1.s").arg(i), next + "dim v" + QByteArray::number(i) + "\n");
        }
        QByteArray out;
        QCOMPARE(runLimited(dir.path(), "ulimit -n 16", {"f0.s", "out.bin", "api.xml"}, &out), status);
        if (status == 0) {
            QCOMPARE(out, QByteArray());
            QVERIFY(readAll(dir.filePath("variable_memory_usage.txt")).startsWith("400\n"));
        } else {
            QCOMPARE(out,
                     QByteArray("\nf1000.s:Error, import failed in line 1\n       \"import \"f1001.s\"\"\n"
                                "       Script file \"f1001.s\" is nested more than 1000 imports deep\n\n"));
        }
    }
};

NW_TEST(CommandLineTest)
#include "tst_commandline.moc"
