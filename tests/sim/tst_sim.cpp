// The simulated module through a pseudo-terminal, driven by the project's own codec: the host side is a
// cls_wifi whose commands go out through its per-class slots and whose deframer cuts what comes back.
#include "cls_wifi.h"
#include "crc32ref.h"
#include "messagetable.h"
#include "pty.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using Script = std::function<void(cls_wifi &)>;
Q_DECLARE_METATYPE(Script)

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

void putLe32(QByteArray &image, int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[offset + i] = char(value >> (8 * i));
}

// An erased flash holding a software block of `length` bytes at `start`, with its record.
QByteArray imageWithBlock(uint32_t start, uint32_t length)
{
    QByteArray image(SimDevice::flashSize, char(0xff));
    QByteArray block;
    for (uint32_t i = 0; i < length; ++i)
        block.append(char((i * 7 + 3) & 0xff));
    image.replace(int(start), int(length), block);
    putLe32(image, 511984, start);
    putLe32(image, 511988, length);
    putLe32(image, 511992, crc32Reference(block));
    return image;
}

// The host's end of the line.
class Host : public QObject
{
public:
    explicit Host(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { readAll(); });
        connect(&wifi, &cls_wifi::tx_data, this, [this](const QByteArray &packet) { write(packet); });
        connect(&wifi, &cls_wifi::parsed_message_data, this,
                [this](const QByteArray &packet) { packets.append(packet); });
    }
    ~Host() override
    {
        if (fd >= 0) ::close(fd);
    }

    void write(const QByteArray &bytes)
    {
        int done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) done += int(n);
            pollfd p = {fd, POLLOUT, 0};
            if (n < 0 && errno == EAGAIN)
                ::poll(&p, 1, 100);
            else if (n < 0)
                return;
        }
    }

    QByteArray joined() const { return packets.join(); }

    cls_wifi wifi;
    int fd = -1;
    QByteArray raw;
    QList<QByteArray> packets;
    int reads = 0;
    bool hungUp = false;
    QElapsedTimer clock;
    qint64 firstReadMs = -1;

private:
    void readAll()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                if (reads++ == 0 && clock.isValid()) firstReadMs = clock.elapsed();
                const QByteArray bytes(buffer, int(n));
                raw.append(bytes);
                wifi.rx_data(bytes);
                continue;
            }
            if (n < 0 && errno == EAGAIN) return;
            hungUp = true; // the module closed its end
            notifier->setEnabled(false);
            return;
        }
    }

    QSocketNotifier *notifier;
};

struct Sim {
    explicit Sim(SimOptions options = quick()) : device(options), line(&device, options) { line.openPty(); }
    static SimOptions quick()
    {
        SimOptions o;
        o.bootDelayMs = 20;
        return o;
    }
    SimDevice device;
    SimLine line;
};

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { wifi_register_metatypes(); }
    void behaviours_data();
    void behaviours();
    void answersEveryCommandOnce();
    void imageCheck_data();
    void imageCheck();
    void uploadThroughTheLine_data();
    void uploadThroughTheLine();
    void rejectsTheNthUpload();
    void garbageBetweenPackets();
    void singleByteWrites();
    void delayedResponses();
    void muteAfterN();
    void hangUpAfterN();
    void stallAfterN();
    void floodCountsUp();
    void scanStreamKeepsToItsRate();
    void flashOutToNodes_data();
    void flashOutToNodes();
    void commandInPieces();
    void lineOnDescriptorZero();
    void noPtyWithoutDescriptors();
    void attachSetsTheLine_data();
    void attachSetsTheLine();
};

