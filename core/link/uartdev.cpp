#include "uartdev.h"

#include "capturefile.h"
#include "linkdiagnostics.h"
#include "messagecounts.h"
#include "packet.h"

#include <QDebug>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
constexpr int headerSize = packet_header_size;

int packetSize(const char *header)
{
    return headerSize + packet_payload_length(reinterpret_cast<const uint8_t *>(header));
}

QString readFailure(int error)
{
    if (error == EIO) return QStringLiteral("the device hung up");
    return QLatin1String("read failed: ") + qt_error_string(error);
}

} // namespace

UartDev::UartDev(const QString &portName, QObject *parent) : QThread(parent), portName(portName) {}

UartDev::~UartDev()
{
    trace(QStringLiteral("UartDev::~UartDev"));
    stopEvent.set();
    wakeReader();
    wait();
}

bool UartDev::openPort()
{
    if (isRunning() || isFinished()) {
        openErrno = EBUSY;
        return false;
    }
    // Without its wake-up events the reader could not be stopped: no port then.
    int fd = -1;
    if (!stopEvent.valid() || !closeEvent.valid())
        openErrno = EMFILE;
    else if ((fd = serialio::openDevice(portName)) < 0)
        openErrno = errno;
    if (fd < 0) {
        trace(QStringLiteral("ERROR: cannot open serialport: ") + portName);
        return false;
    }
    portHandle.store(fd);
    // The line is set right afterwards by the owner; the reader is already waiting for a header then.
    start(QThread::TimeCriticalPriority);
    return true;
}

bool UartDev::setBaudRate(int baud)
{
    std::lock_guard<std::mutex> lock(portLock);
    const int fd = portHandle.load();
    return fd >= 0 && serialio::setLineSettings(fd, baud);
}

qint64 UartDev::rxBacklogPeak() const
{
    std::lock_guard<std::mutex> lock(queueLock);
    return peak;
}

bool UartDev::isKnownHeader(const unsigned char *header)
{
    if (!(header[0] & 0x08)) return false;
    const unsigned char *counts = (header[0] & 0x80) ? nwlink::eventCount : nwlink::commandCount;
    return header[2] < nwlink::classCount && header[3] < counts[header[2]];
}

void UartDev::run()
{
    char buffer[packet_max_size];
    int need = headerSize;
    readErrno = 0;
    for (;;) {
        if (stopEvent.isSet()) break;
        if (readExact(need, buffer + headerSize - need) < 0) break;
        const auto *header = reinterpret_cast<const unsigned char *>(buffer);
        if (isKnownHeader(header)) {
            const int length = packet_payload_length(header);
            if (length != 0 && readExact(length, buffer + headerSize) <= 0) break;
            if (capturing.load(std::memory_order_relaxed)) captureInbound(buffer, headerSize + length);
            if (!queuePacket(buffer, headerSize + length)) break;
            need = headerSize;
        } else {
            // Search the stream one byte at a time for a header of a known message.
            trace(QStringLiteral("resync"));
            if (capturing.load(std::memory_order_relaxed)) {
                discarded.append(buffer[0]);
                if (discarded.size() >= 4096) captureDiscarded();
            }
            std::memmove(buffer, buffer + 1, headerSize - 1);
            need = 1;
        }
    }
    captureDiscarded();
    trace(QStringLiteral("UART disconnecting"));
    if (releasePort()) {
        emit Closed();
        // Still open, so nobody took the port away: a failed read means the device is gone.
        if (readErrno != 0) markLost(readFailure(readErrno));
    }
    trace(QStringLiteral("UART thread exit"));
}

