#include "compilertest.h"
#include "testmain.h"

#include <QProcess>
#include <QTest>

using namespace tollan;

class ApiReaderTest : public QObject
{
    Q_OBJECT
private slots:
    void constantsAndParameters()
    {
        QTemporaryDir dir;
        const QString api = writeFile(dir, "api.xml", smallApi());
        const QString consts = writeFile(dir, "consts.txt", "LIMIT   42\nsingle\n  OTHER -7  extra\n");
        ApiDefinitions d;
        QVERIFY(d.load(api));
        QVERIFY(d.loadConstants(consts));
        const QMap<QByteArray, int32_t> &c = d.constants();
        // Defines are upper-cased and count on from the previous value; enums keep their case.
        QCOMPARE(c.value("SME_OK", -1), 0);
        QCOMPARE(c.value("SME_BAD", -1), 1);
        QCOMPARE(c.value("SME_HEX", -1), 16);
        QCOMPARE(c.value("SME_NEXT", -1), 17);
        QCOMPARE(c.value("sme_ok", -1), 10);
        QCOMPARE(c.value("LIMIT", -1), 42);
        QCOMPARE(c.value("OTHER", -1), -7);
        QVERIFY(!c.contains("single"));

        const ApiMessage *up = d.findEvent("sme_up");
        QVERIFY(up);
        QCOMPARE(up->params.size(), 3);
        QCOMPARE(up->params.at(1).name, QByteArray("data_len"));
        QCOMPARE(up->params.at(1).type, int(ty::Uint8));
        QCOMPARE(up->params.at(2).name, QByteArray("data"));
        QCOMPARE(up->params.at(2).type, int(ty::Uint8Array));
        const ApiMessage *rsp = d.findResponse("sme_set");
        QVERIFY(rsp);
        QCOMPARE(rsp->script, 3);
        QCOMPARE(rsp->params.size(), 3);
        QVERIFY(d.findCommand("util_ping"));
        QVERIFY(!d.findCommand("ping"));
    }

    void valueRules_data()
    {
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("decimal text") << QByteArray(R"(<define name="a" value="10"/>)") << QList<int>{10};
        QTest::newRow("hex text") << QByteArray(R"(<define name="a" value="0x10"/><define name="b"/>)")
                                  << QList<int>{16, 17};
        QTest::newRow("bad text") << QByteArray(R"(<define name="a" value="zz"/><define name="b" value=""/>)")
                                  << QList<int>{0, 1};
    }
    void valueRules()
    {
        QFETCH(QByteArray, values);
        QFETCH(QList<int>, expected);
        QTemporaryDir dir;
        const QString api = writeFile(
            dir, "api.xml", "<api><x><class name=\"c\"><defines>" + values + "</defines></class></x></api>");
        ApiDefinitions d;
        QVERIFY(d.load(api));
        QCOMPARE(d.constants().value("C_A", -99), expected.at(0));
        if (expected.size() > 1) QCOMPARE(d.constants().value("C_B", -99), expected.at(1));
    }

    // Class table offsets and event tables with fillers and the running id counter.
    void classAndEventTables()
    {
        QTemporaryDir dir;
        const QString api = writeFile(dir, "api.xml", R"(<api>
          <class name="a"><event name="e0" script="0"/><event name="e2" script="2"/></class>
          <class name="b"/>
          <class name="c"><event name="x" script="0x3"/></class></api>)");
        RecordingCompiler c;
        QVERIFY(c.loadApiDefinitions(api, QString()));
        const std::vector<Instruction> &p = c.program();
        QStringList got;
        for (const Instruction &i : p)
            got << QStringLiteral("%1:%2:%3").arg(i.kind).arg(i.value).arg(QString::fromLatin1(i.text));
        // 3 classes -> the first event table starts at 6; class "a" has 2 events -> "c" at 10.
        QCOMPARE(got, (QStringList{"30:6:", "30:65535:", "30:10:", "29:0:a_e0", "29:0:a_e2", "29:0:a_e2",
                                   "29:0:c_x"}));
        QVERIFY(c.errors.isEmpty());
    }

    void constantsBecomeReadOnlyGlobals()
    {
        QTemporaryDir dir;
        const QString api = writeFile(dir, "api.xml", smallApi());
        RecordingCompiler c;
        QVERIFY(c.loadApiDefinitions(api, QString()));
        QStringList names;
        for (const Symbol &s : c.globals()) {
            names << QString::fromLatin1(s.name);
            QVERIFY(s.constant);
            QCOMPARE(s.size, 0u);
            QCOMPARE(s.type, int(ty::Int32));
            QVERIFY(s.file.isEmpty());
        }
        QCOMPARE(names, (QStringList{"SME_BAD", "SME_HEX", "SME_NEXT", "SME_OK", "sme_ok"}));
    }

