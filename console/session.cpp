#include "session.h"

#include "logformat.h"
#include "packet.h"
#include "uartdev.h"

#include <QDateTime>
#include <cstdio>

namespace
{

// Events kept for later waits while one step runs; a flood beyond this only drops the oldest.
constexpr int maxBacklog = 10000;

void writeLine(FILE *f, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), f);
    std::fputc('\n', f);
    std::fflush(f);
}

} // namespace

Session::Session(const CommandHelp &help, const SessionOptions &options, QObject *parent)
    : QObject(parent), help(help), view(help), options(options),
      // The port comes from the command line: no listing, no hot-plug monitor.
      comm(std::make_unique<SystemPortEnumerator>())
{
    printOut = [out = options.out](const QByteArray &line) { writeLine(out, line); };
    printErr = [](const QByteArray &line) { writeLine(stderr, line); };
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &Session::timedOut);
    connect(&comm, &HVConnection::RxData, &wifi, &cls_wifi::rx_data);
    connect(&comm, &HVConnection::LinkError, this, [this](const QString &m) { lastLinkError = m; });
    connect(&comm, &HVConnection::DeviceClosed, this, &Session::linkClosed);
    if (!options.json)
        connect(&wifi, &cls_wifi::parsed_message_str, this,
                [this](const QStringList &e) { pendingEntry = e; });
    connect(&wifi, &cls_wifi::parsed_message_data, this, &Session::received);
}

Session::~Session()
{
    // The port closes with the members; nothing it says then concerns this run.
    comm.disconnect(this);
}

bool Session::open()
{
    if (comm.OpenDevice(options.port, options.baud)) return true;
    diagnostic(lastLinkError.isEmpty() ? QStringLiteral("could not open %1").arg(options.port)
                                       : lastLinkError);
    return false;
}

void Session::run(const QList<Step> &steps)
{
    queue.append(steps);
    if (!running && !m_stopped) next();
}

QString Session::timestamp() const
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void Session::diagnostic(const QString &text)
{
    printErr(QByteArray("nwctl: ") + text.toLocal8Bit());
}

void Session::next()
{
    // Steps that end at once (a wait already met) follow each other in this loop, not by recursion.
    if (advancing) return;
    advancing = true;
    while (!running && !m_stopped) {
        if (queue.isEmpty()) {
            if (!options.stayOpen) stop(m_failed ? 1 : 0);
            break;
        }
        step = queue.takeFirst();
        running = true;
        switch (step.kind) {
        case Step::Send:
            events.clear();
            eventCursor = 0;
            if (options.json) printOut(view.json(view.decode(step.packet, true), timestamp()));
            timer.start(options.timeoutMs);
            comm.TxData(step.packet);
            break;
        case Step::Wait:
            if (waitSatisfied())
                stepEnded();
            else
                timer.start(options.timeoutMs);
            break;
        case Step::Sleep:
            timer.start(step.ms);
            break;
        }
    }
    advancing = false;
}

void Session::stepEnded()
{
    timer.stop();
    running = false;
    ++done;
    next();
}

bool Session::waitSatisfied()
{
    for (; eventCursor < events.size(); ++eventCursor) {
        const DecodedPacket &e = events.at(eventCursor);
        if (e.classId != step.classId || e.index != step.index) continue;
        bool all = true;
        for (const auto &condition : step.conditions) {
            bool found = false;
            for (const PacketField &f : e.fields)
                if (f.name == condition.first) found = DecodedPacket::text(f) == condition.second;
            all = all && found;
        }
        if (all) {
            ++eventCursor;
            return true;
        }
    }
    return false;
}

