// Helpers of the device link tests: a pseudo-terminal as the module's end of the line, and captures
// of the debug log and of standard output.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <QTemporaryFile>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

// The module's side of a line: the master of a pseudo-terminal whose slave path the code under test opens.
class Pty
{
public:
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            path = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return master >= 0 && !path.isEmpty(); }

    bool write(const QByteArray &bytes) const
    {
        const char *p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(master, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            left -= n;
        }
        return true;
    }

    // Reads until `count` bytes arrived or nothing came for timeoutMs.
    QByteArray read(int count, int timeoutMs = 10000) const
    {
        QByteArray got;
        char buf[65536];
        while (got.size() < count) {
            pollfd p = {master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<int>(n));
        }
        return got;
    }

    // True once no process holds the slave open any more (the master sees a hang-up).
    bool slaveClosed(int timeoutMs = 10000) const
    {
        pollfd p = {master, 0, 0};
        return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLHUP);
    }

    void closeMaster()
    {
        if (master >= 0) ::close(master);
        master = -1;
    }

    int master = -1;
    QString path;
};

// Collects the debug log of all threads while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        instance = this;
        previous = qInstallMessageHandler(handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        instance = nullptr;
    }

    QStringList lines() const
    {
        QMutexLocker lock(&mutex);
        return captured;
    }
    int count(const QString &line) const { return lines().count(line); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        QMutexLocker lock(&instance->mutex);
        instance->captured.append(msg);
    }

    static inline LogCapture *instance = nullptr;
    QtMessageHandler previous;
    mutable QMutex mutex;
    QStringList captured;
};

// Sends standard output to a file while it lives. Check what it caught only after it is gone or
// through text(): a failing check would print into the file.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file.open();
        saved = ::dup(1);
        ::dup2(file.handle(), 1);
    }
    ~StdoutCapture() { restore(); }

    QString text()
    {
        restore();
        QFile f(file.fileName());
        f.open(QIODevice::ReadOnly);
        return QString::fromLatin1(f.readAll());
    }

private:
    void restore()
    {
        if (saved < 0) return;
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        saved = -1;
    }

    QTemporaryFile file;
    int saved = -1;
};

// True while a worker's reader thread sleeps in poll(), that is with its read pending. (A thread
// takes the name of its object's class.)
inline bool readerWaiting()
{
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm("/proc/self/task/" + task + "/comm");
        QFile syscall("/proc/self/task/" + task + "/syscall");
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "UartDev" ||
            !syscall.open(QIODevice::ReadOnly))
            continue;
        const long number = syscall.readAll().split(' ').value(0).toLong();
#ifdef SYS_poll
        if (number == SYS_poll) return true;
#endif
        if (number == SYS_ppoll) return true;
    }
    return false;
}

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}