void TestSim::behaviours_data()
{
    QTest::addColumn<Script>("send");
    QTest::addColumn<QByteArray>("expected");
    auto row = [](const char *name, Script send, const QByteArray &expected) {
        QTest::newRow(name) << send << QByteArray::fromHex(expected);
    };

    const char *wifiOn = "080203000000"
                         "880203000000";
    row(
        "sync and hello",
        [](cls_wifi &w) {
            w.system.cmd_sync();
            w.system.cmd_hello();
        },
        "08000100"
        "08000102");
    // The response, then the event with the state that was asked for.
    row(
        "power saving state", [](cls_wifi &w) { w.system.cmd_set_max_power_saving_state(2); },
        "080201030000"
        "8801010302");
    row(
        "wifi off", [](cls_wifi &w) { w.sme.cmd_wifi_off(); },
        "080203010000"
        "880203010000");
    row(
        "refused in the wrong state",
        [](cls_wifi &w) {
            w.sme.cmd_start_scan(0, {});
            w.sme.cmd_connect_ssid("Guest");
            w.dfu.cmd_flash_set_address(0);
        },
        "080203038101"
        "08090307810100000000000000"
        "080200018101");
    row(
        "scan of channel 6",
        [](cls_wifi &w) {
            w.sme.cmd_wifi_on();
            w.sme.cmd_start_scan(0, QByteArray("\x06"));
        },
        QByteArray(wifiOn) + "080203030000"
                             "8811030202005e10000206c6ff1e00054775657374"
                             "8816030202005e10000406acff08010a4e65696768626f757273"
                             "8801030400");
    row(
        "mac read", [](cls_wifi &w) { w.config.cmd_get_mac(0); },
        "08030200000000"
        "8807020000024e57000001");
    row(
        "mac changed",
        [](cls_wifi &w) {
            w.config.cmd_set_mac(1, hw_addr{{0x02, 0, 0, 0, 0, 0xab}});
            w.config.cmd_get_mac(1);
        },
        "08030201000001"
        "08030200000001"
        "88070200010200000000ab");
    row(
        "connect open network",
        [](cls_wifi &w) {
            w.sme.cmd_wifi_on();
            w.sme.cmd_connect_ssid("Guest");
        },
        QByteArray(wifiOn) + "0809030700000002005e100002"
                             "88080305000002005e100002");
    // Disconnecting says so once: a second disconnect has nothing to end.
    row(
        "disconnect",
        [](cls_wifi &w) {
            w.sme.cmd_wifi_on();
            w.sme.cmd_connect_ssid("Guest");
            w.sme.cmd_disconnect();
            w.sme.cmd_disconnect();
        },
        QByteArray(wifiOn) + "0809030700000002005e100002"
                             "88080305000002005e100002"
                             "08030308000000"
                             "88030306000000"
                             "08030308000000");
    row(
        "unknown network",
        [](cls_wifi &w) {
            w.sme.cmd_wifi_on();
            w.sme.cmd_connect_ssid("Nowhere");
        },
        QByteArray(wifiOn) + "08090307000000000000000000"
                             "880303088b0100");
    // No password, a wrong one, the right one (connecting by address), then the signal of the network joined.
    row(
        "passwords",
        [](cls_wifi &w) {
            w.sme.cmd_wifi_on();
            w.sme.cmd_connect_ssid("Workshop");
            w.sme.cmd_set_password("secret");
            w.sme.cmd_connect_ssid("Workshop");
            w.sme.cmd_set_password("nw300-demo");
            w.sme.cmd_connect_bssid(hw_addr{{0x02, 0x00, 0x5e, 0x10, 0x00, 0x01}});
            w.sme.cmd_get_signal_quality();
        },
        QByteArray(wifiOn) + "0809030700000002005e100001"
                             "880303088c0100"
                             "0801030500"
                             "0809030700000002005e100001"
                             "880303088d0100"
                             "0801030500"
                             "0809030600000002005e100001"
                             "88080305000002005e100001"
                             "08030313000000"
                             "88020316d700");
    row(
        "system reset boots", [](cls_wifi &w) { w.system.cmd_reset(0); },
        "08000101"
        "880e01000100030000001100020005000300");
    row(
        "dfu reset into update", [](cls_wifi &w) { w.dfu.cmd_reset(1); },
        "08000000"
        "8804000002000000");
    row(
        "key store",
        [](cls_wifi &w) {
            w.flash.cmd_ps_save(0x1234, "ab");
            w.flash.cmd_ps_load(0x1234);
            w.flash.cmd_ps_load(0x9999);
            w.flash.cmd_ps_erase(0x1234);
            w.flash.cmd_ps_erase(0x1234);
            w.flash.cmd_ps_save(1, "a");
            w.flash.cmd_ps_erase_all();
            w.flash.cmd_ps_load(1);
        },
        "080207030000"
        "080507040000026162"
        "08030704020300"
        "080207050000"
        "080207050203"
        "080207030000"
        "080207020000"
        "08030704020300");
    row(
        "key dump in key order",
        [](cls_wifi &w) {
            w.flash.cmd_ps_save(2, "x");
            w.flash.cmd_ps_save(1, "yz");
            w.flash.cmd_ps_dump();
        },
        "080207030000"
        "080207030000"
        "080207010000"
        "88050700010002797a"
        "8804070002000178");
    row(
        "atoi, itoa and zeroed outputs",
        [](cls_wifi &w) {
            w.util.cmd_atoi("-42");
            w.util.cmd_itoa(1234);
            w.hardware.cmd_rtc_get_time();
            w.tcpip.cmd_dhcp_clients();
            w.ethernet.cmd_close();
        },
        "08040c00d6ffffff"
        "08050c010431323334"
        "080a060c00000000000000000000"
        "08030416000000"
        "08000a01");
}

