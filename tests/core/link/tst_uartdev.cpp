#include "linkdiagnostics.h"
#include "linktest.h"
#include "testmain.h"
#include "uartdev.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <asm/termbits.h>
#include <atomic>
#include <memory>
#include <random>
#include <sys/ioctl.h>
#include <thread>

namespace
{

// Packets of the worker, taken in the thread of `owner` (as the GUI thread takes them).
struct Received {
    QList<QByteArray> packets;
    bool foreignThread = false;
    QObject owner;

    void listen(UartDev *dev)
    {
        QObject::connect(
            dev, &UartDev::RxData, &owner,
            [this](const QByteArray &p) {
                packets.append(p);
                if (QThread::currentThread() != QCoreApplication::instance()->thread()) foreignThread = true;
            },
            Qt::QueuedConnection);
    }
};

struct OpenLine {
    Pty pty;
    std::unique_ptr<UartDev> dev;
    Received rx;

    bool open()
    {
        if (!pty.ok()) return false;
        dev = std::make_unique<UartDev>(pty.path);
        rx.listen(dev.get());
        return dev->openPort() && dev->setBaudRate(115200);
    }
};

} // namespace

class TestUartDev : public QObject
{
    Q_OBJECT

private slots:
    void knownHeaders_data();
    void knownHeaders();
    void cutsStream_data();
    void cutsStream();
    void packetInSingleBytes();
    void lineSettings_data();
    void lineSettings();
    void openFailure_data();
    void openFailure();
    void disconnectWhileReading();
    void peerHangUp();
    void destructorStopsReader();
    void partialWritesContinue();
    void blockedWriteReleasedByHangUp();
    void stress();
    void floodIntoSlowConsumer();
    void backlogYieldsToEventLoop();
    void closeRestoresTheLine_data();
    void closeRestoresTheLine();
    void diagnosticsGoToTheProgram();
};

void TestUartDev::knownHeaders_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("known");
    // Commands and events per class id, as the module's API defines them.
    const int counts[13][2] = {{4, 1}, {4, 4}, {2, 1}, {24, 23}, {23, 13}, {7, 5}, {16, 5},
                               {6, 3}, {3, 0}, {4, 6}, {3, 1},   {10, 4},  {2, 0}};
    const auto header = [](int byte0, int cls, int id) {
        const char bytes[4] = {char(byte0), 0, char(cls), char(id)};
        return QByteArray(bytes, 4);
    };
    for (int c = 0; c < 13; ++c) {
        const int cmds = counts[c][0];
        const int evts = counts[c][1];
        QTest::addRow("response %d/%d", c, cmds - 1) << header(0x08, c, cmds - 1) << true;
        QTest::addRow("response %d/%d", c, cmds) << header(0x08, c, cmds) << false;
        if (evts > 0) QTest::addRow("event %d/%d", c, evts - 1) << header(0x88, c, evts - 1) << true;
        QTest::addRow("event %d/%d", c, evts) << header(0x88, c, evts) << false;
    }
    QTest::newRow("class 13") << hex("08000d00") << false;
    QTest::newRow("event class 13") << hex("88000d00") << false;
    QTest::newRow("bit 3 clear") << hex("00000100") << false;
    QTest::newRow("event, bit 3 clear") << hex("80000100") << false;
    QTest::newRow("event with length bits") << hex("8fff0300") << true;
}

void TestUartDev::knownHeaders()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, known);
    QCOMPARE(UartDev::isKnownHeader(reinterpret_cast<const unsigned char *>(header.constData())), known);
}

