#include "capturefile.h"

#include "pcapng.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char capture::discardedComment[] = "bytes discarded while resynchronising";

qint64 capture::nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace
{
// Host order is little-endian on every platform the tools ship for; the section header says so.
void put16(QByteArray &out, quint16 v)
{
    out.append(reinterpret_cast<const char *>(&v), 2);
}

void put32(QByteArray &out, quint32 v)
{
    out.append(reinterpret_cast<const char *>(&v), 4);
}

void pad4(QByteArray &out)
{
    while (out.size() % 4)
        out.append('\0');
}

void putOption(QByteArray &out, quint16 code, const QByteArray &value)
{
    put16(out, code);
    put16(out, quint16(value.size()));
    out.append(value);
    pad4(out);
}

// Fills in the total length at both ends of the block that starts at `start`.
void closeBlock(QByteArray &out, int start)
{
    put32(out, 0);
    const quint32 length = quint32(out.size() - start);
    std::memcpy(out.data() + start + 4, &length, 4);
    std::memcpy(out.data() + out.size() - 4, &length, 4);
}

QByteArray sectionHeader()
{
    QByteArray out;
    put32(out, pcapng::sectionHeaderBlock);
    put32(out, 0);
    put32(out, pcapng::byteOrderMagic);
    put16(out, 1);
    put16(out, 0);
    put32(out, 0xFFFFFFFF); // section length not known while writing
    put32(out, 0xFFFFFFFF);
    putOption(out, pcapng::shbUserAppl, QByteArrayLiteral("NW300 tools"));
    put32(out, pcapng::optEnd);
    closeBlock(out, 0);
    return out;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

CaptureFile::CaptureFile(QObject *parent) : QObject(parent) {}

CaptureFile::~CaptureFile()
{
    close();
}

QString CaptureFile::errorString() const
{
    std::lock_guard<std::mutex> guard(lock);
    return error;
}

bool CaptureFile::open(const QString &target, const QStringList &inputs)
{
    if (fd >= 0 || flusher.joinable()) {
        error = QStringLiteral("a capture is already open");
        return false;
    }
    path = target;
    const QFileInfo info(target);
    struct stat st;
    const bool exists = ::stat(QFile::encodeName(target).constData(), &st) == 0;
    if (target.isEmpty()) {
        error = QStringLiteral("no capture file named");
        return false;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        error = QStringLiteral("%1 is a directory").arg(target);
        return false;
    }
    if (exists && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        error = QStringLiteral("%1 is a pipe or socket, not a file a capture can be written to").arg(target);
        return false;
    }
    if (exists) {
        const QString canonical = info.canonicalFilePath();
        for (const QString &input : inputs) {
            if (!input.isEmpty() && QFileInfo(input).canonicalFilePath() == canonical) {
                error =
                    QStringLiteral("%1 is an input of this run; the capture would overwrite it").arg(target);
                return false;
            }
        }
    }
    // Written in place rather than renamed at the end: the file must be readable while it grows and
    // after a crash.
    fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(target, systemReason(errno));
        return false;
    }
    committed = 0;
    if (!writeOut(sectionHeader())) {
        ::close(fd);
        fd = -1;
        return false;
    }
    error.clear();
    interfaces = 0;
    stopping = false;
    packets.store(0);
    recording.store(true);
    flusher = std::thread([this] { flusherLoop(); });
    return true;
}

void CaptureFile::close()
{
    if (flusher.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        flusher.join();
    }
    recording.store(false);
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int CaptureFile::addInterface(const QString &portPath, int baudRate)
{
    QByteArray block;
    put32(block, pcapng::interfaceBlock);
    put32(block, 0);
    put16(block, pcapng::linkTypeUser0);
    put16(block, 0);
    put32(block, 0); // no snapshot limit
    putOption(block, pcapng::ifName, portPath.toUtf8());
    putOption(block, pcapng::ifDescription,
              QStringLiteral("NW300 serial line, %1 baud").arg(baudRate).toUtf8());
    putOption(block, pcapng::ifTsresol, QByteArray(1, char(9))); // nanoseconds
    put32(block, pcapng::optEnd);
    closeBlock(block, 0);
    std::lock_guard<std::mutex> guard(lock);
    if (!recording.load() || stopping) return -1;
    pending.append(block);
    return interfaces++;
}

void CaptureFile::record(int interfaceId, capture::Direction direction, const char *data, int size)
{
    if (!recording.load(std::memory_order_relaxed)) return;
    recordAt(interfaceId, -1, direction, data, size);
}

void CaptureFile::recordDiscarded(int interfaceId, const char *data, int size)
{
    if (!recording.load(std::memory_order_relaxed)) return;
    recordAt(interfaceId, -1, capture::Direction::Inbound, data, size,
             QString::fromLatin1(capture::discardedComment));
}

void CaptureFile::recordAt(int interfaceId, qint64 timeNs, capture::Direction direction, const char *data,
                           int size, const QString &comment)
{
    if (!recording.load(std::memory_order_relaxed) || interfaceId < 0 || size < 0) return;
    const QByteArray commentBytes = comment.toUtf8();
    // Options: the comment if any, the flags (8 bytes) and the end marker (4).
    const int optionBytes = (commentBytes.isEmpty() ? 0 : 4 + ((commentBytes.size() + 3) & ~3)) + 12;
    const int blockLength = 28 + ((size + 3) & ~3) + optionBytes + 4;
    bool urgent = false;
    bool tooFar = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (interfaceId >= interfaces || stopping || !recording.load()) return;
        if (pending.size() + blockLength > pendingLimit) {
            tooFar = true;
        } else {
            // Stamped under the lock, so blocks from several threads keep their times in file order.
            if (timeNs < 0) timeNs = capture::nowNs();
            // Built in place: the reader's side pays for one append, not for a temporary block.
            const int start = pending.size();
            pending.reserve(start + blockLength);
            put32(pending, pcapng::enhancedPacketBlock);
            put32(pending, quint32(blockLength));
            put32(pending, quint32(interfaceId));
            put32(pending, quint32(quint64(timeNs) >> 32));
            put32(pending, quint32(quint64(timeNs)));
            put32(pending, quint32(size));
            put32(pending, quint32(size));
            pending.append(data, size);
            pad4(pending);
            if (!commentBytes.isEmpty()) putOption(pending, pcapng::optComment, commentBytes);
            put16(pending, pcapng::epbFlags);
            put16(pending, 4);
            put32(pending, quint32(direction));
            put32(pending, pcapng::optEnd);
            put32(pending, quint32(blockLength));
            Q_ASSERT(pending.size() - start == blockLength);
            urgent = pending.size() >= 1024 * 1024;
        }
    }
    if (tooFar) {
        fail(QStringLiteral("writing %1 does not keep up with the line").arg(path));
        return;
    }
    packets.fetch_add(1, std::memory_order_relaxed);
    if (urgent) wake.notify_all();
}

bool CaptureFile::flush()
{
    std::unique_lock<std::mutex> guard(lock);
    if (!flusher.joinable()) return false;
    const quint64 target = passesStarted + 1; // the pass that starts after this request
    flushRequested = true;
    wake.notify_all();
    flushed.wait(guard, [&] { return flushesDone >= target || !recording.load() || stopping; });
    return recording.load();
}

void CaptureFile::flusherLoop()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        wake.wait_for(guard, std::chrono::milliseconds(flushIntervalMs),
                      [&] { return stopping || flushRequested || pending.size() >= 1024 * 1024; });
        flushRequested = false;
        ++passesStarted;
        QByteArray blocks;
        blocks.swap(pending);
        // Room for as much again, so the recording threads do not grow the queue step by step.
        pending.reserve(std::min(blocks.size(), pendingLimit));
        const bool last = stopping;
        const bool ok = recording.load();
        guard.unlock();
        if (ok && !blocks.isEmpty()) {
            if (writeOut(blocks)) {
                // Only a regular file has a medium to reach; a device takes what it is given.
                if (::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
                    fail(QStringLiteral("writing %1 failed: %2").arg(path, systemReason(errno)));
            } else {
                fail(error);
            }
        }
        guard.lock();
        ++flushesDone;
        flushed.notify_all();
        if (last) return;
    }
}

// Writes whole blocks; on failure the file is cut back to its last whole block, so a reader still
// finds every block before the one that failed.
bool CaptureFile::writeOut(const QByteArray &blocks)
{
    const char *p = blocks.constData();
    qint64 left = blocks.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = n < 0 ? errno : ENOSPC;
            if (::ftruncate(fd, committed) == 0) ::lseek(fd, committed, SEEK_SET);
            std::lock_guard<std::mutex> guard(lock);
            error = QStringLiteral("writing %1 failed: %2").arg(path, systemReason(reason));
            return false;
        }
        p += n;
        left -= n;
    }
    committed += blocks.size();
    return true;
}

void CaptureFile::fail(const QString &reason)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!recording.load()) return;
        recording.store(false);
        error = reason;
        pending.clear();
    }
    flushed.notify_all();
    emit failed(QStringLiteral("capture stopped: ") + reason);
}