void TestSim::behaviours()
{
    QFETCH(Script, send);
    QFETCH(QByteArray, expected);
    Sim sim;
    QVERIFY(sim.line.isOpen());
    Host host(sim.line.path());
    send(host.wifi);
    QTRY_VERIFY_WITH_TIMEOUT(host.joined().size() >= expected.size(), 3000);
    QTest::qWait(60); // nothing more may follow
    QCOMPARE(host.joined().toHex(), expected.toHex());
}

void TestSim::answersEveryCommandOnce()
{
    Sim sim;
    Host host(sim.line.path());
    // Every command with zero arguments (empty arrays), as raw packets.
    for (int i = 0; i < message_command_count; ++i) {
        const MessageDescriptor &d = message_table[i];
        QByteArray packet(4 + d.header[1], '\0');
        packet[0] = 0x08;
        packet[1] = char(d.header[1]);
        packet[2] = char(d.header[2]);
        packet[3] = char(d.header[3]);
        host.write(packet);
    }
    auto responses = [&host] {
        QList<QByteArray> out;
        for (const QByteArray &p : host.packets)
            if (!(uint8_t(p.at(0)) & 0x80)) out.append(p);
        return out;
    };
    QTRY_COMPARE_WITH_TIMEOUT(responses().size(), message_command_count, 5000);
    QTest::qWait(60);
    const QList<QByteArray> got = responses();
    QCOMPARE(got.size(), message_command_count);
    for (int i = 0; i < message_command_count; ++i) {
        QCOMPARE(uint8_t(got.at(i).at(2)), message_table[i].header[2]);
        QCOMPARE(uint8_t(got.at(i).at(3)), message_table[i].header[3]);
    }
}

void TestSim::imageCheck_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("valid");

    QTest::newRow("block at 0") << imageWithBlock(0, 4000) << true;
    QTest::newRow("block further on") << imageWithBlock(1000, 333) << true;
    QTest::newRow("empty block, CRC 0") << imageWithBlock(64, 0) << true;
    QByteArray flipped = imageWithBlock(0, 4000);
    flipped[1234] = char(flipped[1234] ^ 0x01);
    QTest::newRow("one bit flipped in the block") << flipped << false;
    QByteArray badCrc = imageWithBlock(0, 4000);
    badCrc[511992] = char(badCrc[511992] ^ 0x80);
    QTest::newRow("CRC word wrong") << badCrc << false;
    QByteArray beyond = imageWithBlock(0, 16);
    putLe32(beyond, 511984, 511000);
    putLe32(beyond, 511988, 2000);
    QTest::newRow("block reaches past the flash") << beyond << false;
    // start + length wraps to 0x100 in 32 bits: still outside the flash.
    QByteArray wraps = imageWithBlock(0, 16);
    putLe32(wraps, 511984, 0xffffff00u);
    putLe32(wraps, 511988, 0x200);
    putLe32(wraps, 511992, 0);
    QTest::newRow("start plus length wraps") << wraps << false;
    QTest::newRow("erased flash") << QByteArray(SimDevice::flashSize, char(0xff)) << false;
}

void TestSim::imageCheck()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, valid);
    QCOMPARE(crc32Reference("123456789"), 0xcbf43926u); // the CRC's check value
    QCOMPARE(SimDevice::imageValid(image), valid);
}

