#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
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

    // What arrived until the line stayed quiet for timeoutMs: also shows that nothing was sent.
    QByteArray readIdle(int timeoutMs = 300) const
    {
        QByteArray got;
        char buf[4096];
        pollfd p = {master, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, int(n));
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
