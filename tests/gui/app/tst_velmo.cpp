#include "nwversion.h"
#include "pty.h"
#include "startoptions.h"
#include "testmain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// Reports what the window tells the interface, then quits from the interface. The window has been
// shown by then: without a usable scene graph the program would have aborted drawing it.
const char *const reportingQml = R"(import QtQuick 2.15
Rectangle {
    color: "teal"
    Connections {
        target: mainobj
        function onAttached(open, port, baud) { console.log("attached", open, port, baud) }
        function onOpen_failed(reason) { console.log("open_failed", reason) }
    }
    Timer { interval: 1500; running: true; onTriggered: Qt.quit() }
}
)";

struct Run {
    int status = -1;
    QProcess::ExitStatus exit = QProcess::CrashExit;
    QString out;
    QString err;
};

Run runVelmo(const QStringList &args, const QString &dir = QString(), const QProcessEnvironment &env = {})
{
    QProcess p;
    if (!dir.isEmpty()) p.setWorkingDirectory(dir);
    if (!env.isEmpty()) p.setProcessEnvironment(env);
    p.start(QStringLiteral(NW_VELMO), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitCode();
    r.exit = p.exitStatus();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

} // namespace

class TestVelmo : public QObject
{
    Q_OBJECT

private slots:
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");

        const int run = StartOptions::Run, fail = StartOptions::Fail;
        QTest::newRow("nothing") << QStringList() << run << QString() << 115200;
        QTest::newRow("port") << QStringList{"--port", "/dev/ttyUSB0"} << run << "/dev/ttyUSB0" << 115200;
        QTest::newRow("port and baud")
            << QStringList{"--baud=921600", "--port=/dev/pts/3"} << run << "/dev/pts/3" << 921600;
        // "-reverse" holds a v, "-platform" an h: Qt's word options are not ours.
        QTest::newRow("Qt's options pass")
            << QStringList{"-platform", "offscreen", "-reverse", "--port", "/p"} << run << "/p" << 115200;
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << run << QString() << 115200;
        QTest::newRow("help wins") << QStringList{"--port", "/p", "-h"} << int(StartOptions::ShowHelp) << ""
                                   << 115200;
        QTest::newRow("version") << QStringList{"-v"} << int(StartOptions::ShowVersion) << "" << 115200;
        QTest::newRow("port without path") << QStringList{"--port"} << fail << "" << 0;
        QTest::newRow("baud not a number")
            << QStringList{"--port", "/p", "--baud", "fast"} << fail << "" << 0;
        QTest::newRow("baud zero") << QStringList{"--port", "/p", "--baud", "0"} << fail << "" << 0;
        QTest::newRow("baud without port") << QStringList{"--baud", "9600"} << fail << "" << 0;
        QTest::newRow("capture with a port")
            << QStringList{"--capture", "s.pcapng", "--port", "/p"} << run << "/p" << 115200;
        QTest::newRow("capture without file") << QStringList{"--capture"} << fail << "" << 0;
        QTest::newRow("open capture") << QStringList{"--open-capture", "s.pcapng"} << run << "" << 115200;
        // A played capture and a live port would share one decoder.
        QTest::newRow("open capture with a port")
            << QStringList{"--open-capture", "s.pcapng", "--port", "/p"} << fail << "" << 0;
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(QString, port);
        QFETCH(int, baud);
        args.prepend(QStringLiteral("velmo"));
        const StartOptions o = StartOptions::parse(args);
        QCOMPARE(int(o.action), action);
        if (action == StartOptions::Fail) {
            QVERIFY(!o.error.isEmpty());
        } else if (action == StartOptions::Run) {
            QCOMPARE(o.port, port);
            QCOMPARE(o.baud, baud);
        }
    }

    // Answered without a display, one line per option.
    void helpAndVersion()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));

        const Run help = runVelmo({"--help"}, QString(), env);
        QCOMPARE(help.status, 0);
        for (const char *option : {"-h, --help ", "-v, --version ", "--port <path> ", "--baud <rate> "})
            QCOMPARE(help.out.count(QRegularExpression(
                         QStringLiteral("(?m)^  %1 +\\S").arg(QRegularExpression::escape(option)))),
                     1);

        const Run version = runVelmo({"--version"}, QString(), env);
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("velmo " NW_VERSION_FULL "\n"));

        const Run bad = runVelmo({"--port"}, QString(), env);
        QCOMPARE(bad.status, 1);
        QVERIFY(bad.out.isEmpty());
        QVERIFY(bad.err.contains(QLatin1String("--port")));
    }

    void startsHeadless_data()
    {
        QTest::addColumn<bool>("withPort");
        QTest::addColumn<bool>("portOpens");
        QTest::newRow("no arguments") << false << false;
        QTest::newRow("--port of a pty") << true << true;
        QTest::newRow("--port that fails") << true << false;
    }

    // No OpenGL on the offscreen platform: the interface still draws, and Qt.quit() ends the program
    // as closing the window does, with status 0 and the settings saved.
    void startsHeadless()
    {
        QFETCH(bool, withPort);
        QFETCH(bool, portOpens);

        QTemporaryDir dir;
        QFile qml(dir.filePath("main.qml"));
        QVERIFY(qml.open(QIODevice::WriteOnly));
        qml.write(reportingQml);
        qml.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("QT_QUICK_BACKEND"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath("config"));

        Pty pty;
        const QString port = portOpens ? pty.path : dir.filePath("no-such-tty");
        const QStringList args = withPort ? QStringList{"--port", port, "--baud", "57600"} : QStringList();
        const Run r = runVelmo(args, dir.path(), env);
        QCOMPARE(r.exit, QProcess::NormalExit);
        QCOMPARE(r.status, 0);

        if (!withPort)
            QVERIFY(!r.err.contains(QLatin1String("attached")));
        else if (portOpens)
            QVERIFY2(r.err.contains(QStringLiteral("attached true %1 57600").arg(port)), qPrintable(r.err));
        else
            QVERIFY2(r.err.contains(QStringLiteral("open_failed Could not open %1").arg(port)),
                     qPrintable(r.err));

        QSettings saved(dir.filePath("config/Halvane/velmo88.conf"), QSettings::IniFormat);
        QVERIFY(saved.contains(QStringLiteral("dfuEraseKeys")));
    }
};

NW_TEST(TestVelmo)
#include "tst_velmo.moc"
