// nwsim: plays an NW300 module on a pseudo-terminal (or a serial device) until it is stopped.
#include "hwaddress.h"
#include "capturefile.h"
#include "nwversion.h"
#include "simdevice.h"
#include "simline.h"
#include "simtrace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

const char *description()
{
    return "Plays an NW300 module on the other end of a serial line: creates a pseudo-terminal and prints\n"
           "its path on the first line of standard output (or attaches to the device given), answers every\n"
           "command of the API and runs until interrupted (Ctrl-C, SIGTERM) or until the line is closed.\n"
           "\n"
           "Every command gets its response with result 0 and zero outputs, except:\n"
           "  system/dfu reset    answer, then after the boot delay send the boot event: with dfu 0 the\n"
           "                      system boot event (version 1.3.0 build 17, bootloader 2, tcpip 5, hw 3),\n"
           "                      with dfu 1 the dfu boot event (version 2) and the update state\n"
           "  dfu flash_*         only in the update state (else result 0x0181): set_address sets the\n"
           "                      write offset in the 512000-byte flash, upload writes there, finish checks\n"
           "                      the software block's section record (offset 511984) and its CRC-32 and\n"
           "                      answers 0 or 0x0180\n"
           "  config get_mac      also sends mac_address (02:4e:57:00:00:01 until set_mac changes it)\n"
           "  sme wifi_on/off     also send wifi_is_on/wifi_is_off\n"
           "  sme start_scan      (wifi on, else 0x0181) one scan_result per access point on the listed\n"
           "                      channels (all for an empty list), then scanned:\n"
           "                        Workshop   02:00:5e:10:00:01  ch 1   -41 dBm  secure\n"
           "                        Guest      02:00:5e:10:00:02  ch 6   -58 dBm  open\n"
           "                        Lab Bench  02:00:5e:10:00:03  ch 11  -67 dBm  secure\n"
           "                        Neighbours 02:00:5e:10:00:04  ch 6   -84 dBm  secure\n"
           "  sme connect_*       connected, or connect_failed: 0x018b unknown network, 0x018c no password,\n"
           "                      0x018d wrong password (the secure networks take nw300-demo, set with\n"
           "                      set_password); disconnect and get_signal_quality follow the connection\n"
           "  flash ps_*          a key store in memory (ps_dump sends one ps_key event per key)\n"
           "  util atoi/itoa      convert";
}

