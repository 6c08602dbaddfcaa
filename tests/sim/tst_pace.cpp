// The simulated module at a real line's pace: bytes both ways take their line time, and each flash chunk
// its write time, so a bench of simulated modules measures what real ones would.
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestPace : public QObject
{
    Q_OBJECT

    // Writes `commands` at once and times until `expected` bytes came back.
    static qint64 roundTrip(const SimOptions &o, const QByteArray &commands, int expected, QByteArray *reply = nullptr)
    {
        SimDevice device(o);
        SimLine line(&device, o);
        if (!line.openPty()) return -1;
        const int fd = ::open(QFile::encodeName(line.path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return -1;
        QByteArray got;
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, int(n));
        });
        QElapsedTimer timer;
        timer.start();
        if (::write(fd, commands.constData(), size_t(commands.size())) != commands.size()) return -1;
        QTest::qWaitFor([&] { return got.size() >= expected; }, 20000);
        const qint64 elapsed = got.size() >= expected ? timer.elapsed() : -1;
        ::close(fd);
        if (reply) *reply = got;
        return elapsed;
    }

private slots:
    void lineTimeBothWays_data()
    {
        QTest::addColumn<int>("pace");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("atMostMs");
        // 20 get_mac: 5 bytes each in; out a 7-byte response and an 11-byte mac_address event each, 360
        // bytes, which at 960 bytes a second take 375 ms.
        QTest::newRow("unpaced") << 0 << 0 << 300;
        QTest::newRow("9600 baud") << 9600 << 360 << 3000;
    }
    void lineTimeBothWays()
    {
        QFETCH(int, pace);
        QFETCH(int, atLeastMs);
        QFETCH(int, atMostMs);
        SimOptions o;
        o.paceBaud = pace;
        const QByteArray getMac = QByteArray::fromHex("0801020000");
        QByteArray reply;
        const qint64 ms = roundTrip(o, getMac.repeated(20), 20 * 18, &reply);
        QVERIFY(ms >= 0);
        QCOMPARE(reply.size(), 360);
        QVERIFY2(ms >= atLeastMs && ms <= atMostMs, qPrintable(QString::number(ms)));
    }

    void flashWriteTime()
    {
        SimOptions o;
        o.startInUpdateState = true;
        o.flashWriteUs = 20000;
        const QByteArray chunk = QByteArray::fromHex("0881000280") + QByteArray(128, char(0x5a));
        // Ten chunks of 20 ms each; a set_address first so they land at 0.
        const QByteArray setAddress = QByteArray::fromHex("080400010000000000").left(8);
        const qint64 ms = roundTrip(o, setAddress + chunk.repeated(10), 6 + 10 * 6);
        QVERIFY2(ms >= 195, qPrintable(QString::number(ms)));
    }

    // Something that is not a serial line is refused before anything is read from it.
    void attachRefusesNonTerminals()
    {
        for (const char *path : {"/dev/zero", "/dev/null"}) {
            QProcess sim;
            sim.start(QStringLiteral(NW_SDK_DIR "/bin/nwsim"), {QString::fromLatin1(path)});
            QVERIFY(sim.waitForFinished(10000));
            QCOMPARE(sim.exitCode(), 1);
            QVERIFY(sim.readAllStandardError().contains("not a serial device"));
        }
    }
};

NW_TEST(TestPace)
#include "tst_pace.moc"
