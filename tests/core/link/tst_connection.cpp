#include "linktest.h"
#include "testmain.h"
#include "uartdev.h"
#include "uarthvconnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace
{


// A connection on a fixed port list, with the order of its discovery signals written down.
struct Link {
    FixedPortEnumerator *ports = new FixedPortEnumerator;
    UartHVConnection comm{std::unique_ptr<PortEnumerator>(ports)};
    QStringList events;

    Link()
    {
        QObject::connect(&comm, &HVConnection::ClearDevices, [this] { events << "clear"; });
        QObject::connect(&comm, &HVConnection::DeviceFound,
                         [this](const QString &name, const QString &port) { events << name + '|' + port; });
    }
};

// What the window sees of a connection, in order: packets, link errors and the port's loss.
struct Reports {
    QStringList events;

    explicit Reports(HVConnection &comm)
    {
        QObject::connect(&comm, &HVConnection::RxData,
                         [this](const QByteArray &p) { events << "rx " + QString::fromLatin1(p.toHex()); });
        QObject::connect(&comm, &HVConnection::LinkError,
                         [this](const QString &m) { events << "error " + m; });
        QObject::connect(&comm, &HVConnection::DeviceClosed, [this] { events << "closed"; });
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &e : events)
            n += e.startsWith(prefix);
        return n;
    }
};

// Without processing events, so that nothing the worker posted is delivered meanwhile.
bool waitFinished(const UartDev *dev)
{
    QElapsedTimer timer;
    timer.start();
    while (!dev->isFinished() && timer.elapsed() < 10000)
        QThread::msleep(2);
    return dev->isFinished();
}

// The worker has taken everything the line held and waits for more; no events are processed.
bool readerIdle()
{
    for (int i = 0; i < 5000; ++i) {
        QThread::msleep(2);
        if (readerWaiting()) {
            QThread::msleep(20);
            if (readerWaiting()) return true;
        }
    }
    return false;
}

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
    void lostPortReportedOnce_data();
    void lostPortReportedOnce();
    void closeOnRequestReportsNothing_data();
    void closeOnRequestReportsNothing();
    void packetWaitingAtOpen();
    void openFailureReasons_data();
    void openFailureReasons();
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
    // Left open to others (the pty's line outlives the close, and with it an exclusive flag).
    const int fd = ::open(QFile::encodeName(pty.path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    int exclusive = -1;
    QVERIFY(fd >= 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0);
    ::close(fd);
    QCOMPARE(exclusive, 0);

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

void TestConnection::lostPortReportedOnce_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("adapter pulled") << "hang-up"
                                    << "the device hung up";
    QTest::newRow("node removed") << "removed"
                                  << "the device was removed";
    QTest::newRow("line stalled") << "stall"
                                  << "the line stalled for 0.3 s";
}

void TestConnection::lostPortReportedOnce()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    Pty pty;
    QVERIFY(pty.ok());
    QTemporaryDir dir;
    const QString node = dir.filePath("ttyUSB0");
    QVERIFY(QFile::link(pty.path, node));
    Link link;
    Reports reports(link.comm);
    link.comm.setWriteStallTimeout(300);
    QVERIFY(link.comm.OpenDevice(node, 115200));

    // Read by the worker but not yet handed over (no events run meanwhile): these must still come
    // before the report. (A pty drops what its reader has not taken when the master closes.)
    QVERIFY(pty.write(hex("08000100880001000801010105")));
    QVERIFY(readerIdle());
    qint64 writeMs = 0;
    {
        StdoutCapture out; // the worker's read and write errors
        if (cause == "hang-up") {
            pty.closeMaster();
        } else if (cause == "removed") {
            QVERIFY(QFile::remove(node));
            link.comm.DiscoverDevices();
        } else {
            // Nobody reads the other end: the write can never finish.
            QElapsedTimer timer;
            timer.start();
            link.comm.TxData(QByteArray(1 << 20, 'x'));
            writeMs = timer.elapsed();
        }
    }
    QCOMPARE(reports.events, QStringList());
    if (cause == "stall") QVERIFY2(writeMs >= 290 && writeMs < 5000, qPrintable(QString::number(writeMs)));
    QTRY_COMPARE_WITH_TIMEOUT(reports.count("closed"), 1, 10000);
    QCOMPARE(reports.events, QStringList({"rx 08000100", "rx 88000100", "rx 0801010105",
                                          "error Port " + node + " lost: " + reason, "closed"}));

    // The window closes the port in answer; later discoveries and writes report nothing more.
    link.comm.CloseDevice();
    QFile::remove(node);
    link.comm.DiscoverDevices();
    link.comm.TxData(hex("08000100"));
    QTest::qWait(100);
    QCOMPARE(reports.events.size(), 5);
}