bool intOption(const QCommandLineParser &parser, const QString &name, int *value)
{
    if (!parser.isSet(name)) return true;
    bool ok = false;
    *value = parser.value(name).toInt(&ok, 0);
    if (ok && *value >= 0) return true;
    std::fprintf(stderr, "nwsim: --%s needs a number, not '%s'\n", qPrintable(name),
                 qPrintable(parser.value(name)));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nwsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description()));
    parser.addHelpOption();
    // -v is the trace here, so the version has only its long name.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    parser.addPositionalArgument(
        QStringLiteral("device"),
        QStringLiteral("Serial device to attach to instead of a new pseudo-terminal."),
        QStringLiteral("[device]"));
    const QList<QCommandLineOption> options = {
        {{QStringLiteral("v"), QStringLiteral("verbose")},
         QStringLiteral("Print one decoded line per packet received (<) and sent (>).")},
        {QStringLiteral("capture"),
         QStringLiteral("Record the line's packets into <file> (pcapng; outbound is host to module)."),
         QStringLiteral("file")},
        {QStringLiteral("flash-out"),
         QStringLiteral("Write the flash to <file> after every flash_upload_finish."),
         QStringLiteral("file")},
        {QStringLiteral("dfu"), QStringLiteral("Start in the update state.")},
        {QStringLiteral("boot-delay"),
         QStringLiteral("Milliseconds from a reset to its boot event (default 100)."), QStringLiteral("ms")},
        {QStringLiteral("baud"), QStringLiteral("Baud rate of the device attached to (default 115200)."),
         QStringLiteral("rate")},
        {QStringLiteral("reject-upload"),
         QStringLiteral("Answer the Nth flash_upload with <result> (default 0x0308)."),
         QStringLiteral("N[:result]")},
        {QStringLiteral("refuse-mac"), QStringLiteral("Answer every set_mac with <result> and keep the address."),
         QStringLiteral("result")},
        {QStringLiteral("keep-mac"), QStringLiteral("Answer set_mac as done, yet keep the address.")},
        {QStringLiteral("garbage"),
         QStringLiteral("Write <n> bytes that cannot start a packet before every packet."),
         QStringLiteral("n")},
        {QStringLiteral("byte-writes"), QStringLiteral("Write every packet one byte at a time.")},
        {QStringLiteral("delay"), QStringLiteral("Send every answer <ms> milliseconds late."),
         QStringLiteral("ms")},
        {QStringLiteral("mute-after"), QStringLiteral("Answer nothing after <n> received packets."),
         QStringLiteral("n")},
        {QStringLiteral("stall-after"), QStringLiteral("Stop reading the line after <n> received packets."),
         QStringLiteral("n")},
        {QStringLiteral("hangup-after"),
         QStringLiteral("Close the line once <n> received packets are answered."), QStringLiteral("n")},
        {QStringLiteral("flood"),
         QStringLiteral("Send hardware change_notification events (timestamp "
                        "counting from 0) as fast as the line takes them (not traced).")},
        {QStringLiteral("pace"),
         QStringLiteral("Take the time of a real line at <baud> (10 bits a byte) for every byte received "
                        "and sent."),
         QStringLiteral("baud")},
        {QStringLiteral("flash-write"),
         QStringLiteral("Microseconds to write each flash_upload chunk before the next command is read."),
         QStringLiteral("us")},
        {QStringLiteral("mac"), QStringLiteral("The module's MAC address at start (default 02:4e:57:00:00:01)."),
         QStringLiteral("address")},
        {QStringLiteral("scan-stream"),
         QStringLiteral("Send scan_result events at the byte rate of <baud>, 10 bits a byte (not traced)."),
         QStringLiteral("baud")},
    };
    parser.addOptions(options);
    parser.process(app);
    if (parser.isSet(version)) parser.showVersion();

    SimOptions o;
    o.flashOut = parser.value(QStringLiteral("flash-out"));
    o.startInUpdateState = parser.isSet(QStringLiteral("dfu"));
    o.byteWrites = parser.isSet(QStringLiteral("byte-writes"));
    o.flood = parser.isSet(QStringLiteral("flood"));
    bool ok = intOption(parser, QStringLiteral("boot-delay"), &o.bootDelayMs) &&
              intOption(parser, QStringLiteral("baud"), &o.baud) &&
              intOption(parser, QStringLiteral("garbage"), &o.garbage) &&
              intOption(parser, QStringLiteral("delay"), &o.delayMs) &&
              intOption(parser, QStringLiteral("mute-after"), &o.muteAfter) &&
              intOption(parser, QStringLiteral("hangup-after"), &o.hangupAfter) &&
              intOption(parser, QStringLiteral("stall-after"), &o.stallAfter) &&
              intOption(parser, QStringLiteral("scan-stream"), &o.scanStreamBaud) &&
              intOption(parser, QStringLiteral("pace"), &o.paceBaud) &&
              intOption(parser, QStringLiteral("flash-write"), &o.flashWriteUs);
    if (ok && parser.isSet(QStringLiteral("mac"))) {
        QString text = parser.value(QStringLiteral("mac")).toLower();
        int pos = 0;
        ok = hwaddress::normalize(text, pos) == hwaddress::State::Acceptable;
        if (ok) o.mac = QByteArray::fromHex(text.toLatin1());
        else std::fprintf(stderr, "nwsim: --mac needs an address like 02:4e:57:00:00:01\n");
    }
    if (ok && parser.isSet(QStringLiteral("reject-upload"))) {
        const QStringList parts = parser.value(QStringLiteral("reject-upload")).split(QLatin1Char(':'));
        bool okN = false, okResult = true;
        o.rejectUpload = parts.value(0).toInt(&okN, 0);
        uint result = o.rejectResult;
        if (parts.size() > 1) result = parts.at(1).toUInt(&okResult, 0);
        ok = okN && o.rejectUpload > 0 && okResult && result <= 0xffff && parts.size() <= 2;
        o.rejectResult = uint16_t(result);
        if (!ok)
            std::fprintf(stderr, "nwsim: --reject-upload needs N[:result], N from 1, result up to 0xffff\n");
    }
    if (ok && parser.isSet(QStringLiteral("refuse-mac"))) {
        const uint result = parser.value(QStringLiteral("refuse-mac")).toUInt(&ok, 0);
        ok = ok && result > 0 && result <= 0xffff;
        o.refuseMacResult = uint16_t(result);
        if (!ok) std::fprintf(stderr, "nwsim: --refuse-mac needs a result from 1 to 0xffff\n");
    }
    o.keepMac = parser.isSet(QStringLiteral("keep-mac"));
    if (!ok || parser.positionalArguments().size() > 1) {
        if (ok) std::fprintf(stderr, "nwsim: at most one device\n");
        return 2;
    }

    CaptureFile capture;
    if (parser.isSet(QStringLiteral("capture")) &&
        !capture.open(parser.value(QStringLiteral("capture")),
                      QStringList{o.flashOut} + parser.positionalArguments())) {
        std::fprintf(stderr, "nwsim: %s\n", qPrintable(capture.errorString()));
        return 1;
    }

    SimDevice device(o);
    SimLine line(&device, o);
    QString error;
    const bool opened = parser.positionalArguments().isEmpty()
                            ? line.openPty(&error)
                            : line.attach(parser.positionalArguments().first(), &error);
    if (!opened) {
        std::fprintf(stderr, "nwsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(line.path()));
    std::fflush(stdout);

    if (capture.isRecording()) {
        const int port = capture.addInterface(line.path(), o.baud);
        // Directions as the host sees them, so every capture of a session reads the same way.
        QObject::connect(&line, &SimLine::received, [&capture, port](const QByteArray &p) {
            capture.record(port, capture::Direction::Outbound, p.constData(), p.size());
        });
        QObject::connect(&line, &SimLine::sent, [&capture, port](const QByteArray &p) {
            capture.record(port, capture::Direction::Inbound, p.constData(), p.size());
        });
        QObject::connect(&capture, &CaptureFile::failed,
                         [](const QString &why) { std::fprintf(stderr, "nwsim: %s\n", qPrintable(why)); });
    }
    if (parser.isSet(QStringLiteral("verbose"))) {
        QObject::connect(&line, &SimLine::received, [](const QByteArray &p) {
            std::printf("< %s\n", qPrintable(sim_describe(p, true)));
            std::fflush(stdout);
        });
        QObject::connect(&line, &SimLine::sent, [](const QByteArray &p) {
            std::printf("> %s\n", qPrintable(sim_describe(p, false)));
            std::fflush(stdout);
        });
    }
    QObject::connect(&device, &SimDevice::flashSaved, [](bool saved, const QString &why) {
        if (!saved) std::fprintf(stderr, "nwsim: cannot write the flash: %s\n", qPrintable(why));
    });
    QObject::connect(&line, &SimLine::hungUp, &app, [&line, &app] {
        std::fprintf(stderr, "nwsim: line closed after %d packets\n", line.packetsReceived());
        app.quit();
    });

    // Ctrl-C and SIGTERM end the event loop, so the program ends the normal way.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    return app.exec();
}