void TestSim::uploadThroughTheLine_data()
{
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<int>("finishResult");
    QTest::newRow("valid image") << false << 0;
    QTest::newRow("corrupted image") << true << 0x0180;
}

// The whole image in 128-byte chunks, four in flight, as velmo uploads it.
void TestSim::uploadThroughTheLine()
{
    QFETCH(bool, corrupt);
    QFETCH(int, finishResult);
    QTemporaryDir dir;
    SimOptions options = Sim::quick();
    options.flashOut = dir.filePath(QStringLiteral("flash.bin"));
    Sim sim(options);
    Host host(sim.line.path());

    QByteArray image = imageWithBlock(0, 20000);
    if (corrupt) image[777] = char(image[777] ^ 0x10);
    int sent = 0, answered = 0, bad = 0, finish = -1;
    auto sendNext = [&] {
        if (sent * 128 >= image.size()) return;
        host.wifi.dfu.cmd_flash_upload(image.mid(sent * 128, 128));
        ++sent;
    };
    connect(&host.wifi.dfu, &cls_wifi_dfu::rsp_flash_set_address, this, [&](uint16 result) {
        QCOMPARE(result, uint16(0));
        for (int i = 0; i < 4; ++i)
            sendNext();
    });
    connect(&host.wifi.dfu, &cls_wifi_dfu::rsp_flash_upload, this, [&](uint16 result) {
        bad += result != 0;
        if (++answered * 128 >= image.size())
            host.wifi.dfu.cmd_flash_upload_finish();
        else
            sendNext();
    });
    connect(&host.wifi.dfu, &cls_wifi_dfu::rsp_flash_upload_finish, this,
            [&](uint16 result) { finish = result; });
    QSignalSpy boot(&host.wifi.dfu, &cls_wifi_dfu::evt_boot);
    host.wifi.system.cmd_reset(1);
    QVERIFY(boot.wait(3000));
    QVERIFY(sim.device.inUpdateState());
    host.wifi.dfu.cmd_flash_set_address(0);
    QTRY_VERIFY_WITH_TIMEOUT(finish >= 0, 60000);
    QCOMPARE(answered, 4000);
    QCOMPARE(bad, 0);
    QCOMPARE(finish, finishResult);
    QVERIFY(sim.device.flash() == image);
    QFile out(options.flashOut);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.readAll() == image);
}

void TestSim::rejectsTheNthUpload()
{
    SimOptions options = Sim::quick();
    options.startInUpdateState = true;
    options.rejectUpload = 3;
    options.rejectResult = 0x0186;
    Sim sim(options);
    Host host(sim.line.path());
    host.wifi.dfu.cmd_flash_set_address(0);
    for (int i = 0; i < 4; ++i)
        host.wifi.dfu.cmd_flash_upload(QByteArray(1, char('a' + i)));
    const QByteArray expected = hex("080200010000"
                                    "080200020000"
                                    "080200020000"
                                    "080200028601"
                                    "080200020000");
    QTRY_COMPARE(host.joined().toHex(), expected.toHex());
    // The rejected chunk was not written; the next one went where it would have gone.
    QCOMPARE(sim.device.flash().left(4), QByteArray("abd\xff"));

    // A restart forgets the address: a chunk sent without setting it lands at the start of the flash.
    QSignalSpy boot(&host.wifi.dfu, &cls_wifi_dfu::evt_boot);
    host.wifi.dfu.cmd_reset(1);
    QVERIFY(boot.wait(3000));
    host.wifi.dfu.cmd_flash_upload(QByteArray("z"));
    QTRY_COMPARE(sim.device.flash().left(4), QByteArray("zbd\xff"));

    // Without --flash-out a finish answers and writes nothing anywhere.
    QSignalSpy saved(&sim.device, &SimDevice::flashSaved);
    host.packets.clear();
    host.wifi.dfu.cmd_flash_upload_finish();
    QTRY_COMPARE(host.packets.size(), 1);
    QCOMPARE(saved.count(), 0);
}

