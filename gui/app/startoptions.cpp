#include "startoptions.h"

#include <QCommandLineParser>

StartOptions StartOptions::parse(const QStringList &arguments)
{
    QCommandLineParser cli;
    // Qt's own options have one dash and whole words; read them as words, so "-reverse" is not
    // taken for -v.
    cli.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("rate"));
    const QCommandLineOption capture(QStringLiteral("capture"), QString(), QStringLiteral("file"));
    const QCommandLineOption openCapture(QStringLiteral("open-capture"), QString(), QStringLiteral("file"));
    cli.addOptions({help, version, port, baud, capture, openCapture});
    // Unknown options make parse() fail; they are Qt's, so only our own options are judged below.
    cli.parse(arguments);

    StartOptions options;
    if (cli.isSet(help)) {
        options.action = ShowHelp;
        return options;
    }
    if (cli.isSet(version)) {
        options.action = ShowVersion;
        return options;
    }
    options.action = Fail;
    if (cli.isSet(port)) {
        options.port = cli.value(port);
        if (options.port.isEmpty()) {
            options.error = QStringLiteral("--port needs the path of a serial port");
            return options;
        }
    }
    if (cli.isSet(baud)) {
        bool ok = false;
        options.baud = cli.value(baud).toInt(&ok);
        if (!ok || options.baud <= 0) {
            options.error =
                QStringLiteral("--baud needs a positive whole number, not \"%1\"").arg(cli.value(baud));
            return options;
        }
        if (options.port.isEmpty()) {
            options.error = QStringLiteral("--baud is the rate of --port, which is missing");
            return options;
        }
    }
    options.capture = cli.value(capture);
    options.openCapture = cli.value(openCapture);
    if ((cli.isSet(capture) && options.capture.isEmpty()) ||
        (cli.isSet(openCapture) && options.openCapture.isEmpty())) {
        options.error = QStringLiteral("--capture and --open-capture need a file");
        return options;
    }
    if (!options.openCapture.isEmpty() && !options.port.isEmpty()) {
        options.error = QStringLiteral("--open-capture plays a capture with no port open; leave out --port");
        return options;
    }
    options.action = Run;
    return options;
}

QString StartOptions::helpText()
{
    return QStringLiteral("Usage: velmo [options] [Qt options]\n"
                          "Talks to an NW300 module over a serial port in the module's binary API.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help      Shows this help and ends.\n"
                          "  -v, --version   Shows the version and ends.\n"
                          "  --port <path>   Opens the serial port <path> at start-up.\n"
                          "  --baud <rate>   Baud rate of --port (default 115200).\n"
                          "  --capture <file>       Records the session into <file> (pcapng).\n"
                          "  --open-capture <file>  Plays the capture <file> into the log.\n"
                          "\n"
                          "Qt's own options (-platform, -style, ...) are passed on to Qt.\n");
}
