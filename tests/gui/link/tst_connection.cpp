#include "linktest.h"
#include "testmain.h"
#include "uartdev.h"
#include "uarthvconnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace
{

class FixedPorts : public PortEnumerator
{
public:
    bool presentPorts(QList<PortInfo> *out) override
    {
        if (!available) return false;
        *out = list;
        return true;
    }

    QList<PortInfo> list;
    bool available = true;
};

// A connection on a fixed port list, with the order of its discovery signals written down.
struct Link {
    FixedPorts *ports = new FixedPorts;
    UartHVConnection comm{std::unique_ptr<PortEnumerator>(ports)};
    QStringList events;

    Link()
    {
        QObject::connect(&comm, &HVConnection::ClearDevices, [this] { events << "clear"; });
        QObject::connect(&comm, &HVConnection::DeviceFound,
                         [this](const QString &name, const QString &port) { events << name + '|' + port; });
    }
};

int entryCount(const char *dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

// Threads of the process that run a worker (a thread takes the name of its object's class).
int readerThreads()
{
    int count = 0;
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "UartDev") ++count;
    }
    return count;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void txDataWithoutPort();
    void packetsBothWays();
    void failedOpenKeepsEarlier();
    void openWhileOpenClosesEarlier();
    void closeDevice();
    void discoveryWithoutPorts();
    void discoveryKeepsPresentPort_data();
    void discoveryKeepsPresentPort();
    void discoveryClosesGonePort();
    void discoveryFailureLeavesPort();
    void systemDiscovery();
    void noLeakOverCycles();
};

void TestConnection::txDataWithoutPort()
{
    LogCapture log;
    Link link;
    link.comm.TxData(hex("0800010005ab"));
    HVConnection base;
    base.TxData(hex("ff00"));
    QCOMPARE(log.lines(), QStringList({"Device not open, trying to send: 0800010005ab",
                                       "HVConnection::TxData not handled: ff00"}));
}