void Session::received(const QByteArray &packet)
{
    const QStringList entry = pendingEntry;
    pendingEntry.clear();
    if (m_stopped) return;
    const DecodedPacket d = view.decode(packet, false);
    if (options.json) {
        printOut(view.json(d, timestamp()));
    } else if (!entry.isEmpty()) {
        printOut(CommandHelp::plain(entry.join(QLatin1Char(' '))).toUtf8());
    } else {
        printOut("undecoded packet: " + packet.toHex());
    }

    if (d.kind == DecodedPacket::Event) {
        if (events.size() >= maxBacklog) {
            events.removeFirst();
            eventCursor = std::max(0, eventCursor - 1);
        }
        events.append(d);
        if (running && step.kind == Step::Wait && waitSatisfied()) stepEnded();
        return;
    }
    // A response ends the running command only when it answers that very command; anything else
    // (late, unasked, another command's) is shown and otherwise ignored.
    const auto *h = reinterpret_cast<const uchar *>(packet.constData());
    if (!running || step.kind != Step::Send || (h[0] & packet_event_bit)) return;
    const auto *sent = reinterpret_cast<const uchar *>(step.packet.constData());
    if (h[2] != sent[2] || h[3] != sent[3]) return;
    if (d.hasResult && d.result != 0) {
        const QString text = logformat::result_text(d.result);
        fail(QStringLiteral("%1: result 0x%2%3")
                 .arg(stepName())
                 .arg(d.result, 4, 16, QLatin1Char('0'))
                 .arg(text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text)));
        return;
    }
    if (d.truncated) {
        fail(QStringLiteral("%1: response too short for its parameters").arg(stepName()));
        return;
    }
    stepEnded();
}

QString Session::stepName() const
{
    if (step.kind != Step::Send) return step.name;
    const auto *h = reinterpret_cast<const uchar *>(step.packet.constData());
    if (const ApiMessage *m = help.response(h[2], h[3]))
        return help.className(h[2]) + QLatin1Char('_') + m->name;
    return QStringLiteral("packet %1").arg(QString::fromLatin1(step.packet.toHex()));
}

void Session::timedOut()
{
    if (!running) return;
    const QString seconds = QString::number(options.timeoutMs / 1000.0);
    switch (step.kind) {
    case Step::Send:
        fail(QStringLiteral("%1: no response to %2 within %3 s").arg(options.port, stepName(), seconds));
        break;
    case Step::Wait:
        fail(QStringLiteral("%1: no event %2%3 within %4 s")
                 .arg(options.port, step.name,
                      step.conditions.isEmpty() ? QString() : QStringLiteral(" with those parameters"),
                      seconds));
        break;
    case Step::Sleep:
        stepEnded();
        break;
    }
}

void Session::fail(const QString &message)
{
    m_failed = true;
    diagnostic(step.file.isEmpty() ? message
                                   : QStringLiteral("%1:%2: %3").arg(step.file).arg(step.line).arg(message));
    if (options.keepGoing || options.stayOpen) {
        stepEnded();
        return;
    }
    timer.stop();
    running = false;
    const int left = queue.size();
    if (left > 0) diagnostic(QStringLiteral("%1: stopped; %2 step(s) not run").arg(options.port).arg(left));
    stop(1);
}

void Session::linkClosed()
{
    if (m_stopped) return;
    m_failed = true;
    diagnostic(lastLinkError.isEmpty() ? QStringLiteral("%1: the port was closed").arg(options.port)
                                       : lastLinkError);
    const int left = queue.size() + (running ? 1 : 0);
    if (left > 0) diagnostic(QStringLiteral("%1: %2 step(s) not finished").arg(options.port).arg(left));
    timer.stop();
    running = false;
    stop(1);
}

void Session::interrupt(const QString &why, int status)
{
    if (m_stopped) return;
    const int left = queue.size() + (running ? 1 : 0);
    diagnostic(left > 0 ? QStringLiteral("%1: %2; %3 step(s) not finished").arg(options.port, why).arg(left)
                        : QStringLiteral("%1: %2").arg(options.port, why));
    timer.stop();
    running = false;
    stop(status);
}

void Session::stop(int status)
{
    if (m_stopped) return;
    m_stopped = true;
    queue.clear();
    comm.CloseDevice();
    emit finished(status);
}