void TestSim::garbageBetweenPackets()
{
    SimOptions options = Sim::quick();
    options.garbage = 7;
    Sim sim(options);
    Host host(sim.line.path());
    host.wifi.system.cmd_sync();
    host.wifi.sme.cmd_wifi_on();
    const QByteArray expected = hex("08000100"
                                    "080203000000"
                                    "880203000000");
    QTRY_COMPARE(host.joined().toHex(), expected.toHex());
    QTest::qWait(30);
    QCOMPARE(host.raw.size(), expected.size() + 3 * 7);
    // Each packet comes after its seven bytes of noise; none of them could start a packet.
    QCOMPARE(host.raw.mid(7, 4), hex("08000100"));
    for (int i = 0; i < 7; ++i)
        QVERIFY((uint8_t(host.raw.at(i)) & 0x78) != 0x08);
}

void TestSim::singleByteWrites()
{
    SimOptions options = Sim::quick();
    Sim plain;
    Host plainHost(plain.line.path());
    options.byteWrites = true;
    Sim sim(options);
    Host host(sim.line.path());
    const QByteArray expected = hex("08030200000000"
                                    "8807020000024e57000001");
    plainHost.wifi.config.cmd_get_mac(0);
    host.wifi.config.cmd_get_mac(0);
    QTRY_COMPARE(host.joined().toHex(), expected.toHex());
    QTRY_COMPARE(plainHost.joined().toHex(), expected.toHex());
    // Written whole, the two packets come in one or two reads; byte by byte in many.
    QVERIFY2(plainHost.reads <= 2, qPrintable(QString::number(plainHost.reads)));
    QVERIFY2(host.reads >= expected.size() / 2, qPrintable(QString::number(host.reads)));
}

void TestSim::delayedResponses()
{
    SimOptions options = Sim::quick();
    options.delayMs = 250;
    Sim sim(options);
    Host host(sim.line.path());
    host.clock.start();
    host.wifi.system.cmd_sync();
    host.wifi.system.cmd_hello();
    QTRY_COMPARE(host.joined().toHex(), hex("0800010008000102").toHex());
    QVERIFY2(host.firstReadMs >= 250, qPrintable(QString::number(host.firstReadMs)));
}

void TestSim::muteAfterN()
{
    SimOptions options = Sim::quick();
    options.muteAfter = 2;
    Sim sim(options);
    Host host(sim.line.path());
    host.wifi.system.cmd_sync();
    host.wifi.system.cmd_hello();
    host.wifi.sme.cmd_wifi_on();
    QTRY_COMPARE(sim.line.packetsReceived(), 3);
    QTest::qWait(150);
    QCOMPARE(host.joined().toHex(), hex("0800010008000102").toHex());
    QVERIFY(sim.line.isOpen());
    QVERIFY(!sim.device.wifiOn());
}

void TestSim::hangUpAfterN()
{
    SimOptions options = Sim::quick();
    options.hangupAfter = 2;
    Sim sim(options);
    QSignalSpy hungUp(&sim.line, &SimLine::hungUp);
    Host host(sim.line.path());
    host.wifi.system.cmd_sync();
    host.wifi.system.cmd_hello();
    QTRY_VERIFY(host.hungUp);
    // Both answers arrived before the line closed.
    QCOMPARE(host.joined().toHex(), hex("0800010008000102").toHex());
    QCOMPARE(hungUp.count(), 1);
    QVERIFY(!sim.line.isOpen());

    // On a device it was given, with no slave of its own to wait on, it hangs up as soon as the last
    // answer is written, here a late one.
    Pty pty;
    QVERIFY(pty.ok());
    options.delayMs = 5;
    SimDevice device(options);
    SimLine attached(&device, options);
    QVERIFY(attached.attach(pty.path));
    QVERIFY(pty.write(hex("0800010008000102")));
    QByteArray answers;
    QTRY_VERIFY((answers += pty.readIdle(10)).size() >= 8 && !attached.isOpen());
    QCOMPARE(answers.toHex(), hex("0800010008000102").toHex());
    QVERIFY(pty.slaveClosed(5000));
}

