#include "uartdev.h"

#include "messagecounts.h"

#include <QDebug>
#include <cstdio>
#include <cstring>

namespace
{
constexpr int headerSize = 4;
constexpr int maxPayload = 2047; // 11-bit length field
} // namespace

UartDev::UartDev(const QString &portName, QObject *parent) : QThread(parent), portName(portName) {}

UartDev::~UartDev()
{
    qDebug("UartDev::~UartDev");
    stopEvent.set();
    wait();
}

bool UartDev::openPort()
{
    if (isRunning() || isFinished()) return false;
    // Without its wake-up events the reader could not be stopped: no port then.
    const int fd = stopEvent.valid() && closeEvent.valid() ? serialio::openDevice(portName) : -1;
    if (fd < 0) {
        qDebug().noquote() << "ERROR: cannot open serialport:" << portName;
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

bool UartDev::isKnownHeader(const unsigned char *header)
{
    if (!(header[0] & 0x08)) return false;
    const unsigned char *counts = (header[0] & 0x80) ? nwlink::eventCount : nwlink::commandCount;
    return header[2] < nwlink::classCount && header[3] < counts[header[2]];
}

void UartDev::run()
{
    char buffer[headerSize + maxPayload];
    int need = headerSize;
    for (;;) {
        if (stopEvent.isSet()) break;
        if (readExact(need, buffer + headerSize - need) < 0) break;
        const auto *header = reinterpret_cast<const unsigned char *>(buffer);
        if (isKnownHeader(header)) {
            const int length = (header[0] & 7) * 256 + header[1];
            if (length != 0 && readExact(length, buffer + headerSize) <= 0) break;
            emit RxData(QByteArray(buffer, headerSize + length));
            need = headerSize;
        } else {
            // Search the stream one byte at a time for a header of a known message.
            qDebug("resync");
            std::memmove(buffer, buffer + 1, headerSize - 1);
            need = 1;
        }
    }
    qDebug("UART disconnecting");
    if (releasePort()) emit Closed();
    qDebug("UART thread exit");
}

int UartDev::readExact(int n, char *buffer)
{
    if (n == 0) return 0;
    const int fd = portHandle.load();
    int remaining = n;
    while (remaining > 0) {
        const serialio::Transfer t = serialio::readSome(fd, buffer, remaining, stopEvent, closeEvent);
        if (t.outcome == serialio::Outcome::Stopped) {
            qDebug("Finish");
            return -1;
        }
        if (t.outcome != serialio::Outcome::Done) {
            std::printf("ERROR: ReadFile failed:%d\n", t.error);
            std::fflush(stdout);
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
    std::lock_guard<std::mutex> lock(portLock);
    const int fd = portHandle.load();
    int remaining = n;
    while (remaining > 0) {
        const serialio::Transfer t = serialio::writeSome(fd, buffer, remaining, stopEvent, closeEvent);
        switch (t.outcome) {
        case serialio::Outcome::Done:
            break;
        case serialio::Outcome::Stopped:
            return -1;
        case serialio::Outcome::StartFailed:
            std::printf("ERROR: WriteFile failed:%d\n", t.error);
            std::fflush(stdout);
            return -1;
        case serialio::Outcome::WaitFailed:
            std::printf("ERROR: Writefile failed:%d\n", t.error);
            std::fflush(stdout);
            return -1;
        }
        buffer += t.count;
        remaining -= t.count;
    }
    return 0;
}

void UartDev::TxData(const QByteArray &data)
{
    writeAll(data.size(), data.constData());
}

void UartDev::Disconnect()
{
    if (releasePort()) emit Closed();
}

// Takes the descriptor away and closes it; true for the one caller that did. The reader is woken and,
// unless it is the caller, has finished before the close, so it never touches a number that a later
// open may have reused.
bool UartDev::releasePort()
{
    const int fd = portHandle.exchange(-1);
    if (fd < 0) return false;
    closeEvent.set();
    if (QThread::currentThread() != this) wait();
    std::lock_guard<std::mutex> lock(portLock);
    serialio::closeDevice(fd);
    return true;
}
