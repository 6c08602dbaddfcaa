#include "serialio.h"

#include <QFile>

// The kernel's termios2 (with BOTHER for arbitrary rates) cannot be mixed with glibc's <termios.h>.
#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serialio
{

Event::Event() : efd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Event::~Event()
{
    if (efd >= 0) ::close(efd);
}

void Event::set()
{
    flag.store(true, std::memory_order_release);
    const uint64_t one = 1;
    // Only readability matters; a full counter is readable as well.
    ssize_t r = ::write(efd, &one, sizeof one);
    (void)r;
}

static void makeRaw(termios2 &t)
{
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    // Non-canonical reads: readable as soon as one byte is there.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

namespace
{

// The settings each open port had before it was opened, by descriptor. A descriptor's entry is
// taken before it is closed, so a reused number never finds a stale one.
std::mutex savedLock;
std::map<int, termios2> savedSettings;

void rememberSettings(int fd, const termios2 &t)
{
    std::lock_guard<std::mutex> lock(savedLock);
    savedSettings[fd] = t;
}

bool takeSettings(int fd, termios2 *t)
{
    std::lock_guard<std::mutex> lock(savedLock);
    const auto it = savedSettings.find(fd);
    if (it == savedSettings.end()) return false;
    *t = it->second;
    savedSettings.erase(it);
    return true;
}

} // namespace

int openDevice(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    termios2 t;
    // A tty only; raw at once, so nothing received before the line is set is cooked or echoed.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    // TIOCEXCL does not stop root; the lock stops every program that asks for it, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        closeDevice(fd);
        errno = err == EWOULDBLOCK ? EWOULDBLOCK : err;
        return -1;
    }
    // USB adapters otherwise hold each answer for their latency timer; other lines do not know the flag.
    serial_struct serial;
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    bool raw = ::ioctl(fd, TCGETS2, &t) == 0;
    if (raw) {
        rememberSettings(fd, t);
        makeRaw(t);
        raw = ::ioctl(fd, TCSETS2, &t) == 0;
    }
    if (!raw) {
        const int err = errno;
        closeDevice(fd);
        errno = err;
        return -1;
    }
    return fd;
}

void closeDevice(int fd)
{
    if (fd < 0) return;
    // The line as it was found: a terminal given as the port by mistake stays usable. Not waiting for
    // the output to drain, which on a stalled line would never end.
    termios2 original;
    if (takeSettings(fd, &original)) ::ioctl(fd, TCSETS2, &original);
    // A pty keeps its line while the other end is open, exclusive flag included: without this, no
    // one but root could open it again.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool setLineSettings(int fd, int baud)
{
    if (baud <= 0) return false;
    termios2 t;
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    makeRaw(t);
    // Input speed bits zero: input runs at the output speed.
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CS8 | CRTSCTS | BOTHER;
    t.c_ospeed = t.c_ispeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &t) != 0) return false;
    // Opening raises DTR already; this keeps it up on drivers that do not. Lines without modem
    // control (a pty) refuse it, which is no fault of the settings.
    int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIS, &dtr);
    // Drivers that cannot run a rate keep or round it rather than fail; more than 3% off is not
    // a usable line.
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    const long long diff = static_cast<long long>(t.c_ospeed) - baud;
    return std::llabs(diff) * 100 <= 3LL * baud;
}

namespace
{

enum class Wake { Port, Stop, Closed, Error, Timeout };

qint64 nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits without limit when timeoutMs is negative.
Wake waitFor(int fd, short events, const Event &stop, const Event &closed, int timeoutMs, short *portEvents)
{
    pollfd fds[3] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}, {closed.fd(), POLLIN, 0}};
    const qint64 deadline = timeoutMs < 0 ? 0 : nowMs() + timeoutMs;
    for (;;) {
        const int wait = timeoutMs < 0 ? -1 : int(std::max<qint64>(0, deadline - nowMs()));
        const int r = ::poll(fds, 3, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Wake::Error;
        }
        // The port is reported before a stop request, as long as it is not being closed.
        if (closed.isSet()) return Wake::Closed;
        if (fds[0].revents) {
            *portEvents = fds[0].revents;
            return Wake::Port;
        }
        if (stop.isSet()) return Wake::Stop;
        if (r == 0) return Wake::Timeout;
    }
}

// How a transfer ends when its wait woke for something other than the port.
Transfer endedWaiting(Wake wake)
{
    switch (wake) {
    case Wake::Stop:
        return {Outcome::Stopped, 0, 0};
    case Wake::Closed:
        return {Outcome::WaitFailed, 0, EBADF};
    case Wake::Timeout:
        return {Outcome::TimedOut, 0, ETIMEDOUT};
    case Wake::Error:
    case Wake::Port:
        break;
    }
    return {Outcome::WaitFailed, 0, errno};
}

} // namespace

Transfer readSome(int fd, char *buffer, int n, const Event &stop, const Event &closed)
{
    bool portFault = false;
    for (;;) {
        if (closed.isSet()) return {Outcome::StartFailed, 0, EBADF};
        const ssize_t r = ::read(fd, buffer, static_cast<size_t>(n));
        if (r > 0) return {Outcome::Done, static_cast<int>(r), 0};
        if (r == 0) // end of file on a tty is a hang-up
            return {Outcome::StartFailed, 0, EIO};
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return {Outcome::StartFailed, 0, errno};
        // A port that reports a fault yet has nothing to read would wake us for ever.
        if (portFault) return {Outcome::WaitFailed, 0, EIO};
        short revents = 0;
        const Wake wake = waitFor(fd, POLLIN, stop, closed, -1, &revents);
        if (wake != Wake::Port) return endedWaiting(wake);
        // Data, or an error that the next read reports.
        portFault = !(revents & POLLIN) && (revents & (POLLHUP | POLLERR | POLLNVAL));
    }
}

Transfer writeSome(int fd, const char *buffer, int n, const Event &stop, const Event &closed, int timeoutMs)
{
    for (;;) {
        if (closed.isSet()) return {Outcome::StartFailed, 0, EBADF};
        const ssize_t r = ::write(fd, buffer, static_cast<size_t>(n));
        if (r > 0) return {Outcome::Done, static_cast<int>(r), 0};
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) return {Outcome::StartFailed, 0, errno};
        short revents = 0;
        const Wake wake = waitFor(fd, POLLOUT, stop, closed, timeoutMs, &revents);
        if (wake != Wake::Port) return endedWaiting(wake);
        if (!(revents & POLLOUT)) return {Outcome::WaitFailed, 0, (revents & POLLNVAL) ? EBADF : EIO};
    }
}

QString openFailureReason(const QString &path, int error)
{
    QString reason = qt_error_string(error);
    switch (error) {
    case ENOTTY:
        return QStringLiteral("not a serial port");
    case EBUSY:
        return reason + QLatin1String(" (another program has the port open)");
    case EWOULDBLOCK:
        return QStringLiteral("another program holds the port's lock (flock on %1)").arg(path);
    case EACCES:
    case EPERM: {
        // The group that may use the device, if membership of it is what would help.
        QString group;
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_gid != 0 &&
            (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
            if (const struct group *g = ::getgrgid(st.st_gid)) group = QString::fromLocal8Bit(g->gr_name);
        }
        return reason + QLatin1String(" (add your user to the group that owns the device, \"") +
               (group.isEmpty() ? QStringLiteral("dialout\" on Debian") : group + '"') +
               QLatin1String(", then log in again)");
    }
    default:
        return reason;
    }
}

} // namespace serialio