void TestSim::stallAfterN()
{
    SimOptions options = Sim::quick();
    options.stallAfter = 1;
    Sim sim(options);
    Host host(sim.line.path());
    host.wifi.system.cmd_sync();
    QTRY_COMPARE(host.joined().toHex(), QByteArray("08000100"));
    // Nothing is taken off the line any more: the host's writes fill it and then would block.
    const QByteArray block(4096, '\0');
    qint64 accepted = 0;
    for (int i = 0; i < 1024; ++i) {
        QTest::qWait(0);
        const ssize_t n = ::write(host.fd, block.constData(), size_t(block.size()));
        if (n < 0 && errno == EAGAIN) break;
        QVERIFY(n > 0);
        accepted += n;
    }
    QVERIFY2(accepted < 1024 * 4096, qPrintable(QString::number(accepted)));
    QVERIFY(sim.line.isOpen());
}

void TestSim::floodCountsUp()
{
    SimOptions options = Sim::quick();
    options.flood = true;
    Sim sim(options);
    Host host(sim.line.path());
    // Over 64 KiB: past the point where the written part of the output is dropped from the buffer.
    QTRY_VERIFY_WITH_TIMEOUT(host.packets.size() >= 10000, 20000);
    // hardware change_notification events whose timestamp counts up from 0, none lost.
    for (int i = 0; i < host.packets.size(); ++i) {
        const QByteArray &p = host.packets.at(i);
        QCOMPARE(p.left(4).toHex(), QByteArray("88040601"));
        QCOMPARE(wire::u32(reinterpret_cast<const uint8_t *>(p.constData()) + 4), uint32(i));
    }
    // Commands are still answered between the events.
    host.wifi.system.cmd_hello();
    QTRY_VERIFY(host.packets.contains(hex("08000102")));
}

void TestSim::scanStreamKeepsToItsRate()
{
    SimOptions options = Sim::quick();
    options.scanStreamBaud = 9600; // 960 bytes a second
    Sim sim(options);
    Host host(sim.line.path());
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(600);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(!host.packets.isEmpty());
    // Never ahead of the rate by more than one scan_result (at most 12 + 32 payload bytes).
    QVERIFY2(host.raw.size() <= 960 * elapsed / 1000 + 48,
             qPrintable(QStringLiteral("%1 bytes in %2 ms").arg(host.raw.size()).arg(elapsed)));
    for (const QByteArray &p : host.packets)
        QCOMPARE(p.mid(2, 2).toHex(), QByteArray("0302"));
}

NW_TEST(TestSim)
// Out of descriptors, creating the pseudo-terminal fails with the reason: with one left, at its
// second end; with none, at once.
// Started with standard input closed (as a service may be), the module's end of the line is descriptor 0,
// and it must serve it like any other.
void TestSim::lineOnDescriptorZero()
{
    const int savedInput = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    QVERIFY(savedInput >= 0);
    ::close(0);
    {
        SimOptions o = Sim::quick();
        o.delayMs = 5; // through the paced and the delayed queues as well
        o.paceBaud = 921600;
        Sim sim(o);
        const QString master = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/0"));
        Host host(sim.line.path());
        host.wifi.system.cmd_sync();
        host.wifi.system.cmd_hello();
        QTRY_COMPARE(host.joined().toHex(), QByteArray("0800010008000102"));
        QCOMPARE(master, QStringLiteral("/dev/ptmx"));
    }
    QVERIFY(::dup2(savedInput, 0) == 0);
    ::close(savedInput);
}

void TestSim::noPtyWithoutDescriptors()
{
    rlimit old;
    QVERIFY(getrlimit(RLIMIT_NOFILE, &old) == 0);
    const int lowestFree = ::dup(0);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    SimDevice device(Sim::quick());
    SimLine oneLeft(&device, Sim::quick());
    SimLine noneLeft(&device, Sim::quick());
    QString errorOneLeft = "unset", errorNoneLeft = "unset";
    rlimit tight = old;
    tight.rlim_cur = rlim_t(lowestFree + 1);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &tight) == 0);
    const bool openedOneLeft = oneLeft.openPty(&errorOneLeft);
    tight.rlim_cur = rlim_t(lowestFree);
    setrlimit(RLIMIT_NOFILE, &tight);
    const bool openedNoneLeft = noneLeft.openPty(&errorNoneLeft);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &old) == 0);
    const QString tooMany = QString::fromLocal8Bit(std::strerror(EMFILE));
    QVERIFY(!openedOneLeft && !oneLeft.isOpen());
    QVERIFY2(errorOneLeft.startsWith("/dev/pts/") && errorOneLeft.endsWith(": " + tooMany),
             qPrintable(errorOneLeft));
    QVERIFY(!openedNoneLeft && !noneLeft.isOpen());
    QCOMPARE(errorNoneLeft, "cannot create a pseudo-terminal: " + tooMany);
    // Nothing was kept open.
    const int after = ::dup(0);
    ::close(after);
    QCOMPARE(after, lowestFree);
    // A line that opened gives both its ends back when it goes.
    const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const uint before = openDescriptors();
    {
        SimLine opened(&device, Sim::quick());
        QVERIFY(opened.openPty());
        QCOMPARE(openDescriptors(), before + 2);
    }
    QCOMPARE(openDescriptors(), before);
}

