#include "console.h"

#include "interactive.h"
#include "linkdiagnostics.h"
#include "nwversion.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "nwctl: %s\nTry 'nwctl --help'.\n", message.toLocal8Bit().constData());
    return 2;
}

// The long option itself, or it with "=value".
bool isOption(const QString &arg, const QString &name)
{
    return arg == name || arg.startsWith(name + QLatin1Char('='));
}

// "--name=value" or "--name value" / "-n value"; false when the value is missing.
bool optionValue(const QStringList &args, int &i, const QString &name, QString *value)
{
    const QString &arg = args.at(i);
    if (arg.startsWith(name + QLatin1Char('='))) {
        *value = arg.mid(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size()) return false;
    *value = args.at(++i);
    return true;
}

} // namespace

QString Console::usage()
{
    return QStringLiteral(
        "Usage: nwctl [options] PORT [COMMAND ...]\n"
        "Sends commands to an NW300 module over a serial port and prints its responses and events.\n"
        "\n"
        "Each COMMAND is one argument in velmo's command-box syntax: a message by name with its arguments\n"
        "(sme_start_scan 1; unsigned numbers in hexadecimal, signed ones in decimal, byte arrays in\n"
        "hexadecimal), or a whole packet in hexadecimal (08000102). Commands run in order; each waits for\n"
        "its own response. Without a command, nwctl is interactive when standard input is a terminal\n"
        "(history, Tab completion, \"help NAME\") and otherwise reads a script from it.\n"
        "\n"
        "Options:\n"
        "  -t, --timeout SECONDS     time to wait for each response or event (default 5)\n"
        "  -b, --baud RATE           line speed (default 115200)\n"
        "  --wait EVENT [PARAM=VALUE ...]\n"
        "                            wait for an event, optionally with these parameter values\n"
        "                            (decimal numbers, MAC 02:00:00:00:00:01, dotted IPv4, arrays in hex)\n"
        "  --listen SECONDS          print every event for that long\n"
        "  -f, --file FILE           run a script: commands, \"wait EVENT [PARAM=VALUE ...]\",\n"
        "                            \"sleep SECONDS\", \"# comments\"; checked whole before anything is "
        "sent\n"
        "  -k, --keep-going          carry on after a failed step\n"
        "  --json                    one JSON object per line for every packet sent and received\n"
        "  --api FILE                the API definition (default ./wifi.xml, else the SDK's)\n"
        "  -h, --help                show this help and exit\n"
        "  -V, --version             show the version and exit\n"
        "\n"
        "Commands, waits, listens and files run in the order given.\n"
        "Exit status: 0 when every response's result is 0; 1 on a non-zero result, a time-out or a lost\n"
        "port; 2 for a usage error.\n");
}

bool Console::parse(const QStringList &args, Script &script, Parsed *p, QString *error)
{
    bool portSeen = false, optionsDone = false;
    // Commands are checked once the definition is known; the order of all steps is kept.
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        QString value;
        auto missing = [&](const QString &name) {
            *error = QStringLiteral("option %1 needs a value").arg(name);
            return false;
        };
        if (optionsDone || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            if (!portSeen) {
                p->options.port = arg;
                portSeen = true;
            } else if (!script.addCommand(arg, error)) {
                return false;
            }
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsDone = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            p->help = true;
        } else if (arg == QLatin1String("-V") || arg == QLatin1String("--version")) {
            p->version = true;
        } else if (arg == QLatin1String("--json")) {
            p->options.json = true;
        } else if (arg == QLatin1String("-k") || arg == QLatin1String("--keep-going")) {
            p->options.keepGoing = true;
        } else if (arg == QLatin1String("-t") || isOption(arg, QStringLiteral("--timeout"))) {
            if (!optionValue(args, i, QStringLiteral("--timeout"), &value))
                return missing(QStringLiteral("--timeout"));
            int ms = 0;
            if (!parseSeconds(value, &ms) || ms <= 0) {
                *error = QStringLiteral("not a time-out in seconds: ") + value;
                return false;
            }
            p->options.timeoutMs = ms;
        } else if (arg == QLatin1String("-b") || isOption(arg, QStringLiteral("--baud"))) {
            if (!optionValue(args, i, QStringLiteral("--baud"), &value))
                return missing(QStringLiteral("--baud"));
            bool ok = false;
            p->options.baud = value.toInt(&ok);
            if (!ok || p->options.baud <= 0) {
                *error = QStringLiteral("not a line speed: ") + value;
                return false;
            }
        } else if (isOption(arg, QStringLiteral("--api"))) {
            if (!optionValue(args, i, QStringLiteral("--api"), &value))
                return missing(QStringLiteral("--api"));
            p->apiFile = value;
        } else if (arg == QLatin1String("-f") || isOption(arg, QStringLiteral("--file"))) {
            if (!optionValue(args, i, QStringLiteral("--file"), &value))
                return missing(QStringLiteral("--file"));
            if (!script.addFile(value, error)) return false;
        } else if (isOption(arg, QStringLiteral("--listen"))) {
            if (!optionValue(args, i, QStringLiteral("--listen"), &value))
                return missing(QStringLiteral("--listen"));
            if (!script.addSleep(value, error)) return false;
        } else if (isOption(arg, QStringLiteral("--wait"))) {
            if (!optionValue(args, i, QStringLiteral("--wait"), &value))
                return missing(QStringLiteral("--wait"));
            QStringList conditions;
            // PARAM=VALUE words follow the event; no command holds an "=".
            while (i + 1 < args.size() && args.at(i + 1).contains(QLatin1Char('=')) &&
                   !args.at(i + 1).startsWith(QLatin1Char('-')))
                conditions << args.at(++i);
            if (!script.addWait(value, conditions, error)) return false;
        } else {
            *error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
        if (p->help || p->version) return true;
    }
    if (!portSeen) {
        *error = QStringLiteral("a port is needed (e.g. /dev/ttyUSB0)");
        return false;
    }
    p->stdinScript = script.steps.isEmpty();
    return true;
}

