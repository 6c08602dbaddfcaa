#pragma once

#include "serialio.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class CaptureFile;

// One open serial port to the module. Its thread only reads: it cuts the byte stream into API
// packets and hands them to the object's own thread in batches, where each is emitted as RxData.
// Writes run in the caller's thread. A UartDev is opened once; the next port gets a new object.
class UartDev : public QThread
{
    Q_OBJECT

public:
    // Received bytes that may wait for the object's thread; beyond that the reader stops reading and
    // leaves the rest to the kernel and the line's flow control.
    static constexpr int rxBacklogLimit = 256 * 1024;
    // Longest time a write may wait for the line to take a byte (a module holding CTS, a peer that
    // no longer reads) before the port counts as lost. Flow-control pauses of a working module are far
    // shorter.
    static constexpr int writeStallMs = 5000;
    // Longest run of RxData emissions before the event loop gets its turn again.
    static constexpr int rxSliceMs = 5;

    explicit UartDev(const QString &portName, QObject *parent = nullptr);
    ~UartDev() override;

    // Opens the port and starts the reader; false if the device cannot be opened (openError() says why).
    bool openPort();
    bool setBaudRate(int baud);
    // errno of the last failed openPort.
    int openError() const { return openErrno; }

    // Before openPort only.
    void setRxBacklogLimit(int bytes) { backlogLimit = bytes; }
    void setWriteStallTimeout(int ms) { stallMs.store(ms); }
    // Most received bytes that ever waited for the object's thread at once.
    qint64 rxBacklogPeak() const;

    // n bytes or nothing: n, or -1 on failure or stop (0 at once for n = 0). Reader thread only.
    int readExact(int n, char *buffer);
    // Blocks until all n bytes are written: 0, or -1 on failure or stop. A line that takes nothing for
    // the stall time, or fails, is closed as lost.
    int writeAll(int n, const char *buffer);

    // Closes the port as lost by itself (its device is gone): Closed(), then Lost(reason) after the
    // packets read before. Nothing if the port is already closed.
    void closeAsLost(const QString &reason);
    // Deletes the object once every packet read has been emitted; the port must be closed.
    void releaseWhenDrained();

    // Records the port's packets both ways, and the bytes the reader drops between them, into `file` as
    // its interface `interfaceId`; null stops recording. Any thread.
    void setCapture(std::shared_ptr<CaptureFile> file, int interfaceId);

    // Whether a 4-byte header names a known message of the module's API.
    static bool isKnownHeader(const unsigned char *header);

    const QString portName;

public slots:
    void TxData(const QByteArray &data);
    void Disconnect();

signals:
    // One packet, emitted in the object's thread, in the order received.
    void RxData(const QByteArray &data);
    void Closed();
    // The port ended by itself (hang-up, read or write failure, stalled line, device removed), after
    // the last packet read from it. Not emitted for a close on request.
    void Lost(const QString &reason);

protected:
    void run() override;

private:
    bool releasePort();
    bool queuePacket(const char *packet, int size);
    void postDrain();
    void drain();
    void markLost(const QString &reason);
    void wakeReader();
    void captureInbound(const char *packet, int size);
    void captureDiscarded();
    void trace(const QString &text) const;

    serialio::Event stopEvent;
    // Set when the port is being taken away, so the reader and a writer let go of the descriptor.
    serialio::Event closeEvent;
    std::atomic<int> portHandle{-1};
    // Held by users of the descriptor outside the reader, so it is never closed under them (and its
    // number never reused while they hold it).
    std::mutex portLock;
    int openErrno = 0;
    int readErrno = 0; // why the reader's last read failed; 0 for a stop
    int backlogLimit = rxBacklogLimit;
    std::atomic<int> stallMs{writeStallMs};

    // The hand-over from the reader to the object's thread, guarded by queueLock.
    mutable std::mutex queueLock;
    std::condition_variable spaceFreed;
    QByteArray queue;   // whole packets, back to back
    qint64 waiting = 0; // bytes read but not yet emitted (queue and the batch being emitted)
    qint64 peak = 0;
    bool drainPosted = false; // a drain is posted or running: it will see what is queued
    bool readerBlocked = false;
    bool closeRequested = false; // a port closed on request is never reported as lost
    bool lostPending = false;
    QString lostReason;

    // The capture hook, guarded by captureLock; `capturing` spares the lock when nothing records.
    std::mutex captureLock;
    std::shared_ptr<CaptureFile> captureFile;
    int captureInterface = -1;
    std::atomic<bool> capturing{false};
    QByteArray discarded; // reader thread: bytes dropped since the last packet

    // The object's thread only: the batch being emitted.
    QByteArray batch;
    int batchPos = 0;
    bool draining = false;
    bool deleteWhenDrained = false;
};