void TestUartDev::cutsStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("packets");
    QTest::addColumn<int>("resyncs");

    const QByteArray sync = hex("08000100");    // system sync response, no payload
    const QByteArray boot = hex("88000100");    // system event 0, no payload
    const QByteArray reset = hex("0801010105"); // system response 1, one byte
    QByteArray event258 = hex("89020305");      // sme event 5 with 258 bytes
    for (int i = 0; i < 258; ++i)
        event258.append(char(i));
    QByteArray largest = hex("0fff060f"); // hardware response 15, 2047 bytes
    for (int i = 0; i < 2047; ++i)
        largest.append(char(i * 7));

    // A payload of length 0 must not end the reader.
    QTest::newRow("empty payload, then more") << sync + reset << QList<QByteArray>{sync, reset} << 0;
    QTest::newRow("one stray byte") << hex("00") + sync << QList<QByteArray>{sync} << 1;
    QTest::newRow("stray 0xff") << hex("ff") + sync << QList<QByteArray>{sync} << 1;
    QTest::newRow("three stray bytes") << hex("000000") + sync << QList<QByteArray>{sync} << 3;
    // Unknown headers are skipped one byte at a time; each window below checked by hand.
    QTest::newRow("response id at count") << hex("08000104") + sync << QList<QByteArray>{sync} << 4;
    QTest::newRow("class 13") << hex("08000d00") + boot << QList<QByteArray>{boot} << 4;
    QTest::newRow("event of class without events") << hex("88000800") + boot << QList<QByteArray>{boot} << 4;
    QTest::newRow("event id at count") << hex("88000104") + boot << QList<QByteArray>{boot} << 4;
    QTest::newRow("known ids, bit 3 clear") << hex("00000100") + sync << QList<QByteArray>{sync} << 4;
    QTest::newRow("event with length bits") << event258 << QList<QByteArray>{event258} << 0;
    QTest::newRow("largest payload") << largest + sync << QList<QByteArray>{largest, sync} << 0;
    QTest::newRow("back to back") << sync + event258 + reset + boot
                                  << QList<QByteArray>{sync, event258, reset, boot} << 0;
}

void TestUartDev::cutsStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, packets);
    QFETCH(int, resyncs);

    LogCapture log;
    OpenLine line;
    QVERIFY(line.open());
    QVERIFY(line.pty.write(stream));
    QTRY_COMPARE_WITH_TIMEOUT(line.rx.packets.size(), packets.size(), 20000);
    QCOMPARE(line.rx.packets, packets);
    QCOMPARE(log.count("resync"), resyncs);
    QVERIFY(!line.rx.foreignThread);
    QVERIFY(line.dev->isRunning());
}

void TestUartDev::packetInSingleBytes()
{
    OpenLine line;
    QVERIFY(line.open());
    QByteArray packet = hex("0fff060f");
    for (int i = 0; i < 2047; ++i)
        packet.append(char(255 - i % 251));
    for (char byte : packet)
        QVERIFY(line.pty.write(QByteArray(1, byte)));
    QVERIFY(line.pty.write(hex("08000100")));
    QTRY_COMPARE_WITH_TIMEOUT(line.rx.packets.size(), 2, 20000);
    QCOMPARE(line.rx.packets.at(0), packet);
}

void TestUartDev::lineSettings_data()
{
    QTest::addColumn<int>("baud");
    for (int baud : {5000000, 2500000, 2000000, 1000000, 500000, 256000, 128000, 115200, 57600, 38400, 19200,
                     14400, 9600, 4800, 2400, 1200, 600, 300, 110})
        QTest::addRow("%d", baud) << baud;
}

void TestUartDev::lineSettings()
{
    QFETCH(int, baud);
    Pty pty;
    QVERIFY(pty.ok());
    UartDev dev(pty.path);
    QVERIFY(dev.openPort());
    QVERIFY(dev.setBaudRate(baud));

    // Terminal ioctls on the master act on the slave's settings.
    termios2 t;
    QCOMPARE(::ioctl(pty.master, TCGETS2, &t), 0);
    QCOMPARE(t.c_ospeed, speed_t(baud));
    QCOMPARE(t.c_ispeed, speed_t(baud));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    QCOMPARE(t.c_cflag & (CRTSCTS | CREAD | CLOCAL), tcflag_t(CRTSCTS | CREAD | CLOCAL));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
}

void TestUartDev::openFailure_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << QStringLiteral("/nonexistent/ttyUSB9");
    QTest::newRow("not a tty") << QStringLiteral("/dev/null");
}

void TestUartDev::openFailure()
{
    QFETCH(QString, path);
    LogCapture log;
    UartDev dev(path);
    QVERIFY(!dev.openPort());
    QVERIFY(!dev.isRunning());
    QVERIFY(!dev.setBaudRate(115200));
    QCOMPARE(log.count("ERROR: cannot open serialport: " + path), 1);
}