void TestConnection::packetsBothWays()
{
    Pty pty;
    QVERIFY(pty.ok());
    Link link;
    QSignalSpy rx(&link.comm, &HVConnection::RxData);
    bool foreignThread = false;
    QObject::connect(&link.comm, &HVConnection::RxData, [&foreignThread] {
        foreignThread = foreignThread || QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    QVERIFY(link.comm.OpenDevice(pty.path, 115200));

    QVERIFY(pty.write(hex("0801010105880001000802000200aa")));
    QTRY_COMPARE_WITH_TIMEOUT(rx.count(), 3, 20000);
    QCOMPARE(rx.at(0).at(0).toByteArray(), hex("0801010105"));
    QCOMPARE(rx.at(1).at(0).toByteArray(), hex("88000100"));
    QCOMPARE(rx.at(2).at(0).toByteArray(), hex("0802000200aa"));
    QVERIFY(!foreignThread);

    link.comm.TxData(hex("080701010102000000000001"));
    QCOMPARE(pty.read(12), hex("080701010102000000000001"));
}

void TestConnection::failedOpenKeepsEarlier()
{
    LogCapture log;
    Pty pty;
    QVERIFY(pty.ok());
    Link link;
    QVERIFY(link.comm.OpenDevice(pty.path, 115200));
    UartDev *first = link.comm.device();
    QVERIFY(!link.comm.OpenDevice("/nonexistent/ttyACM7", 115200));
    QCOMPARE(link.comm.device(), first);
    QCOMPARE(log.count("ERROR: cannot open serialport: /nonexistent/ttyACM7"), 1);
    link.comm.TxData(hex("08000100"));
    QCOMPARE(pty.read(4), hex("08000100"));
}

void TestConnection::openWhileOpenClosesEarlier()
{
    Pty a, b;
    QVERIFY(a.ok() && b.ok());
    Link link;
    QSignalSpy rx(&link.comm, &HVConnection::RxData);
    QVERIFY(link.comm.OpenDevice(a.path, 115200));
    QSignalSpy firstClosed(link.comm.device(), &UartDev::Closed);

    QVERIFY(link.comm.OpenDevice(b.path, 115200));
    QCOMPARE(firstClosed.count(), 1);
    QVERIFY(a.slaveClosed());
    QVERIFY(b.write(hex("08000100")));
    QTRY_COMPARE_WITH_TIMEOUT(rx.count(), 1, 20000);

    // The same port again, at another rate: the earlier worker lets go of it first.
    QSignalSpy secondClosed(link.comm.device(), &UartDev::Closed);
    QVERIFY(link.comm.OpenDevice(b.path, 9600));
    QCOMPARE(secondClosed.count(), 1);
    QVERIFY(b.write(hex("88000100")));
    QTRY_COMPARE_WITH_TIMEOUT(rx.count(), 2, 20000);
    QCOMPARE(rx.at(1).at(0).toByteArray(), hex("88000100"));
}

void TestConnection::closeDevice()
{
    LogCapture log;
    Pty pty;
    QVERIFY(pty.ok());
    Link link;
    link.comm.CloseDevice(); // nothing open yet: nothing happens
    QVERIFY(link.comm.OpenDevice(pty.path, 115200));
    QSignalSpy closed(link.comm.device(), &UartDev::Closed);
    link.comm.CloseDevice();
    link.comm.CloseDevice();
    QCOMPARE(closed.count(), 1);
    QVERIFY(pty.slaveClosed());

    // Closed, not never opened: the write goes to the ended worker and fails there.
    StdoutCapture out;
    link.comm.TxData(hex("08000100"));
    QCOMPARE(out.text(), QString("ERROR: WriteFile failed:9\n"));
    QCOMPARE(log.count("Device not open, trying to send: 08000100"), 0);
}

void TestConnection::discoveryWithoutPorts()
{
    Link link;
    link.comm.DiscoverDevices();
    QCOMPARE(link.events, QStringList{"clear"});
}

void TestConnection::discoveryKeepsPresentPort_data()
{
    QTest::addColumn<bool>("listed");
    QTest::newRow("listed") << true;
    // Paths that the listing never gives (a pty, a link) stay open while they lead to a device.
    QTest::newRow("not listed, path exists") << false;
}

void TestConnection::discoveryKeepsPresentPort()
{
    QFETCH(bool, listed);
    LogCapture log;
    Pty pty;
    QVERIFY(pty.ok());
    Link link;
    link.ports->list = {{"USB Serial (ttyUSB3)", "/dev/ttyUSB3"}};
    if (listed) link.ports->list.append({"Pseudo terminal", pty.path});
    QVERIFY(link.comm.OpenDevice(pty.path, 115200));
    QSignalSpy closed(link.comm.device(), &UartDev::Closed);

    link.comm.DiscoverDevices();
    QStringList expected = {"clear", "USB Serial (ttyUSB3)|/dev/ttyUSB3"};
    if (listed) expected << "Pseudo terminal|" + pty.path;
    QCOMPARE(link.events, expected);
    QCOMPARE(closed.count(), 0);
    QVERIFY(link.comm.device()->isRunning());
    for (const QString &line : log.lines())
        QVERIFY2(!line.startsWith("close:"), qPrintable(line));
}

void TestConnection::discoveryClosesGonePort()
{
    LogCapture log;
    Pty pty;
    QVERIFY(pty.ok());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The device node of a USB adapter disappears when it is pulled out; a link stands in for it.
    const QString node = dir.filePath("ttyUSB0");
    QVERIFY(QFile::link(pty.path, node));
    Link link;
    link.ports->list = {{"Other adapter (ttyUSB1)", "/dev/ttyUSB1"}};
    QVERIFY(link.comm.OpenDevice(node, 115200));
    QSignalSpy closed(link.comm.device(), &UartDev::Closed);

    QVERIFY(QFile::remove(node));
    link.comm.DiscoverDevices();
    QCOMPARE(link.events, QStringList({"clear", "Other adapter (ttyUSB1)|/dev/ttyUSB1"}));
    QCOMPARE(log.count("close: " + node), 1);
    QCOMPARE(closed.count(), 1);
    QVERIFY(pty.slaveClosed());

    // Every later run says so again; the port is closed only once.
    link.comm.DiscoverDevices();
    QCOMPARE(log.count("close: " + node), 2);
    QCOMPARE(closed.count(), 1);
}

void TestConnection::discoveryFailureLeavesPort()
{
    Pty pty;
    QVERIFY(pty.ok());
    QTemporaryDir dir;
    const QString node = dir.filePath("ttyUSB0");
    QVERIFY(QFile::link(pty.path, node));
    Link link;
    link.ports->available = false;
    QVERIFY(link.comm.OpenDevice(node, 115200));
    QSignalSpy closed(link.comm.device(), &UartDev::Closed);
    QVERIFY(QFile::remove(node));
    link.comm.DiscoverDevices();
    QCOMPARE(link.events, QStringList{"clear"});
    QCOMPARE(closed.count(), 0);
}

void TestConnection::systemDiscovery()
{
    UartHVConnection comm;
    QSignalSpy clear(&comm, &HVConnection::ClearDevices);
    QSignalSpy found(&comm, &HVConnection::DeviceFound);
    comm.DiscoverDevices();
    QCOMPARE(clear.count(), 1);
    for (const QList<QVariant> &args : found) {
        QVERIFY(!args.at(0).toString().isEmpty());
        QVERIFY2(args.at(1).toString().startsWith("/dev/"), qPrintable(args.at(1).toString()));
    }
}

void TestConnection::noLeakOverCycles()
{
    Pty pty;
    QVERIFY(pty.ok());
    int fds = 0;
    {
        Link link;
        // One round first, so that whatever Qt sets up once is counted in.
        QVERIFY(link.comm.OpenDevice(pty.path, 115200));
        link.comm.CloseDevice();
        fds = entryCount("/proc/self/fd");

        for (int i = 0; i < 100; ++i) {
            QVERIFY(link.comm.OpenDevice(pty.path, 115200));
            if (i % 2) link.comm.CloseDevice(); // else the next open replaces a running worker
        }
        // At most the last worker: its reader thread, its port and its two events. A finished
        // reader's system thread may linger for a moment after the wait.
        QVERIFY(entryCount("/proc/self/fd") <= fds + 3);
        QTRY_VERIFY_WITH_TIMEOUT(readerThreads() <= 1, 10000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(readerThreads(), 0, 10000);
    QVERIFY(entryCount("/proc/self/fd") <= fds);
}

NW_TEST(TestConnection)
#include "tst_connection.moc"
