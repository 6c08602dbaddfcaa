// Loading the API definition file into the command line's model.
#include "commandparser.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace
{

QString dataFile(const char *name)
{
    return QStringLiteral(NW_SOURCE_DIR "/tests/core/api/data/") + QLatin1String(name);
}

QList<int> typeCodes(const ApiMessage &m)
{
    QList<int> codes;
    for (const ApiParam &p : m.params)
        codes.append(p.type);
    return codes;
}

} // namespace

class ApiModelTest : public QObject
{
    Q_OBJECT

private slots:
    void classesMessagesAndNumbers()
    {
        CommandParser parser;
        QSignalSpy log(&parser, &CommandParser::log_message);
        QCOMPARE(parser.load(dataFile("model.xml")), 0);
        QCOMPARE(log.count(), 0);

        QCOMPARE(parser.deviceName(), QStringLiteral("wifi"));
        QCOMPARE(int(parser.deviceId()), 0x08);
        QCOMPARE(parser.classes().size(), 2);

        const ApiClass &first = parser.classes().at(0);
        QCOMPARE(first.name, QStringLiteral("first"));
        QCOMPARE(first.commands.size(), 4);
        QCOMPARE(first.responses.size(), 4);

        const ApiMessage &go = first.commands.at(0);
        QCOMPARE(go.index, 31); // "0x1f"
        QCOMPARE(go.script, 8); // "010" is octal
        QCOMPARE(go.class_id, 0);
        QCOMPARE(go.name, QStringLiteral("go"));
        QCOMPARE(go.full_name, QStringLiteral("wifi_cmd_first_go"));
        // Wrong case, unknown and missing names are uint8; "invalid" is 0.
        QCOMPARE(typeCodes(go), (QList<int>{1, 1, 1, 0, 9}));
        // No "returns": the response has no parameters but the command's identity.
        const ApiMessage &goResponse = first.responses.at(0);
        QVERIFY(goResponse.params.isEmpty());
        QCOMPARE(goResponse.index, 31);
        QCOMPARE(goResponse.script, 8);
        QCOMPARE(goResponse.full_name, QStringLiteral("wifi_cmd_first_go"));

        QCOMPARE(typeCodes(first.responses.at(1)), (QList<int>{3, 10}));
        QVERIFY(first.commands.at(1).params.isEmpty());

        QCOMPARE(first.events.size(), 1);
        const ApiMessage &ev = first.events.at(0);
        QCOMPARE(ev.name, QStringLiteral("first_ev"));
        QVERIFY(ev.full_name.isEmpty());
        QCOMPARE(ev.index, 11);
        QCOMPARE(ev.script, 7);
        // Only the first "params" counts.
        QCOMPARE(ev.params.size(), 1);
        QCOMPARE(ev.params.at(0).name, QStringLiteral("x"));
        QCOMPARE(ev.params.at(0).type, 3);

        // Nested two levels down, still the second class of the file.
        const ApiClass &sme = parser.classes().at(1);
        QCOMPARE(sme.name, QStringLiteral("sme"));
        QCOMPARE(sme.commands.at(0).class_id, 1);
    }

    void nestedElementsCountForEveryEnclosingOne()
    {
        CommandParser parser;
        QCOMPARE(parser.load(dataFile("nested.xml")), 0);
        QCOMPARE(parser.classes().size(), 2);
        const ApiClass &outer = parser.classes().at(0);
        const ApiClass &inner = parser.classes().at(1);

        // The command's first "params" is the one of the event inside it.
        QCOMPARE(outer.commands.size(), 1);
        QCOMPARE(typeCodes(outer.commands.at(0)), QList<int>{3});
        QCOMPARE(typeCodes(outer.responses.at(0)), QList<int>{1});
        // The outer class holds its own event and the inner class's, under its own name and id.
        QCOMPARE(outer.events.size(), 2);
        QCOMPARE(outer.events.at(0).name, QStringLiteral("outer_inside"));
        QCOMPARE(typeCodes(outer.events.at(0)), QList<int>{3});
        QCOMPARE(outer.events.at(1).name, QStringLiteral("outer_e"));
        QCOMPARE(outer.events.at(1).class_id, 0);
        QCOMPARE(inner.events.size(), 1);
        QCOMPARE(inner.events.at(0).name, QStringLiteral("inner_e"));
        QCOMPARE(inner.events.at(0).class_id, 1);
        QVERIFY(inner.commands.isEmpty());

        // Group by group: the outer group gives k 4, 5 and 9, then the nested group gives k 0, last.
        QCOMPARE(parser.constants().size(), 2);
        QCOMPARE(parser.constants().value(QStringLiteral("OUTER_K"), -1), 0);
        QCOMPARE(parser.constants().value(QStringLiteral("INNER_K"), -1), 0);
    }