int Console::run(const QStringList &args)
{
    // The definition is needed to check commands, and --api may name it: find it before the rest.
    QString apiFile;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--")) break;
        if (args.at(i) == QLatin1String("--api") && i + 1 < args.size()) apiFile = args.at(i + 1);
        if (args.at(i).startsWith(QLatin1String("--api="))) apiFile = args.at(i).mid(6);
    }
    CommandParser parser;
    QString loadError;
    QObject::connect(&parser, &CommandParser::log_message, [&loadError](const QString &m) { loadError = m; });
    const int loaded =
        apiFile.isEmpty() ? parser.loadDefault(QCoreApplication::applicationDirPath()) : parser.load(apiFile);
    CommandHelp help(parser);

    Script script(help);
    Parsed parsed;
    QString error;
    const bool ok = parse(args, script, &parsed, &error);
    if (parsed.help) {
        std::fputs(usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("nwctl %s\n", NW_VERSION_FULL);
        return 0;
    }
    if (loaded != 0) {
        std::fprintf(stderr, "nwctl: cannot read the API definition: %s\n",
                     loadError.toLocal8Bit().constData());
        return 2;
    }
    if (!ok) return usageError(error);

    const bool interactive = parsed.stdinScript && isatty(STDIN_FILENO);
    if (parsed.stdinScript && !interactive && !script.addFile(QStringLiteral("-"), &error))
        return usageError(error);

    // Ctrl-C and SIGTERM close the port and say what was left; a closed pipe is not fatal.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    // The link's failed reads and writes come with every lost port, and the session already ends with
    // the port's reason: standard output stays packets only (JSON for the reader of --json).
    linkdiagnostics::setHandler([](linkdiagnostics::Level level, const QString &port, const QString &text) {
        if (level == linkdiagnostics::Level::Trace) linkdiagnostics::printOnStderr(level, port, text);
    });
    FILE *out = stdout;
    parsed.options.out = out;
    parsed.options.stayOpen = interactive;
    Session session(help, parsed.options);
    if (!session.open()) return 1;

    int status = 0;
    bool ended = false;
    QEventLoop loop;
    QObject::connect(&session, &Session::finished, &loop, [&](int s) {
        status = s;
        ended = true;
        loop.quit();
    });
    Interactive terminal(help, session, Interactive::defaultHistoryFile(), out);
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &session, [&] {
        char sig = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &sig, 1);
        // The line being typed is left where it is; the message goes below it.
        if (terminal.isActive()) {
            terminal.end();
            std::fputc('\n', out);
            std::fflush(out);
        }
        session.interrupt(sig == SIGINT ? QStringLiteral("interrupted") : QStringLiteral("terminated"),
                          sig == SIGINT ? 130 : 143);
    });
    if (interactive) {
        session.printOut = [&terminal](const QByteArray &l) { terminal.print(false, l); };
        session.printErr = [&terminal](const QByteArray &l) { terminal.print(true, l); };
        QObject::connect(&terminal, &Interactive::quit, &session, [&session] {
            // Leaving is no news: only a step left unfinished would be, and it is dropped with the run.
            session.printErr = [](const QByteArray &) {};
            session.interrupt(QStringLiteral("closed"), session.failed() ? 1 : 0);
        });
        terminal.start();
    } else {
        session.run(script.steps);
    }
    if (!ended) loop.exec();
    terminal.end();
    return status;
}
