// core/capture: session captures in pcapng. CaptureFile records the packets of one or more serial
// lines as they pass, from any thread, and keeps the file readable up to its last second; CaptureReader
// plays a capture back (pcapng in either byte order, or a simple classic pcap file).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace capture
{
// As the block's flags hold it: inbound is module to host, outbound host to module.
enum class Direction { Unknown = 0, Inbound = 1, Outbound = 2 };

// The comment of a block that holds bytes the receiver dropped while looking for a packet header.
extern const char discardedComment[];

// Nanoseconds since the epoch, the resolution the writer stamps with.
qint64 nowNs();
} // namespace capture

// One capture file being written. Blocks are queued whole and written by the file's own thread at
// least twice a second, so a crash loses at most the last moments and never leaves half a block. A
// failed write stops the capture (failed() is emitted once); the callers' sessions go on.
class CaptureFile : public QObject
{
    Q_OBJECT

public:
    static constexpr int flushIntervalMs = 500;
    // Blocks waiting for the disk; a disk that falls this far behind ends the capture instead of the
    // program's memory.
    static constexpr int pendingLimit = 32 * 1024 * 1024;

    explicit CaptureFile(QObject *parent = nullptr);
    ~CaptureFile() override;

    // Creates or truncates `path` and writes the section header. Refuses a directory, a FIFO or
    // socket, and any of `inputs` (files the same run reads); errorString() says why.
    bool open(const QString &path, const QStringList &inputs = QStringList());
    // Writes what is queued and closes the file; nothing is recorded after.
    void close();

    bool isRecording() const { return recording.load(std::memory_order_relaxed); }
    QString fileName() const { return path; }
    QString errorString() const;
    qint64 packetCount() const { return packets.load(); }

    // The calls below may come from any thread. An interface per serial line, numbered from 0 in
    // the order added; -1 when the capture is not recording.
    int addInterface(const QString &portPath, int baudRate);
    void record(int interfaceId, capture::Direction direction, const char *data, int size);
    // A negative time stamps the block with the time it is queued.
    void recordAt(int interfaceId, qint64 timeNs, capture::Direction direction, const char *data, int size,
                  const QString &comment = QString());
    void recordDiscarded(int interfaceId, const char *data, int size);

    // Writes what is queued now and waits for it; false once the capture has failed.
    bool flush();

signals:
    // The capture stopped because the file could not be written. Emitted from the file's thread.
    void failed(const QString &reason);

private:
    void flusherLoop();
    bool writeOut(const QByteArray &blocks);
    void fail(const QString &reason);

    QString path;
    int fd = -1;
    qint64 committed = 0; // bytes of whole blocks on disk
    std::thread flusher;
    std::atomic<bool> recording{false};
    std::atomic<qint64> packets{0};

    mutable std::mutex lock;
    std::condition_variable wake;
    QByteArray pending;
    int interfaces = 0;
    bool stopping = false;
    bool flushRequested = false;
    quint64 passesStarted = 0;
    quint64 flushesDone = 0;
    std::condition_variable flushed;
    QString error;
};