void TestUartDev::disconnectWhileReading()
{
    LogCapture log;
    OpenLine line;
    QVERIFY(line.open());
    QSignalSpy closed(line.dev.get(), &UartDev::Closed);
    // A packet through, then the reader waits for the next header.
    QVERIFY(line.pty.write(hex("08000100")));
    QTRY_COMPARE_WITH_TIMEOUT(line.rx.packets.size(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(readerWaiting(), 20000);

    StdoutCapture out;
    line.dev->Disconnect();
    const bool finished = line.dev->isFinished();
    line.dev->Disconnect();
    QElapsedTimer timer;
    timer.start();
    const int written = line.dev->writeAll(4, "\x08\x00\x01\x00");
    line.dev->TxData(hex("08000100"));
    const qint64 writeMs = timer.elapsed();
    const QString printed = out.text();

    QVERIFY(finished);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(printed, QString("ERROR: ReadFile failed:9\n"
                              "ERROR: WriteFile failed:9\n"
                              "ERROR: WriteFile failed:9\n"));
    QCOMPARE(written, -1);
    QVERIFY2(writeMs < 10000, "a write on a closed port must fail at once");
    const QStringList lines = log.lines();
    const int disconnecting = lines.indexOf("UART disconnecting");
    QVERIFY(disconnecting >= 0);
    QCOMPARE(lines.indexOf("UART thread exit"), disconnecting + 1);
    QCOMPARE(lines.count("Finish"), 0);
    QVERIFY(line.pty.slaveClosed());
    QVERIFY(!line.dev->setBaudRate(115200));
    QCoreApplication::processEvents();
    QCOMPARE(closed.count(), 1);
}

void TestUartDev::peerHangUp()
{
    LogCapture log;
    OpenLine line;
    QVERIFY(line.open());
    std::atomic<int> closed{0};
    QObject::connect(line.dev.get(), &UartDev::Closed, [&closed] { ++closed; });
    QVERIFY(line.pty.write(hex("08000100")));
    QTRY_COMPARE_WITH_TIMEOUT(line.rx.packets.size(), 1, 20000);

    StdoutCapture out;
    line.pty.closeMaster(); // the adapter is pulled out
    QTRY_VERIFY_WITH_TIMEOUT(line.dev->isFinished(), 20000);
    line.dev->Disconnect();
    const QString printed = out.text();

    QCOMPARE(closed.load(), 1);
    QCOMPARE(printed, QString("ERROR: ReadFile failed:5\n"));
    QCOMPARE(log.count("UART thread exit"), 1);
}

void TestUartDev::destructorStopsReader()
{
    LogCapture log;
    Pty pty;
    QVERIFY(pty.ok());
    std::atomic<int> closed{0};
    {
        UartDev dev(pty.path);
        QObject::connect(&dev, &UartDev::Closed, [&closed] { ++closed; });
        Received rx;
        rx.listen(&dev);
        QVERIFY(dev.openPort());
        QVERIFY(dev.setBaudRate(115200));
        // A packet through, then the reader waits for the next header.
        QVERIFY(pty.write(hex("08000100")));
        QTRY_COMPARE_WITH_TIMEOUT(rx.packets.size(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(readerWaiting(), 20000);
    }
    QCOMPARE(closed.load(), 1);
    QVERIFY(pty.slaveClosed());
    const QStringList lines = log.lines();
    const int start = lines.indexOf("UartDev::~UartDev");
    QVERIFY(start >= 0);
    QCOMPARE(lines.mid(start),
             QStringList({"UartDev::~UartDev", "Finish", "UART disconnecting", "UART thread exit"}));
}

void TestUartDev::partialWritesContinue()
{
    OpenLine line;
    QVERIFY(line.open());
    // Far more than a pty buffers: the write is cut into many pieces.
    QByteArray data(1 << 20, Qt::Uninitialized);
    std::mt19937 random(7);
    for (char &c : data)
        c = char(random());
    QByteArray got;
    std::thread peer([&] { got = line.pty.read(data.size()); });
    const int result = line.dev->writeAll(data.size(), data.constData());
    peer.join();
    QCOMPARE(result, 0);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
}

void TestUartDev::blockedWriteReleasedByHangUp()
{
    LogCapture log;
    OpenLine line;
    QVERIFY(line.open());
    std::atomic<int> closed{0};
    QObject::connect(line.dev.get(), &UartDev::Closed, [&closed] { ++closed; });

    StdoutCapture out;
    // Nobody reads the other end, so the write blocks on a full line.
    const QByteArray data(1 << 20, 'x');
    std::atomic<int> result{1};
    std::thread writer([&] { result = line.dev->writeAll(data.size(), data.constData()); });
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int pending = 0;
            return ::ioctl(line.pty.master, FIONREAD, &pending) == 0 && pending > 0;
        }(),
        20000);
    line.pty.closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(result.load() != 1 && line.dev->isFinished(), 20000);
    writer.join();
    const QString printed = out.text();

    QCOMPARE(result.load(), -1);
    QCOMPARE(closed.load(), 1);
    // Whether the hang-up meets the write while it waits or as it starts depends on timing.
    QVERIFY2(printed.contains(QRegularExpression("ERROR: Write[Ff]ile failed:\\d+\n")), qPrintable(printed));
    QVERIFY2(printed.contains("ERROR: ReadFile failed:"), qPrintable(printed));
}

void TestUartDev::stress()
{
    constexpr int count = 100000;
    LogCapture log;
    OpenLine line;
    QVERIFY(line.open());

    // Random known headers with random payload sizes, mostly short as the module's traffic is.
    std::mt19937 random(12345);
    const QList<QByteArray> headers = {hex("08000100"), hex("08000317"), hex("88000316"), hex("08000a02"),
                                       hex("88000905"), hex("08000c01"), hex("88000000"), hex("08000600")};
    QList<QByteArray> packets;
    packets.reserve(count);
    QByteArray stream;
    for (int i = 0; i < count; ++i) {
        QByteArray p = headers.at(int(random() % headers.size()));
        const int length = random() % 16 == 0 ? int(random() % 2048) : int(random() % 64);
        p[0] = char(p.at(0) | (length >> 8));
        p[1] = char(length & 0xff);
        for (int k = 0; k < length; ++k)
            p.append(char(random()));
        stream.append(p);
        packets.append(p);
    }

    int mismatches = 0;
    int next = 0;
    QObject::connect(
        line.dev.get(), &UartDev::RxData, &line.rx.owner,
        [&](const QByteArray &p) {
            if (next >= count || p != packets.at(next)) ++mismatches;
            ++next;
        },
        Qt::QueuedConnection);

    QElapsedTimer timer;
    timer.start();
    std::thread peer([&] {
        std::mt19937 cut(99);
        for (int pos = 0; pos < stream.size();) {
            const int n = std::min<int>(1 + int(cut() % 3000), stream.size() - pos);
            if (!line.pty.write(stream.mid(pos, n))) return;
            pos += n;
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(next, count, 120000);
    peer.join();
    std::fprintf(stderr, "stress: %d packets, %lld bytes in %lld ms\n", count, qint64(stream.size()),
                 qint64(timer.elapsed()));
    QCOMPARE(mismatches, 0);
    QVERIFY(!line.rx.foreignThread);
    QCOMPARE(log.count("resync"), 0);
}

void TestUartDev::floodIntoSlowConsumer()
{
    constexpr int count = 40000;
    constexpr int limit = 16 * 1024;
    Pty pty;
    QVERIFY(pty.ok());
    UartDev dev(pty.path);
    dev.setRxBacklogLimit(limit);

    std::mt19937 random(4711);
    const QList<QByteArray> headers = {hex("08000100"), hex("88000316"), hex("08000a02"), hex("88000905")};
    QList<QByteArray> packets;
    QByteArray stream;
    for (int i = 0; i < count; ++i) {
        QByteArray p = headers.at(int(random() % headers.size()));
        const int length = random() % 50 == 0 ? int(random() % 2048) : int(random() % 40);
        p[0] = char(p.at(0) | (length >> 8));
        p[1] = char(length & 0xff);
        for (int k = 0; k < length; ++k)
            p.append(char(random()));
        stream.append(p);
        packets.append(p);
    }

    // Far slower than the line: it pauses every few packets.
    int next = 0;
    int mismatches = 0;
    bool foreignThread = false;
    QObject::connect(&dev, &UartDev::RxData, &dev, [&](const QByteArray &p) {
        if (next >= count || p != packets.at(next)) ++mismatches;
        if (++next % 400 == 0) QThread::msleep(2);
        foreignThread = foreignThread || QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    QVERIFY(dev.openPort() && dev.setBaudRate(921600));
    std::thread peer([&] { pty.write(stream); });
    QTRY_COMPARE_WITH_TIMEOUT(next, count, 25000);
    peer.join();
    QCoreApplication::processEvents();

    QCOMPARE(next, count);
    QCOMPARE(mismatches, 0);
    QVERIFY(!foreignThread);
    // The consumer fell behind (the backlog filled), yet the backlog never passed its bound.
    QVERIFY2(dev.rxBacklogPeak() > limit / 2 && dev.rxBacklogPeak() <= limit,
             qPrintable(QString::number(dev.rxBacklogPeak())));
}

void TestUartDev::backlogYieldsToEventLoop()
{
    constexpr int count = 30000;
    Pty pty;
    QVERIFY(pty.ok());
    UartDev dev(pty.path);
    // 19-byte events, 50 us of work each: the whole backlog would keep the loop busy for most of a second.
    QByteArray event = hex("880f0316");
    event.append(QByteArray(15, 'e'));
    int received = 0;
    QObject::connect(&dev, &UartDev::RxData, &dev, [&](const QByteArray &) {
        ++received;
        QElapsedTimer busy;
        busy.start();
        while (busy.nsecsElapsed() < 50000) {
        }
    });
    QElapsedTimer sinceTick;
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, sinceTick.elapsed() - 10);
        sinceTick.restart();
    });
    QVERIFY(dev.openPort() && dev.setBaudRate(921600));
    tick.start(10);
    sinceTick.start();
    std::thread peer([&] { pty.write(event.repeated(count)); });
    QTRY_COMPARE_WITH_TIMEOUT(received, count, 25000);
    peer.join();
    QTest::qWait(20); // the tick after the last packet counts too
    QVERIFY2(worst < 300, qPrintable(QString("timer %1 ms late").arg(worst)));
}

NW_TEST(TestUartDev)
void TestUartDev::closeRestoresTheLine_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("closed on request") << "disconnect";
    QTest::newRow("closed as lost") << "lost";
    QTest::newRow("worker destroyed") << "destroy";
}

// A terminal given as the port by mistake gets its own settings back: echo, canonical input, its speed.
void TestUartDev::closeRestoresTheLine()
{
    QFETCH(QString, how);
    Pty pty;
    QVERIFY(pty.ok());
    termios2 before;
    QCOMPARE(::ioctl(pty.master, TCGETS2, &before), 0);
    QVERIFY(before.c_lflag & ICANON); // a fresh pty is cooked
    {
        UartDev dev(pty.path);
        QVERIFY(dev.openPort());
        QVERIFY(dev.setBaudRate(1000000));
        termios2 open;
        QCOMPARE(::ioctl(pty.master, TCGETS2, &open), 0);
        QCOMPARE(open.c_lflag & ICANON, tcflag_t(0));
        if (how == "disconnect") dev.Disconnect();
        if (how == "lost") dev.closeAsLost(QStringLiteral("gone"));
    }
    termios2 after;
    QCOMPARE(::ioctl(pty.master, TCGETS2, &after), 0);
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_ospeed, before.c_ospeed);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(after.c_cc), NCCS),
             QByteArray(reinterpret_cast<const char *>(before.c_cc), NCCS));
}