    void constants_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("value");
        QTest::newRow("first running") << "SME_A" << 0;
        QTest::newRow("empty value runs on") << "SME_B" << 1;
        QTest::newRow("hex value") << "SME_C" << 16;
        QTest::newRow("after hex") << "SME_D" << 17;
        QTest::newRow("define upper-cased") << "SME_MAX" << 7;
        QTest::newRow("unconvertible is 0") << "SME_JUNK" << 0;
        QTest::newRow("runs on from 0") << "SME_AFTER_JUNK" << 1;
        QTest::newRow("new group restarts") << "SME_RESTART" << 0;
        QTest::newRow("enum case kept") << "sme_max" << 9;
        QTest::newRow("enum upper X") << "sme_Low" << 10;
        QTest::newRow("enum runs on") << "sme_next" << 11;
        QTest::newRow("negative decimal") << "sme_neg" << -3;
    }

    void constants()
    {
        QFETCH(QString, key);
        QFETCH(int, value);
        CommandParser parser;
        QCOMPARE(parser.load(dataFile("model.xml")), 0);
        QVERIFY2(parser.constants().contains(key), qPrintable(key));
        QCOMPARE(parser.constants().value(key), value);
    }

    void constantKeysAreExact()
    {
        CommandParser parser;
        QCOMPARE(parser.load(dataFile("model.xml")), 0);
        QVERIFY(!parser.constants().contains(QStringLiteral("sme_a")));
        QVERIFY(!parser.constants().contains(QStringLiteral("SME_LOW")));
        QCOMPARE(parser.constants().size(), 12);
    }

    void loadingAdds()
    {
        CommandParser parser;
        QCOMPARE(parser.load(dataFile("model.xml")), 0);
        QCOMPARE(parser.load(dataFile("second.xml")), 0);
        QCOMPARE(parser.classes().size(), 3);
        QCOMPARE(parser.classes().at(2).name, QStringLiteral("extra"));
        // Class ids count within their own file.
        QCOMPARE(parser.classes().at(2).commands.at(0).class_id, 0);
        QCOMPARE(parser.constants().value(QStringLiteral("EXTRA_MAX")), 0x20);
        QCOMPARE(parser.constants().value(QStringLiteral("SME_MAX")), 7);
        QCOMPARE(parser.deviceName(), QStringLiteral("zz"));
        QCOMPARE(int(parser.deviceId()), 0x10);

        QString msg;
        QCOMPARE(parser.parse(QStringLiteral("extra_ping"), msg).toHex(), QByteArray("10000005"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        const QString missing = dataFile("no_such_file.xml");
        // QFileDevice::OpenError is 5.
        QTest::newRow("missing") << missing << missing + " file open failed 5";
        QTest::newRow("relative missing") << "wifi-missing.xml"
                                          << "wifi-missing.xml file open failed 5";
        QTest::newRow("not well-formed")
            << dataFile("broken.xml") << dataFile("broken.xml") + " file read failed";
    }

    void failures()
    {
        QFETCH(QString, path);
        QFETCH(QString, line);
        CommandParser parser;
        QCOMPARE(parser.load(dataFile("model.xml")), 0);
        QSignalSpy log(&parser, &CommandParser::log_message);
        QCOMPARE(parser.load(path), -1);
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(0).toString(), line);
        // The model is as it was.
        QCOMPARE(parser.classes().size(), 2);
        QCOMPARE(parser.deviceName(), QStringLiteral("wifi"));
        QCOMPARE(parser.constants().size(), 12);
    }

    // Nesting beyond any real file is refused like a broken file, not followed until the stack gives out.
    void nestingLimit_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("loads");
        QTest::newRow("command at level 256") << 256 << true;
        QTest::newRow("command at level 257") << 257 << false;
        QTest::newRow("30000 levels") << 30000 << false;
    }

    void nestingLimit()
    {
        QFETCH(int, levels);
        QFETCH(bool, loads);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("deep.xml"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // The root is level 1, the command inside the class the innermost level.
        const int wrappers = levels - 3;
        file.write("<api device_name=\"deep\" device_id=\"2\">");
        file.write(QByteArray("<w>").repeated(wrappers));
        file.write("<class name=\"inner\"><command name=\"c\" index=\"3\"/></class>");
        file.write(QByteArray("</w>").repeated(wrappers));
        file.write("</api>");
        file.close();

        CommandParser parser;
        QSignalSpy log(&parser, &CommandParser::log_message);
        QCOMPARE(parser.load(path), loads ? 0 : -1);
        if (loads) {
            QCOMPARE(log.count(), 0);
            QCOMPARE(parser.classes().size(), 1);
            QCOMPARE(parser.classes().at(0).name, QStringLiteral("inner"));
            QCOMPARE(parser.classes().at(0).commands.value(0).index, 3);
            QCOMPARE(parser.deviceName(), QStringLiteral("deep"));
        } else {
            QCOMPARE(log.count(), 1);
            QCOMPARE(log.at(0).at(0).toString(), path + " file read failed");
            QVERIFY(parser.classes().isEmpty());
            QVERIFY(parser.deviceName().isEmpty());
        }
    }

    void missingFileKnowsNoCommand()
    {
        CommandParser parser;
        QCOMPARE(parser.load(QStringLiteral("wifi-missing.xml")), -1);
        QString msg;
        QVERIFY(parser.parse(QStringLiteral("sme_wifi_on"), msg).isEmpty());
        QVERIFY(msg.isEmpty());
        // Hex packets still use the Wi-Fi device byte.
        QCOMPARE(parser.parse(QStringLiteral("08000102"), msg).toHex(), QByteArray("08000102"));
        QVERIFY(parser.parse(QStringLiteral("0900"), msg).isEmpty());
        QCOMPARE(msg, QStringLiteral("First byte must be correct device_id =8"));
    }

    // Start-up: the working directory's wifi.xml wins; otherwise the SDK file beside the program.
    void loadDefault()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString work = tmp.filePath(QStringLiteral("work"));
        const QString programDir = tmp.filePath(QStringLiteral("sdk/bin"));
        QVERIFY(QDir().mkpath(work));
        QVERIFY(QDir().mkpath(programDir));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work));
        struct Restore {
            QString dir;
            ~Restore() { QDir::setCurrent(dir); }
        } restore{saved};

        // Neither: the line for the SDK path, the one tried last.
        {
            CommandParser parser;
            QSignalSpy log(&parser, &CommandParser::log_message);
            QCOMPARE(parser.loadDefault(programDir), -1);
            QCOMPARE(log.count(), 1);
            QCOMPARE(log.at(0).at(0).toString(), programDir + "/../api/wifiapi.xml file open failed 5");
        }

        QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("sdk/api"))));
        QVERIFY(QFile::copy(dataFile("second.xml"), tmp.filePath(QStringLiteral("sdk/api/wifiapi.xml"))));
        {
            CommandParser parser;
            QSignalSpy log(&parser, &CommandParser::log_message);
            QCOMPARE(parser.loadDefault(programDir), 0);
            QCOMPARE(log.count(), 0);
            QCOMPARE(parser.deviceName(), QStringLiteral("zz"));
        }

        QVERIFY(QFile::copy(dataFile("model.xml"), QDir(work).filePath(QStringLiteral("wifi.xml"))));
        {
            CommandParser parser;
            QCOMPARE(parser.loadDefault(programDir), 0);
            QCOMPARE(parser.deviceName(), QStringLiteral("wifi"));
            QCOMPARE(parser.classes().size(), 2);
        }

        // A local file that is there but broken is reported, not silently replaced.
        QVERIFY(QFile::remove(QStringLiteral("wifi.xml")));
        QVERIFY(QFile::copy(dataFile("broken.xml"), QStringLiteral("wifi.xml")));
        {
            CommandParser parser;
            QSignalSpy log(&parser, &CommandParser::log_message);
            QCOMPARE(parser.loadDefault(programDir), -1);
            QCOMPARE(log.count(), 1);
            QCOMPARE(log.at(0).at(0).toString(), QStringLiteral("wifi.xml file read failed"));
        }
    }
};

NW_TEST(ApiModelTest)
#include "tst_apimodel.moc"
