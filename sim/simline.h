#pragma once

#include "simoptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <deque>

class QSocketNotifier;
class QTimer;
class SimDevice;

// The simulated module's end of the serial line: a pseudo-terminal that it creates (the host opens its
// path) or a device path that it attaches to. Cuts the incoming bytes into packets for the device model,
// writes the model's packets back, and injects the faults and load streams of the options. Runs in the
// event loop of the thread it lives in, so a test that spins its loop sees every step in order.
class SimLine : public QObject
{
    Q_OBJECT
public:
    SimLine(SimDevice *device, const SimOptions &options, QObject *parent = nullptr);
    ~SimLine() override;

    // Creates a pseudo-terminal; path() is then the name for the host to open.
    bool openPty(QString *error = nullptr);
    // Opens a serial device (or the slave of someone else's pty) as the module's end.
    bool attach(const QString &path, QString *error = nullptr);

    QString path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }
    int packetsReceived() const { return m_received; }
    qint64 bytesWritten() const { return m_written; }

    // Closes the module's end: the host sees the line hang up.
    void hangUp();

signals:
    // Whole packets as they were cut from the line and as they are written to it.
    void received(QByteArray packet);
    void sent(QByteArray packet);
    // The line was closed: by hangUp, by the fault option, or because the far end went away.
    void hungUp();

private:
    void readReady();
    // A packet taken off the line reaches the module when a real line would have brought it and the
    // module is done with the one before.
    void deliver(const QByteArray &packet);
    void releaseReceived();
    void writeReady();
    void queue(const QByteArray &packet);
    void append(const QByteArray &packet);
    bool muted() const;
    bool hangupCountReached() const;
    void deviceOutput(const QByteArray &packet);
    void releaseDelayed();
    void scanStreamTick();
    void startIo();
    void checkHangup();
    QByteArray garbage();

    SimDevice *m_device;
    SimOptions m_options;
    int m_fd = -1;
    int m_slave = -1; // our own hold on the pty's slave, so the line stays up between host opens
    QString m_path;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    int m_outPos = 0;
    // Answers held back by the response delay: when each may go, in order.
    struct Delayed {
        qint64 due;
        QByteArray packet;
    };
    std::deque<Delayed> m_delayed;
    QTimer *m_delayTimer;
    QTimer *m_paceTimer;
    QTimer *m_receiveTimer;
    struct Arriving {
        qint64 dueNs;
        QByteArray packet;
    };
    std::deque<Arriving> m_arriving;
    qint64 m_moduleBusyUntilNs = 0;
    qint64 m_lineFreeNs = 0;
    double m_txCredit = 0;
    qint64 m_txCreditAtNs = 0;
    QTimer *m_scanTimer;
    QElapsedTimer m_clock;
    qint64 m_scanBudget = 0;
    qint64 m_scanLast = 0;
    int m_received = 0;
    qint64 m_written = 0;
    bool m_hangupDue = false;
    qint64 m_hangupWait = -1;
    uint32_t m_noise = 0x2545f491;
};
