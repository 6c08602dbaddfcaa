// nwctl's pieces without a port: what completion offers, how wait conditions are read, and packets decoded
// by the API definition, short ones included.
#include "interactive.h"
#include "packetview.h"
#include "script.h"
#include "session.h"
#include "testmain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TestConsoleParts : public QObject
{
    Q_OBJECT

    CommandParser parser;
    CommandHelp help{parser};

private slots:
    void initTestCase() { QCOMPARE(parser.load(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml")), 0); }

    void completion_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QStringList>("offered");

        QTest::newRow("command names") << ""
                                       << "sme_wifi_o" << QStringList{"sme_wifi_on", "sme_wifi_off"};
        QTest::newRow("keywords too") << ""
                                      << "he" << QStringList{"help"};
        QTest::newRow("help takes events") << "help "
                                           << "system_bo" << QStringList{"system_boot"};
        QTest::newRow("wait takes events only") << "wait "
                                                << "sme_scann" << QStringList{"sme_scanned"};
        QTest::newRow("no command is an event") << "wait "
                                                << "sme_wifi_o" << QStringList{};
        QTest::newRow("then its parameters") << "wait sme_scan_result "
                                             << "s" << QStringList{"snr=", "secure=", "ssid="};
        QTest::newRow("after another condition") << "wait sme_scan_result channel=6 "
                                                 << "b" << QStringList{"bssid="};
        // A command's arguments are positional: Tab shows its parameters instead.
        QTest::newRow("command arguments") << "sme_start_scan "
                                           << "" << QStringList{};
        QTest::newRow("nothing matches") << ""
                                         << "zzz" << QStringList{};
    }
    void completion()
    {
        QFETCH(QString, before);
        QFETCH(QString, word);
        QFETCH(QStringList, offered);
        Session session(help, SessionOptions());
        Interactive terminal(help, session, QString(), stdout);
        QCOMPARE(terminal.candidates(before, word), offered);
    }

    void historyFile()
    {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/var/state-here");
        QCOMPARE(Interactive::defaultHistoryFile(), QStringLiteral("/var/state-here/nw300/nwctl_history"));
        // A relative path is not to be used.
        qputenv("XDG_STATE_HOME", "relative");
        QCOMPARE(Interactive::defaultHistoryFile(), QDir::homePath() + "/.local/state/nw300/nwctl_history");
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(Interactive::defaultHistoryFile(), QDir::homePath() + "/.local/state/nw300/nwctl_history");
        if (!saved.isNull()) qputenv("XDG_STATE_HOME", saved);
    }

    void waitConditions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // "name=value" as matched, or the error
        QTest::newRow("mac with colons") << "wait sme_scan_result bssid=02:00:5E:10:00:03"
                                         << "bssid=02:00:5e:10:00:03";
        QTest::newRow("mac bare") << "wait sme_scan_result bssid=02005e100003"
                                  << "bssid=02:00:5e:10:00:03";
        QTest::newRow("mac short") << "wait sme_scan_result bssid=02005e1000"
                                   << "'02005e1000' is not a value of bssid (hw_addr)";
        QTest::newRow("negative decimal") << "wait sme_scan_result rssi=-67"
                                          << "rssi=-67";
        QTest::newRow("hex number") << "wait sme_scan_result channel=0x0b"
                                    << "channel=11";
        QTest::newRow("not a number") << "wait sme_scan_result channel=six"
                                      << "'six' is not a value of channel (int8)";
        QTest::newRow("array upper-case hex") << "wait sme_scan_result ssid=4C6162"
                                              << "ssid=4c6162";
        QTest::newRow("array odd hex") << "wait sme_scan_result ssid=4c6"
                                       << "'4c6' is not a value of ssid (uint8array)";
        QTest::newRow("no equals sign") << "wait sme_scan_result ssid"
                                        << "event sme_scan_result has no parameter 'ssid' (it has: bssid, "
                                           "channel, rssi, snr, secure, ssid)";
        QTest::newRow("another event's parameter")
            << "wait sme_wps_stopped x=1"
            << "event sme_wps_stopped has no parameter 'x' (it has: hw_interface)";
    }
    void waitConditions()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        Script script(help);
        QString error;
        if (script.addLine(line, &error)) {
            QCOMPARE(script.steps.size(), 1);
            QCOMPARE(script.steps[0].kind, Step::Wait);
            QCOMPARE(script.steps[0].classId, 3);
            const auto &c = script.steps[0].conditions;
            QCOMPARE(c.size(), 1);
            QCOMPARE(c[0].first + '=' + c[0].second, expected);
        } else {
            QCOMPARE(error, expected);
            QVERIFY(script.steps.isEmpty());
        }
    }

    // A file with a bad line keeps none of its steps, and says where.
    void fileAllOrNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("s.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(
            "system_hello\r\n  # indented comment\n\nsleep 0.25\nwait sme_scanned status=0\nsme_wifi_on x\n");
        f.close();
        Script script(help);
        QString error;
        QVERIFY(script.addCommand("sme_wifi_on", &error));
        QVERIFY(!script.addFile(path, &error));
        QCOMPARE(error, path + ":6: Command requires exactly 0 arguments");
        QCOMPARE(script.steps.size(), 1);

        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("system_hello\r\n  # indented comment\n\nsleep 0.25\nwait sme_scanned status=0");
        f.close();
        QVERIFY2(script.addFile(path, &error), qPrintable(error));
        QCOMPARE(script.steps.size(), 4);
        QCOMPARE(script.steps[1].packet.toHex(), QByteArray("08000102"));
        QCOMPARE(script.steps[1].line, 1);
        QCOMPARE(script.steps[2].kind, Step::Sleep);
        QCOMPARE(script.steps[2].ms, 250);
        QCOMPARE(script.steps[3].line, 5);
        QCOMPARE(script.steps[3].file, path);

        QVERIFY(!script.addFile(dir.filePath("missing.txt"), &error));
        QVERIFY2(error.startsWith(dir.filePath("missing.txt") + ": "), qPrintable(error));
    }

    void seconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ms"); // -1: refused
        QTest::newRow("whole") << "2" << 2000;
        QTest::newRow("fraction") << "0.0015" << 2;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("a day") << "86400" << 86400000;
        QTest::newRow("over a day") << "86401" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("not a number") << "nan" << -1;
        QTest::newRow("word") << "soon" << -1;
    }
    void seconds()
    {
        QFETCH(QString, text);
        QFETCH(int, ms);
        int got = -1;
        const bool ok = parseSeconds(text, &got);
        QCOMPARE(ok ? got : -1, ms);
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("packet"); // hex
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("json");
        // A response with a result: its code and text alongside.
        QTest::newRow("failed response")
            << QByteArray("080203038101") << false
            << R"({"bytes":"080203038101","class":"sme","class_id":3,"direction":"rx","message":"start_scan",)"
               R"("name":"wifi_rsp_sme_start_scan","params":{"result":385},"result":385,)"
               R"("result_text":"Device is in wrong state to accept command","type":"response"})";
        // A command as sent: tcp_connect to 192.168.1.10 port 80 routing -1.
        QTest::newRow("command with an address")
            << QByteArray("08070401c0a8010a5000ff") << true
            << R"({"bytes":"08070401c0a8010a5000ff","class":"tcpip","class_id":4,"direction":"tx",)"
               R"("message":"tcp_connect","name":"wifi_cmd_tcpip_tcp_connect",)"
               R"("params":{"address":"192.168.1.10","port":80,"routing":-1},"type":"command"})";
        // An event cut short: what fits is shown, the rest marked missing.
        QTest::newRow("short event")
            << QByteArray("8807030202005e10000101") << false
            << R"({"bytes":"8807030202005e10000101","class":"sme","class_id":3,"direction":"rx",)"
               R"("message":"scan_result","name":"wifi_evt_sme_scan_result",)"
               R"("params":{"bssid":"02:00:5e:10:00:01","channel":1},"truncated":true,"type":"event"})";
        // An array longer than the packet holds is not read past its end.
        QTest::newRow("array past the end")
            << QByteArray("880c030202005e10000101d7ff2d01ff") << false
            << R"({"bytes":"880c030202005e10000101d7ff2d01ff","class":"sme","class_id":3,"direction":"rx",)"
               R"("message":"scan_result","name":"wifi_evt_sme_scan_result","params":{"bssid":"02:00:5e:10:00:01",)"
               R"("channel":1,"rssi":-41,"secure":1,"snr":45},"truncated":true,"type":"event"})";
        QTest::newRow("unknown class")
            << QByteArray("08000d00") << false
            << R"({"bytes":"08000d00","class_id":13,"direction":"rx","message_id":0,)"
               R"("type":"unknown"})";
    }
    void decode()
    {
        QFETCH(QByteArray, packet);
        QFETCH(bool, sent);
        QFETCH(QString, json);
        PacketView view(help);
        QJsonObject got =
            QJsonDocument::fromJson(view.json(view.decode(QByteArray::fromHex(packet), sent), "t")).object();
        QCOMPARE(got.take("time").toString(), QStringLiteral("t"));
        const QJsonObject want = QJsonDocument::fromJson(json.toUtf8()).object();
        QVERIFY(!want.isEmpty());
        QCOMPARE(QString::fromUtf8(QJsonDocument(got).toJson(QJsonDocument::Compact)),
                 QString::fromUtf8(QJsonDocument(want).toJson(QJsonDocument::Compact)));
    }
};

NW_TEST(TestConsoleParts)
#include "tst_consoleparts.moc"
