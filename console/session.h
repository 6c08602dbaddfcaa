// Runs steps over one serial port: sends each command and waits for its own response, waits for
// events, pauses; prints every packet as velmo's log shows it (or as JSON) and keeps the exit status.
#pragma once

#include "cls_wifi.h"
#include "packetview.h"
#include "script.h"
#include "uarthvconnection.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>

struct SessionOptions {
    QString port;
    int baud = 115200;
    int timeoutMs = 5000;
    bool json = false;
    bool keepGoing = false;
    // Interactive: the session waits for more steps instead of finishing when it runs out.
    bool stayOpen = false;
    // Where packets are printed.
    FILE *out = stdout;
};

class Session : public QObject
{
    Q_OBJECT
public:
    Session(const CommandHelp &help, const SessionOptions &options, QObject *parent = nullptr);
    ~Session() override;

    // Where output lines (without their line feed) and diagnostics go; stdout and stderr by default.
    std::function<void(const QByteArray &)> printOut;
    std::function<void(const QByteArray &)> printErr;

    // False, after saying why on the diagnostic output, when the port cannot be opened.
    bool open();
    // Appends steps; they run in order once the ones before them have ended.
    void run(const QList<Step> &steps);
    // Stops at once, telling what was left unfinished (for signals); then finished.
    void interrupt(const QString &why, int status);

    bool failed() const { return m_failed; }
    bool idle() const { return !running; }
    int stepsDone() const { return done; }

signals:
    // Every step ran (or a failure stopped the run); status 0 or 1.
    void finished(int status);

private:
    void next();
    void received(const QByteArray &packet);
    void timedOut();
    void linkClosed();
    void fail(const QString &message);
    void stepEnded();
    void stop(int status);
    bool waitSatisfied();
    void diagnostic(const QString &text);
    QString timestamp() const;
    QString stepName() const;

    const CommandHelp &help;
    PacketView view;
    SessionOptions options;
    UartHVConnection comm;
    cls_wifi wifi;
    QTimer timer;
    QList<Step> queue; // steps not yet started
    Step step;         // the running one
    bool running = false;
    int done = 0;
    bool m_failed = false;
    bool m_stopped = false;
    bool advancing = false;
    QString lastLinkError;
    QStringList pendingEntry; // the log entry of the packet being received
    // Events since the last command went out, for waits; a wait consumes up to the one it matched.
    QList<DecodedPacket> events;
    int eventCursor = 0;
};