int UartDev::readExact(int n, char *buffer)
{
    if (n == 0) return 0;
    const int fd = portHandle.load();
    int remaining = n;
    while (remaining > 0) {
        const serialio::Transfer t = serialio::readSome(fd, buffer, remaining, stopEvent, closeEvent);
        if (t.outcome == serialio::Outcome::Stopped) {
            trace(QStringLiteral("Finish"));
            return -1;
        }
        if (t.outcome != serialio::Outcome::Done) {
            linkdiagnostics::report(linkdiagnostics::Level::Error, portName,
                                    QStringLiteral("ERROR: ReadFile failed:%1").arg(t.error));
            readErrno = t.error;
            return -1;
        }
        buffer += t.count;
        remaining -= t.count;
    }
    return n;
}

int UartDev::writeAll(int n, const char *buffer)
{
    if (n == 0) return 0;
    serialio::Transfer failed{serialio::Outcome::Done, 0, 0};
    {
        std::lock_guard<std::mutex> lock(portLock);
        const int fd = portHandle.load();
        const int timeoutMs = stallMs.load();
        int remaining = n;
        while (remaining > 0 && failed.outcome == serialio::Outcome::Done) {
            const serialio::Transfer t =
                serialio::writeSome(fd, buffer, remaining, stopEvent, closeEvent, timeoutMs);
            switch (t.outcome) {
            case serialio::Outcome::Done:
                buffer += t.count;
                remaining -= t.count;
                break;
            case serialio::Outcome::Stopped:
                return -1;
            case serialio::Outcome::StartFailed:
                linkdiagnostics::report(linkdiagnostics::Level::Error, portName,
                                        QStringLiteral("ERROR: WriteFile failed:%1").arg(t.error));
                failed = t;
                break;
            case serialio::Outcome::WaitFailed:
            case serialio::Outcome::TimedOut:
                linkdiagnostics::report(linkdiagnostics::Level::Error, portName,
                                        QStringLiteral("ERROR: Writefile failed:%1").arg(t.error));
                failed = t;
                break;
            }
        }
    }
    if (failed.outcome == serialio::Outcome::Done) return 0;
    // EBADF: the port was closed already, nothing more to report.
    if (failed.outcome == serialio::Outcome::TimedOut)
        closeAsLost(QStringLiteral("the line stalled for %1 s").arg(stallMs.load() / 1000.0));
    else if (failed.error == EIO)
        closeAsLost(QStringLiteral("the device hung up"));
    else if (failed.error != EBADF)
        closeAsLost(QLatin1String("write failed: ") + qt_error_string(failed.error));
    return -1;
}

void UartDev::setCapture(std::shared_ptr<CaptureFile> file, int interfaceId)
{
    std::lock_guard<std::mutex> lock(captureLock);
    captureFile = std::move(file);
    captureInterface = interfaceId;
    capturing.store(captureFile != nullptr && interfaceId >= 0);
}

// Reader thread: the noise before a packet goes into the capture ahead of it.
void UartDev::captureInbound(const char *packet, int size)
{
    if (!discarded.isEmpty()) captureDiscarded();
    std::lock_guard<std::mutex> lock(captureLock);
    if (captureFile) captureFile->record(captureInterface, capture::Direction::Inbound, packet, size);
}

void UartDev::captureDiscarded()
{
    if (discarded.isEmpty()) return;
    {
        std::lock_guard<std::mutex> lock(captureLock);
        if (captureFile)
            captureFile->recordDiscarded(captureInterface, discarded.constData(), discarded.size());
    }
    discarded.clear();
}

void UartDev::TxData(const QByteArray &data)
{
    // Recorded before the write, so a quick answer never lands ahead of its command in the capture.
    if (capturing.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> lock(captureLock);
        if (captureFile)
            captureFile->record(captureInterface, capture::Direction::Outbound, data.constData(),
                                data.size());
    }
    writeAll(data.size(), data.constData());
}

void UartDev::Disconnect()
{
    {
        std::lock_guard<std::mutex> lock(queueLock);
        closeRequested = true;
        lostPending = false;
    }
    if (releasePort()) emit Closed();
}

