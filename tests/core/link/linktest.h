// Helpers of the device link tests: a pseudo-terminal as the module's end of the line, and captures
// of the debug log and of standard output.
#pragma once

#include "pty.h"

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
