// nwctl as a user runs it: against the simulated module on a pseudo-terminal served by this test's
// event loop, or against a bare pseudo-terminal playing a module that answers out of turn.
#include "pty.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace
{

const QString nwctl = QStringLiteral(NW_SDK_DIR "/bin/nwctl");

struct Module {
    explicit Module(const SimOptions &o = SimOptions()) : device(o), line(&device, o) { line.openPty(); }
    SimDevice device;
    SimLine line;
};

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run run(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    p.start(nwctl, args);
    Run r;
    if (!ended.wait(60000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QString hexText(const char *text)
{
    return QString::fromLatin1(QByteArray(text).toHex());
}

// What a pseudo-terminal's master has received until `expected` shows up (or the time is out); the
// event loop keeps running meanwhile, so the simulated module goes on answering.
QByteArray readUntil(const Pty &pty, const QByteArray &expected, QByteArray &seen, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(expected) && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        seen += pty.readIdle(20);
    }
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(SimOptions)

class TestNwctl : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qRegisterMetaType<QProcess::ExitStatus>();
    }

    // A scan script with waits, read back as JSON.
    void scanScriptAsJson()
    {
        Module sim;
        QVERIFY(sim.line.isOpen());
        const QString script = dir.filePath("scan.txt");
        QVERIFY(writeFile(script, "# switch on and scan every channel\n"
                                  "sme_wifi_on\n"
                                  "wait sme_wifi_is_on result=0\n"
                                  "\n"
                                  "sme_start_scan 1\n"
                                  "wait sme_scan_result ssid=" +
                                      hexText("Lab Bench").toLatin1() +
                                      " channel=11\n"
                                      "wait sme_scanned\n"));
        const Run r = run({"--json", sim.line.path(), "-f", script});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(r.err, QString());

        QList<QJsonObject> packets;
        for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
            packets << doc.object();
        }
        QStringList names;
        for (const QJsonObject &o : packets)
            names << o["direction"].toString() + ' ' + o["name"].toString();
        QCOMPARE(names, QStringList({"tx wifi_cmd_sme_wifi_on", "rx wifi_rsp_sme_wifi_on",
                                     "rx wifi_evt_sme_wifi_is_on", "tx wifi_cmd_sme_start_scan",
                                     "rx wifi_rsp_sme_start_scan", "rx wifi_evt_sme_scan_result",
                                     "rx wifi_evt_sme_scan_result", "rx wifi_evt_sme_scan_result",
                                     "rx wifi_evt_sme_scan_result", "rx wifi_evt_sme_scanned"}));

        // The command as sent: hw_interface 1 and an empty channel list, 08 02 03 03 01 00.
        QCOMPARE(packets[3]["bytes"].toString(), QString("080203030100"));
        QCOMPARE(packets[3]["type"].toString(), QString("command"));
        QCOMPARE(packets[3]["params"].toObject()["hw_interface"].toInt(), 1);
        QCOMPARE(packets[4]["result"].toInt(), 0);
        QCOMPARE(packets[4]["result_text"].toString(), QString("No Error"));

        const QJsonObject lab = packets[7];
        QCOMPARE(lab["class"].toString(), QString("sme"));
        QCOMPARE(lab["message"].toString(), QString("scan_result"));
        QCOMPARE(lab["type"].toString(), QString("event"));
        const QJsonObject params = lab["params"].toObject();
        QCOMPARE(params["ssid"].toString(), hexText("Lab Bench"));
        QCOMPARE(params["channel"].toInt(), 11);
        QCOMPARE(params["rssi"].toInt(), -67);
        QCOMPARE(params["bssid"].toString(), QString("02:00:5e:10:00:03"));
        QCOMPARE(params["secure"].toInt(), 1);
        // Header 88 15 03 02 (21 payload bytes), then the fields in order, the ssid last after its length.
        QCOMPARE(lab["bytes"].toString(), QString("8815030202005e1000030bbdff160109") + hexText("Lab Bench"));
        QVERIFY(QDateTime::fromString(lab["time"].toString(), Qt::ISODateWithMs).isValid());
    }

    // Responses and events as velmo's log shows them, without the markup.
    void textOutput()
    {
        Module sim;
        const Run r = run({sim.line.path(), "sme_wifi_on", "--wait", "sme_wifi_is_on"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(r.out, QString("wifi_rsp_sme_wifi_on\t  result:0x0000 ['No Error']\n"
                                "wifi_evt_sme_wifi_is_on\t  result:0x0000 ['No Error']\n"));
    }

    void failures_data()
    {
        QTest::addColumn<SimOptions>("options");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("received"); // packets the module got
        QTest::addColumn<QString>("stderrHas");

        SimOptions plain;
        SimOptions mute;
        mute.muteAfter = 0;
        SimOptions hangup;
        hangup.hangupAfter = 1;

        QTest::newRow("no response") << mute << QStringList{"-t", "0.5", "sme_wifi_on"} << 1
                                     << "no response to sme_wifi_on within 0.5 s";
        QTest::newRow("non-zero result stops the run")
            << plain << QStringList{"sme_start_scan 1", "sme_wifi_on"} << 1
            << "sme_start_scan: result 0x0181 (Device is in wrong state to accept command)";
        QTest::newRow("keep going after a failure")
            << plain << QStringList{"-k", "sme_start_scan 1", "sme_wifi_on"} << 2 << "result 0x0181";
        QTest::newRow("event never comes")
            << plain << QStringList{"-t", "0.5", "sme_wifi_on", "--wait", "sme_scanned"} << 1
            << "no event sme_scanned within 0.5 s";
        QTest::newRow("event with other parameters")
            << plain
            << QStringList{"-t",        "1", "sme_wifi_on", "sme_start_scan 1", "--wait", "sme_scan_result",
                           "channel=12"}
            << 2 << "no event sme_scan_result with those parameters";
        QTest::newRow("port lost mid-script")
            << hangup << QStringList{"sme_wifi_on", "system_hello", "system_hello"} << 1 << "lost";
    }
    void failures()
    {
        QFETCH(SimOptions, options);
        QFETCH(QStringList, args);
        QFETCH(int, received);
        QFETCH(QString, stderrHas);
        Module sim(options);
        const Run r = run(QStringList{sim.line.path()} + args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
        QCOMPARE(sim.line.packetsReceived(), received);
        // Standard output holds packets only, whatever the link met on the way.
        for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(QLatin1String("wifi_")), qPrintable(r.out));
    }

    // Refused before the port is touched: exit 2, the reason, nothing sent.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("stderrHas");

        QTest::newRow("typo in the command")
            << QStringList{"sme_wifi_of"} << QByteArray()
            << "Command 'wifi_of' not found in class 'sme'; did you mean sme_wifi_off";
        QTest::newRow("class left out") << QStringList{"system_hello", "wifi_on"} << QByteArray()
                                        << "unknown command 'wifi_on'; did you mean sme_wifi_on";
        QTest::newRow("argument out of range") << QStringList{"hardware_adc_read 100"} << QByteArray()
                                               << "argument '100' out of range for uint8";
        QTest::newRow("too many arguments")
            << QStringList{"sme_wifi_on 1"} << QByteArray() << "Command requires exactly 0 arguments";
        QTest::newRow("odd hex packet") << QStringList{"0800030"} << QByteArray() << "not a packet";
        QTest::newRow("wrong length field")
            << QStringList{"08010300"} << QByteArray() << "Packet length field invalid expected:0";
        QTest::newRow("unknown event") << QStringList{"--wait", "sme_scaned"} << QByteArray()
                                       << "unknown event 'sme_scaned'; did you mean sme_scanned";
        QTest::newRow("unknown event parameter")
            << QStringList{"--wait", "sme_scan_result", "ssd=00"} << QByteArray()
            << "event sme_scan_result has no parameter 'ssd' (it has: bssid, channel, rssi, snr, secure, "
               "ssid)";
        QTest::newRow("bad event value") << QStringList{"--wait", "sme_scan_result", "bssid=0200"}
                                         << QByteArray() << "'0200' is not a value of bssid (hw_addr)";
        QTest::newRow("bad time-out")
            << QStringList{"-t", "soon", "system_hello"} << QByteArray() << "not a time-out in seconds: soon";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QByteArray() << "unknown option";
        QTest::newRow("option name run on")
            << QStringList{"--waiting", "sme_scanned"} << QByteArray() << "unknown option '--waiting'";
        QTest::newRow("bad script line, good ones before it")
            << QStringList{"system_hello"}
            << QByteArray("sme_wifi_on\nwait sme_wifi_is_on\n\nsme_start_scan 1 2 3\nsme_wifi_off\n")
            << "script.txt:4: Command requires 1 or 2 arguments";
        QTest::newRow("bad sleep in a script") << QStringList{} << QByteArray("system_hello\nsleep forever\n")
                                               << "script.txt:2: not a number of seconds: 'forever'";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, script);
        QFETCH(QString, stderrHas);
        Module sim;
        QStringList all{sim.line.path()};
        all << args;
        if (!script.isEmpty()) {
            QVERIFY(writeFile(dir.filePath("script.txt"), script));
            all << "-f" << dir.filePath("script.txt");
        }
        const Run r = run(all);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
        QVERIFY2(r.err.contains("Try 'nwctl --help'."), qPrintable(r.err));
        QCoreApplication::processEvents();
        QCOMPARE(sim.line.packetsReceived(), 0);
        QCOMPARE(r.out, QString());
    }

    void portCannotBeOpened()
    {
        const Run r = run({"/dev/nw-no-such-port", "system_hello"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("/dev/nw-no-such-port") && r.err.contains("No such file or directory"),
                 qPrintable(r.err));
    }

    // A packet that arrives while a line is typed prints above it; the line is drawn again, whole.
    void packetsAboveTheLine()
    {
        SimOptions slow;
        slow.delayMs = 1000;
        Module sim(slow);
        QTemporaryDir state;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", state.path());
        env.insert("TERM", "xterm");
        Pty terminal;
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardInputFile(terminal.path);
        p.setStandardOutputFile(terminal.path);
        QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        p.start(nwctl, {sim.line.path()});
        QByteArray seen;
        QVERIFY(readUntil(terminal, "nwctl> ", seen).contains("nwctl> "));
        QVERIFY(terminal.write("system_hello\r"));
        QVERIFY(readUntil(terminal, "system_hello\r\n", seen).contains("system_hello\r\n"));
        QVERIFY(terminal.write("sme_wifi_o"));
        seen.clear();
        const QByteArray redrawn = "wifi_rsp_system_hello\t\r\nnwctl> sme_wifi_o";
        QVERIFY2(readUntil(terminal, redrawn, seen).contains(redrawn), seen.constData());
        QVERIFY(seen.startsWith("sme_wifi_o")); // typed before the answer came
        QVERIFY(terminal.write("n\r"));
        QVERIFY2(readUntil(terminal, "wifi_rsp_sme_wifi_on", seen).contains("wifi_rsp_sme_wifi_on"),
                 seen.constData());
        QVERIFY(terminal.write("quit\r"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(p.exitCode(), 0);
    }

    // SIGTERM and SIGINT end a run with 143 and 130, saying what was left.
    void stopBySignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143 << "terminated; 2 step(s) not finished";
        QTest::newRow("SIGINT") << int(SIGINT) << 130 << "interrupted; 2 step(s) not finished";
    }
    void stopBySignal()
    {
        QFETCH(int, signal);
        QFETCH(int, status);
        QFETCH(QString, said);
        Module sim;
        QProcess p;
        QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        p.start(nwctl, {sim.line.path(), "--listen", "60", "system_hello"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(500);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(ended.wait(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(sim.line.path() + ": " + said), qPrintable(err));
        QCOMPARE(sim.line.packetsReceived(), 0);
    }

    // A module that answers out of turn: an unasked response, another command's failure and an event come
    // before the response to the command sent; only that one ends the command.
    void responsesOutOfTurn()
    {
        Pty module;
        QVERIFY(module.ok());
        QProcess p;
        QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        p.start(nwctl, {"--json", module.path, "sme_wifi_on"});
        QCOMPARE(module.read(4).toHex(), QByteArray("08000300"));
        QVERIFY(module.write(QByteArray::fromHex("080203018101"))); // wifi_off failed: not ours
        QVERIFY(module.write(QByteArray::fromHex("08000102")));     // system hello: unasked
        QVERIFY(module.write(QByteArray::fromHex("880203000000"))); // wifi_is_on event
        QTest::qWait(300);
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(module.write(QByteArray::fromHex("080203000000"))); // the answer
        QVERIFY(ended.wait(20000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(QJsonDocument::fromJson(lines[1].toUtf8()).object()["result"].toInt(), 0x0181);
        QCOMPARE(QJsonDocument::fromJson(lines[4].toUtf8()).object()["name"].toString(),
                 QString("wifi_rsp_sme_wifi_on"));
    }

    // At a terminal: Tab completes a partial name, the history comes back in the next run.
    void interactive()
    {
        Module sim;
        QTemporaryDir state;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", state.path());
        env.insert("TERM", "xterm");

        for (int round = 0; round < 2; ++round) {
            Pty terminal;
            QVERIFY(terminal.ok());
            QProcess p;
            p.setProcessEnvironment(env);
            p.setStandardInputFile(terminal.path);
            p.setStandardOutputFile(terminal.path);
            QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
            p.start(nwctl, {sim.line.path()});
            QByteArray seen;
            QVERIFY2(readUntil(terminal, "nwctl> ", seen).contains("nwctl> "), seen.constData());
            if (round == 0) {
                // The rest of the name and a blank are drawn after the cursor moves back; only the
                // completed name makes a command of the line.
                QVERIFY(terminal.write("sme_wifi_of\t"));
                QVERIFY2(readUntil(terminal, "f ", seen).contains("f "), seen.constData());
            } else {
                QVERIFY(terminal.write("\033[A")); // Up: the line of the first run
            }
            QVERIFY(terminal.write("\r"));
            QVERIFY2(readUntil(terminal, "wifi_evt_sme_wifi_is_off", seen).contains("wifi_rsp_sme_wifi_off"),
                     seen.constData());
            if (round == 1) {
                QVERIFY(terminal.write("help sme_start_scan\r"));
                const QByteArray help = "command sme_start_scan hw_interface:uint8 chList:uint8array\r\n"
                                        "response sme_start_scan result:uint16";
                QVERIFY2(readUntil(terminal, help, seen).contains(help), seen.constData());
            }
            QVERIFY(terminal.write("quit\r"));
            QVERIFY(ended.wait(20000));
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(sim.line.packetsReceived(), round + 1);
        }
        QVERIFY(QFile::exists(state.filePath("nw300/nwctl_history")));
    }
};

NW_TEST(TestNwctl)
#include "tst_nwctl.moc"