void TestConnection::closeOnRequestReportsNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("closed, then hung up") << "close";
    QTest::newRow("replaced, then hung up") << "replace";
    QTest::newRow("hung up, closed before the report") << "race";
    QTest::newRow("closed, then node removed") << "remove";
}

void TestConnection::closeOnRequestReportsNothing()
{
    QFETCH(QString, how);
    Pty pty, other;
    QVERIFY(pty.ok() && other.ok());
    QTemporaryDir dir;
    const QString node = dir.filePath("ttyUSB0");
    QVERIFY(QFile::link(pty.path, node));
    Link link;
    Reports reports(link.comm);
    QVERIFY(link.comm.OpenDevice(node, 115200));
    QVERIFY(pty.write(hex("08000100")));
    QTRY_COMPARE_WITH_TIMEOUT(reports.count("rx"), 1, 10000);

    auto out = std::make_unique<StdoutCapture>();
    if (how == "close") {
        link.comm.CloseDevice();
        pty.closeMaster();
    } else if (how == "replace") {
        QVERIFY(link.comm.OpenDevice(other.path, 115200));
        pty.closeMaster();
    } else if (how == "race") {
        UartDev *dev = link.comm.device();
        pty.closeMaster();
        QVERIFY(waitFinished(dev));
        link.comm.CloseDevice();
    } else {
        link.comm.CloseDevice();
        QVERIFY(QFile::remove(node));
        link.comm.DiscoverDevices();
    }
    QTest::qWait(200);
    out.reset();
    QCOMPARE(reports.events, QStringList{"rx 08000100"});
}

void TestConnection::packetWaitingAtOpen()
{
    Pty pty;
    QVERIFY(pty.ok());
    // Raw before anyone opens the slave, so the packet waits there unchanged.
    termios t;
    QCOMPARE(::tcgetattr(pty.master, &t), 0);
    ::cfmakeraw(&t);
    QCOMPARE(::tcsetattr(pty.master, TCSANOW, &t), 0);
    QVERIFY(pty.write(hex("0801010105")));

    Link link;
    Reports reports(link.comm);
    QVERIFY(link.comm.OpenDevice(pty.path, 115200));
    QTRY_COMPARE_WITH_TIMEOUT(reports.events, QStringList{"rx 0801010105"}, 10000);
}

void TestConnection::openFailureReasons_data()
{
    QTest::addColumn<QString>("node"); // a file made for the row: "", "mode 000", "uucp 660"
    QTest::addColumn<QString>("path"); // %1: the file made
    QTest::addColumn<int>("error");    // 0: opened through the connection; else the reason for this errno
    QTest::addColumn<QString>("expected");
    const QString hint =
        " (add your user to the group that owns the device, \"dialout\" on Debian, then log in again)";

    QTest::newRow("missing") << ""
                             << "/nonexistent/ttyUSB9" << 0
                             << "Could not open /nonexistent/ttyUSB9: No such file or directory";
    QTest::newRow("not a tty") << ""
                               << "/dev/null" << 0 << "Could not open /dev/null: not a serial port";
    QTest::newRow("no permission") << "mode 000"
                                   << "%1" << 0 << "Could not open %1: Permission denied" + hint;
    // The reasons alone, for errors that root cannot meet.
    QTest::newRow("EACCES, node unknown") << ""
                                          << "/nonexistent/ttyUSB9" << EACCES << "Permission denied" + hint;
    QTest::newRow("EACCES, group of the node")
        << "uucp 660"
        << "%1" << EACCES
        << "Permission denied (add your user to the group that owns the device, \"uucp\", then log in again)";
    QTest::newRow("EBUSY") << ""
                           << "/dev/ttyUSB0" << EBUSY
                           << "Device or resource busy (another program has the port open)";
}

void TestConnection::openFailureReasons()
{
    QFETCH(QString, node);
    QFETCH(QString, path);
    QFETCH(int, error);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    if (!node.isEmpty()) {
        const struct group *uucp = ::getgrnam("uucp");
        if (::geteuid() == 0 && node == "mode 000") QSKIP("root opens any file");
        if ((::geteuid() != 0 || !uucp) && node == "uucp 660") QSKIP("needs root and a uucp group");
        path = dir.filePath("ttyS9");
        if (expected.contains("%1")) expected = expected.arg(path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QByteArray p = QFile::encodeName(path);
        if (node == "mode 000")
            QCOMPARE(::chmod(p.constData(), 0), 0);
        else
            QVERIFY(::chown(p.constData(), 0, uucp->gr_gid) == 0 && ::chmod(p.constData(), 0660) == 0);
    }

    if (error != 0) {
        QCOMPARE(serialio::openFailureReason(path, error), expected);
        return;
    }
    Link link;
    Reports reports(link.comm);
    QVERIFY(!link.comm.OpenDevice(path, 115200));
    QCOMPARE(reports.events, QStringList{"error " + expected});
    QVERIFY(!link.comm.device());
}

NW_TEST(TestConnection)
#include "tst_connection.moc"