namespace
{
struct Diagnostic {
    linkdiagnostics::Level level;
    QString port, text;
};
QMutex diagnosticsLock;
QList<Diagnostic> diagnostics;
void recordDiagnostic(linkdiagnostics::Level level, const QString &port, const QString &text)
{
    QMutexLocker lock(&diagnosticsLock);
    diagnostics.append({level, port, text});
}
} // namespace

// The program decides where the link's words go; each names the port it is about.
void TestUartDev::diagnosticsGoToTheProgram()
{
    linkdiagnostics::setHandler(&recordDiagnostic);
    StdoutCapture out;
    LogCapture log;
    {
        OpenLine line;
        QVERIFY(line.open());
        QVERIFY(line.pty.write(hex("ff08000100")));
        QTRY_COMPARE_WITH_TIMEOUT(line.rx.packets.size(), 1, 20000);
        line.pty.closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(line.dev->isFinished(), 20000);
        QMutexLocker lock(&diagnosticsLock);
        QStringList errors;
        bool resync = false;
        for (const Diagnostic &d : diagnostics) {
            QCOMPARE(d.port, line.pty.path);
            if (d.level == linkdiagnostics::Level::Error) errors << d.text;
            resync = resync || (d.level == linkdiagnostics::Level::Trace && d.text == "resync");
        }
        QCOMPARE(errors, QStringList("ERROR: ReadFile failed:5"));
        QVERIFY(resync);
    }
    linkdiagnostics::setHandler(nullptr);
    QCOMPARE(out.text(), QString());
    QCOMPARE(log.count("resync"), 0);
    diagnostics.clear();
}

#include "tst_uartdev.moc"