// A command that arrives in pieces (the header cut, then the payload missing) is answered once whole.
void TestSim::commandInPieces()
{
    Sim sim;
    Host host(sim.line.path());
    for (const char *piece : {"08", "010103"}) {
        host.write(QByteArray::fromHex(piece));
        QTest::qWait(50);
        QVERIFY(host.raw.isEmpty());
    }
    host.write(QByteArray::fromHex("02"));
    QTRY_COMPARE_WITH_TIMEOUT(host.joined().toHex(), QByteArray("0802010300008801010302"), 3000);
}

void TestSim::attachSetsTheLine_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("speed"); // the termios code, 0 when the rate is refused
    // Every rate nwsim offers.
    const std::pair<int, speed_t> rates[] = {
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};
    for (const auto &[baud, speed] : rates)
        QTest::newRow(QByteArray::number(baud).constData()) << baud << int(speed);
    QTest::newRow("a rate no line runs") << 12345 << 0;
}

// Attached to a device, the module sets its line raw at the rate asked for, refuses a rate it cannot
// set, opens only once, and lets the device go when it ends.
void TestSim::attachSetsTheLine()
{
    QFETCH(int, baud);
    QFETCH(int, speed);
    Pty pty;
    QVERIFY(pty.ok());
    SimOptions o = Sim::quick();
    o.baud = baud;
    {
        SimDevice device(o);
        SimLine line(&device, o);
        QString error;
        QCOMPARE(line.attach(pty.path, &error), speed != 0);
        if (speed == 0) {
            QCOMPARE(error, QStringLiteral("unsupported baud rate 12345"));
            QVERIFY(!line.isOpen());
            return;
        }
        termios t;
        QVERIFY(tcgetattr(pty.master, &t) == 0);
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
        QVERIFY(!line.attach(pty.path));
        QVERIFY(!line.openPty());
        QCOMPARE(line.path(), pty.path);
    }
    QVERIFY(pty.slaveClosed(5000));
}

void TestSim::flashOutToNodes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("regular file") << "file";
    QTest::newRow("character device, written in place") << "chr";
    QTest::newRow("fifo, refused") << "fifo";
    QTest::newRow("directory, refused") << "dir";
}

// The flash image goes into a regular file by rename, into a character device in place, and nowhere
// else: no device node or folder is ever replaced.
void TestSim::flashOutToNodes()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out"));
    Pty pty;
    QVERIFY(pty.ok());
    termios raw;
    QVERIFY(tcgetattr(pty.master, &raw) == 0);
    cfmakeraw(&raw);
    QVERIFY(tcsetattr(pty.master, TCSANOW, &raw) == 0);
    if (kind == "chr") QVERIFY(QFile::link(pty.path, path));
    if (kind == "fifo") QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    if (kind == "dir") QVERIFY(QDir().mkdir(path));

    SimDevice device(Sim::quick());
    QByteArray received;
    std::thread reader([&] {
        if (kind == "chr") received = pty.read(device.flash().size(), 5000);
    });
    QString error;
    const bool saved = device.saveFlash(path, &error);
    reader.join();
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    if (kind == "file" || kind == "chr") {
        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(kind == "chr", S_ISCHR(st.st_mode));
        QVERIFY(kind == "chr" ? received == device.flash() : QFileInfo(path).size() == device.flash().size());
    } else {
        QVERIFY(!saved);
        QCOMPARE(error, path + ": not a regular file");
        QVERIFY(kind == "fifo" ? S_ISFIFO(st.st_mode) : S_ISDIR(st.st_mode));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList(QStringLiteral("out")));
}

#include "tst_sim.moc"
