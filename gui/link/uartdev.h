#pragma once

#include "serialio.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <mutex>

// One open serial port to the module. Its thread only reads: it cuts the byte stream into API
// packets and emits each as RxData. Writes run in the caller's thread. A UartDev is opened once;
// the next port gets a new object.
class UartDev : public QThread
{
    Q_OBJECT

public:
    explicit UartDev(const QString &portName, QObject *parent = nullptr);
    ~UartDev() override;

    // Opens the port and starts the reader; false if the device cannot be opened.
    bool openPort();
    bool setBaudRate(int baud);

    // n bytes or nothing: n, or -1 on failure or stop (0 at once for n = 0). Reader thread only.
    int readExact(int n, char *buffer);
    // Blocks until all n bytes are written: 0, or -1 on failure or stop.
    int writeAll(int n, const char *buffer);

    // Whether a 4-byte header names a known message of the module's API.
    static bool isKnownHeader(const unsigned char *header);

    const QString portName;

public slots:
    void TxData(const QByteArray &data);
    void Disconnect();

signals:
    void RxData(const QByteArray &data);
    void Closed();

protected:
    void run() override;

private:
    bool releasePort();

    serialio::Event stopEvent;
    // Set when the port is being taken away, so the reader and a writer let go of the descriptor.
    serialio::Event closeEvent;
    std::atomic<int> portHandle{-1};
    // Held by users of the descriptor outside the reader, so it is never closed under them (and its
    // number never reused while they hold it).
    std::mutex portLock;
};