    void unreadableFiles()
    {
        QTemporaryDir dir;
        const QString broken = writeFile(dir, "broken.xml", "<api><class");
        ApiDefinitions d;
        QVERIFY(!d.load(dir.filePath("missing.xml")));
        QVERIFY(!d.load(broken));
        QVERIFY(!d.loadConstants(dir.filePath("missing.txt")));
        // Without an API the script is still compiled: no tables, no constants.
        RecordingCompiler c;
        QVERIFY(!c.loadApiDefinitions(broken, QString()));
        QVERIFY(c.program().empty());
        QVERIFY(c.compileLine("dim x\n", 1));
    }

    // Nesting far beyond any real file is refused like a file that does not parse; a deep but
    // sane file is still read, down to its innermost class.
    void nestingDepth_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("readable");
        QTest::newRow("900 levels") << 900 << true;
        QTest::newRow("30000 levels") << 30000 << false;
    }
    void nestingDepth()
    {
        QFETCH(int, depth);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const QByteArray xml = "<api>" + QByteArray("<g>").repeated(depth - 2) +
                               "<class name=\"c\"><event name=\"e\" script=\"0\"/></class>" +
                               QByteArray("</g>").repeated(depth - 2) + "</api>";
        ApiDefinitions d;
        QCOMPARE(d.load(writeFile(dir, "api.xml", xml)), readable);
        QCOMPARE(d.findEvent("c_e") != nullptr, readable);
    }

    // Entry n of the event tables stands for script id n, and every entry must lie within the
    // 16-bit address space: one class leaves (65536 - 2) / 2 = 32767 entries, ids 0 to 32766.
    void eventIdRange_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("refused");
        QTest::newRow("last id that fits") << QByteArray("32766") << false;
        QTest::newRow("first id that does not") << QByteArray("32767") << true;
        QTest::newRow("two billion") << QByteArray("2000000000") << true;
        QTest::newRow("negative") << QByteArray("-5") << false;
    }
    void eventIdRange()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        RecordingCompiler c;
        const QString api =
            writeFile(dir, "api.xml",
                      "<api><class name=\"c\"><event name=\"e\" script=\"" + script + "\"/></class></api>");
        QCOMPARE(c.loadApiDefinitions(api, QString()), !refused);
        QCOMPARE(c.apiRefused(), refused);
        if (!refused) QCOMPARE(int(c.program().size()), 1 + std::max(script.toInt(), 0) + 1);
    }

    // The shipped API file read by an independent reader (Python's ElementTree): one handler per
    // event with as many parameters as that reader counts, and every constant loaded. Class
    // table, event tables, parameter counts, constant names, values and order must all agree.
    void shippedFileRoundTrip()
    {
        const QString api = QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml");
        QProcess oracle;
        oracle.start(QStringLiteral("python3"),
                     {QStringLiteral(NW_SOURCE_DIR "/tests/compiler/apioracle.py"), api});
        QVERIFY(oracle.waitForFinished(60000));
        QCOMPARE(oracle.exitCode(), 0);
        QByteArray script, code, report;
        int section = 0;
        for (const QByteArray &line : oracle.readAllStandardOutput().split('\n')) {
            if (line == "----") {
                ++section;
                continue;
            }
            (section == 0 ? script : section == 1 ? code : report) += line + '\n';
        }
        QTemporaryDir dir;
        writeFile(dir, "all.s", script);
        QProcess tollan;
        tollan.setWorkingDirectory(dir.path());
        tollan.start(QStringLiteral(NW_TOLLAN), {"all.s", "out.bin", api});
        QVERIFY(tollan.waitForFinished(60000));
        QCOMPARE(tollan.readAllStandardOutput(), QByteArray());
        QCOMPARE(tollan.exitCode(), 0);
        QFile bin(dir.filePath("out.bin"));
        QVERIFY(bin.open(QIODevice::ReadOnly));
        QCOMPARE(bin.readAll().toHex() + '\n', code);
        QFile usage(dir.filePath("variable_memory_usage.txt"));
        QVERIFY(usage.open(QIODevice::ReadOnly));
        QCOMPARE(usage.readAll() + '\n', report);
    }

    void unknownTypeIsUint8()
    {
        QTemporaryDir dir;
        const QString api = writeFile(dir, "api.xml", R"(<api><types><type name="t" datatype="bool"/></types>
            <class name="c"><event name="e"><params><param type="t" name="p"/><param type="UINT8" name="q"/></params></event></class></api>)");
        ApiDefinitions d;
        QVERIFY(d.load(api));
        const ApiMessage *e = d.findEvent("c_e");
        QVERIFY(e);
        QCOMPARE(e->params.size(), 2);
        QCOMPARE(e->params.at(0).type, int(ty::Uint8));
        QCOMPARE(e->params.at(1).type, int(ty::Uint8));
    }
};

NW_TEST(ApiReaderTest)
#include "tst_apireader.moc"