void UartDev::closeAsLost(const QString &reason)
{
    if (!releasePort()) return;
    emit Closed();
    markLost(reason);
}

// Takes the descriptor away and closes it; true for the one caller that did. The reader is woken and,
// unless it is the caller, has finished before the close, so it never touches a number that a later
// open may have reused.
bool UartDev::releasePort()
{
    const int fd = portHandle.exchange(-1);
    if (fd < 0) return false;
    closeEvent.set();
    wakeReader();
    if (QThread::currentThread() != this) wait();
    std::lock_guard<std::mutex> lock(portLock);
    serialio::closeDevice(fd);
    return true;
}

// A reader waiting for room sees the stop and close events once woken.
void UartDev::wakeReader()
{
    std::lock_guard<std::mutex> lock(queueLock);
    spaceFreed.notify_all();
}

// Reader thread: waits while the object's thread is behind, then queues the packet. False when the
// reader is to end instead.
bool UartDev::queuePacket(const char *packet, int size)
{
    std::unique_lock<std::mutex> lock(queueLock);
    const auto roomOrEnd = [&] {
        return waiting == 0 || waiting + size <= backlogLimit || stopEvent.isSet() || closeEvent.isSet();
    };
    if (!roomOrEnd()) {
        readerBlocked = true;
        spaceFreed.wait(lock, roomOrEnd);
        readerBlocked = false;
    }
    if (stopEvent.isSet() || closeEvent.isSet()) return false;
    queue.append(packet, size);
    waiting += size;
    peak = std::max(peak, waiting);
    if (!drainPosted) {
        drainPosted = true;
        postDrain();
    }
    return true;
}

void UartDev::markLost(const QString &reason)
{
    std::lock_guard<std::mutex> lock(queueLock);
    if (closeRequested) return;
    lostPending = true;
    lostReason = reason;
    if (!drainPosted) {
        drainPosted = true;
        postDrain();
    }
}

void UartDev::postDrain()
{
    QMetaObject::invokeMethod(
        this, [this] { drain(); }, Qt::QueuedConnection);
}

// The object's thread: emits everything queued, a slice at a time, then the loss of the port if it
// was lost. Each slice ends after rxSliceMs and posts the rest behind the events that came meanwhile.
void UartDev::drain()
{
    // A receiver that runs a nested event loop: the outer drain goes on once it returns.
    if (draining) return;
    draining = true;
    QElapsedTimer clock;
    clock.start();
    qint64 emitted = 0;
    for (;;) {
        if (batchPos >= batch.size()) {
            std::unique_lock<std::mutex> lock(queueLock);
            waiting -= emitted;
            emitted = 0;
            if (readerBlocked) spaceFreed.notify_all();
            if (queue.isEmpty()) {
                drainPosted = false;
                batch.clear();
                batchPos = 0;
                const bool lost = lostPending;
                const QString reason = lostReason;
                lostPending = false;
                lock.unlock();
                draining = false;
                if (lost) emit Lost(reason);
                if (deleteWhenDrained) deleteLater();
                return;
            }
            batch.swap(queue);
            batchPos = 0;
            queue.clear();
        }
        const char *packet = batch.constData() + batchPos;
        const int size = packetSize(packet);
        batchPos += size;
        emitted += size;
        emit RxData(QByteArray(packet, size));
        if (clock.elapsed() >= rxSliceMs) {
            std::lock_guard<std::mutex> lock(queueLock);
            waiting -= emitted;
            if (readerBlocked) spaceFreed.notify_all();
            draining = false;
            postDrain();
            return;
        }
    }
}

void UartDev::trace(const QString &text) const
{
    linkdiagnostics::report(linkdiagnostics::Level::Trace, portName, text);
}

void UartDev::releaseWhenDrained()
{
    deleteWhenDrained = true;
    bool idle;
    {
        std::lock_guard<std::mutex> lock(queueLock);
        idle = !drainPosted;
    }
    if (idle) delete this;
}
