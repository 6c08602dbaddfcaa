#include "simline.h"

#include "packet.h"
#include "simdevice.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// Unread bytes kept for a host that does not read: the streams pause beyond this.
constexpr int streamBacklog = 64 * 1024;
// Bytes taken off the line per turn of the event loop: a line that never runs dry (a device that is not
// a serial port, or a flood) cannot grow the buffer without end.
constexpr int readPerTurn = 64 * 1024;
// A UART's transmit FIFO: what a paced line may send at once.
constexpr double paceBurst = 16;
// How long a hang-up waits for the host to read the answers before it.
constexpr int hangupGraceMs = 2000;
constexpr int hangupSettleMs = 20;

bool rawLine(int fd, int baud, QString *error)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return true; // not a terminal: nothing to set
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    static const struct {
        int baud;
        speed_t speed;
    } speeds[] = {{9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                  {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                  {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                  {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};
    bool known = false;
    for (const auto &s : speeds) {
        if (s.baud != baud) continue;
        cfsetispeed(&tio, s.speed);
        cfsetospeed(&tio, s.speed);
        known = true;
    }
    if (!known) {
        if (error) *error = QStringLiteral("unsupported baud rate %1").arg(baud);
        return false;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimLine::SimLine(SimDevice *device, const SimOptions &options, QObject *parent)
    : QObject(parent), m_device(device), m_options(options), m_delayTimer(new QTimer(this)),
      m_paceTimer(new QTimer(this)), m_receiveTimer(new QTimer(this)), m_scanTimer(new QTimer(this))
{
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &SimLine::writeReady);
    m_receiveTimer->setSingleShot(true);
    m_receiveTimer->setTimerType(Qt::PreciseTimer);
    connect(m_receiveTimer, &QTimer::timeout, this, &SimLine::releaseReceived);
    m_delayTimer->setSingleShot(true);
    connect(m_delayTimer, &QTimer::timeout, this, &SimLine::releaseDelayed);
    connect(m_scanTimer, &QTimer::timeout, this, &SimLine::scanStreamTick);
    connect(m_device, &SimDevice::output, this, &SimLine::deviceOutput);
    m_clock.start();
}

SimLine::~SimLine()
{
    if (m_fd >= 0) ::close(m_fd);
    if (m_slave >= 0) ::close(m_slave);
}

bool SimLine::openPty(QString *error)
{
    if (m_fd >= 0) return false;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (error) *error = systemError(QStringLiteral("cannot create a pseudo-terminal"));
        if (master >= 0) ::close(master);
        return false;
    }
    const QString name = QString::fromLocal8Bit(ptsname(master));
    // Holding the slave open keeps the master from seeing a hang-up while no host has the port open,
    // and lets the line be made raw before the host's first byte (no echo back into the module).
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !rawLine(slave, 115200, error)) {
        if (error && slave < 0) *error = systemError(name);
        if (slave >= 0) ::close(slave);
        ::close(master);
        return false;
    }
    m_fd = master;
    m_slave = slave;
    m_path = name;
    startIo();
    return true;
}

bool SimLine::attach(const QString &path, QString *error)
{
    if (m_fd >= 0) return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error) *error = systemError(path);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        if (error) *error = QStringLiteral("%1: not a serial device").arg(path);
        ::close(fd);
        return false;
    }
    if (!rawLine(fd, m_options.baud, error)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    startIo();
    return true;
}

void SimLine::startIo()
{
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimLine::readReady);
    m_readNotifier->setEnabled(m_options.stallAfter != 0);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(m_options.flood);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimLine::writeReady);
    if (m_options.scanStreamBaud > 0) {
        m_scanLast = m_clock.elapsed();
        m_scanTimer->start(10);
    }
}

void SimLine::hangUp()
{
    if (m_fd < 0) return;
    // Possibly called from one of the notifiers' own signals: let them go once it has returned.
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_readNotifier->deleteLater();
    m_writeNotifier->deleteLater();
    m_readNotifier = m_writeNotifier = nullptr;
    m_scanTimer->stop();
    m_delayTimer->stop();
    ::close(m_fd);
    if (m_slave >= 0) ::close(m_slave);
    m_fd = m_slave = -1;
    emit hungUp();
}

bool SimLine::hangupCountReached() const
{
    return m_options.hangupAfter >= 0 && m_received >= m_options.hangupAfter;
}

bool SimLine::muted() const
{
    return m_options.muteAfter >= 0 && m_received > m_options.muteAfter;
}

void SimLine::readReady()
{
    char buffer[4096];
    for (int taken = 0; taken < readPerTurn;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_in.append(buffer, int(n));
            taken += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        hangUp(); // end of file or an error: the far end is gone
        return;
    }
    int pos = 0;
    while (m_fd >= 0 && m_in.size() - pos >= packet_header_size) {
        const auto *p = reinterpret_cast<const uint8_t *>(m_in.constData()) + pos;
        if (!packet_is_wifi(p[0])) { // resynchronise one byte at a time, as the host does
            ++pos;
            continue;
        }
        const int length = packet_header_size + packet_payload_length(p);
        if (m_in.size() - pos < length) break;
        const QByteArray packet = m_in.mid(pos, length);
        pos += length;
        // Packets past the hang-up count are not looked at (with a count of 0, not even the first).
        m_hangupDue = m_hangupDue || hangupCountReached();
        if (m_hangupDue) continue;
        ++m_received;
        emit received(packet);
        if (!muted()) deliver(packet);
        m_hangupDue = hangupCountReached();
        if (m_fd >= 0 && m_options.stallAfter >= 0 && m_received >= m_options.stallAfter) {
            m_readNotifier->setEnabled(false); // like a hung module: nothing more is taken off the line
            break;
        }
    }
    m_in.remove(0, pos);
    checkHangup();
}

void SimLine::deliver(const QByteArray &packet)
{
    if (m_options.paceBaud <= 0 && m_options.flashWriteUs <= 0 && m_arriving.empty()) {
        m_device->receive(packet);
        return;
    }
    const qint64 now = m_clock.nsecsElapsed();
    // The line brings bytes at its own pace whatever the module is doing; the module takes a command once
    // it is in and the one before is done, and answers a chunk once it is written.
    m_lineFreeNs = qMax(now, m_lineFreeNs);
    if (m_options.paceBaud > 0) m_lineFreeNs += qint64(packet.size()) * 10 * 1000000000LL / m_options.paceBaud;
    qint64 due = qMax(m_lineFreeNs, m_moduleBusyUntilNs);
    // flash_upload: the dfu class's command 2.
    const auto *p = reinterpret_cast<const uint8_t *>(packet.constData());
    if (m_options.flashWriteUs > 0 && !(p[0] & packet_event_bit) && p[2] == 0 && p[3] == 2)
        due += qint64(m_options.flashWriteUs) * 1000;
    m_moduleBusyUntilNs = due;
    m_arriving.push_back({due, packet});
    if (!m_receiveTimer->isActive()) m_receiveTimer->start(int(qMax<qint64>(0, (m_arriving.front().dueNs - now) / 1000000)));
}

void SimLine::releaseReceived()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_arriving.empty() && m_arriving.front().dueNs <= now && m_fd >= 0) {
        const QByteArray packet = m_arriving.front().packet;
        m_arriving.pop_front();
        m_device->receive(packet);
    }
    if (!m_arriving.empty())
        m_receiveTimer->start(int(qMax<qint64>(0, (m_arriving.front().dueNs - now + 999999) / 1000000)));
    checkHangup();
}

void SimLine::deviceOutput(const QByteArray &packet)
{
    if (m_fd < 0 || muted()) return;
    if (m_options.delayMs > 0) {
        m_delayed.push_back({m_clock.elapsed() + m_options.delayMs, packet});
        if (!m_delayTimer->isActive()) m_delayTimer->start(m_options.delayMs);
        return;
    }
    queue(packet);
}

void SimLine::releaseDelayed()
{
    const qint64 now = m_clock.elapsed();
    while (!m_delayed.empty() && m_delayed.front().due <= now) {
        const QByteArray packet = m_delayed.front().packet;
        m_delayed.pop_front();
        queue(packet);
    }
    if (!m_delayed.empty()) m_delayTimer->start(int(m_delayed.front().due - now));
    checkHangup();
}

void SimLine::queue(const QByteArray &packet)
{
    if (m_fd < 0) return;
    append(packet);
    emit sent(packet);
    writeReady();
}

void SimLine::append(const QByteArray &packet)
{
    if (m_options.garbage > 0) m_out.append(garbage());
    m_out.append(packet);
}

// Bytes that no receiver can take for the start of a packet, so a sound one drops them all and loses
// nothing. Bit 3 stays clear: every Wi-Fi header has it set, however loosely a receiver checks the rest.
QByteArray SimLine::garbage()
{
    QByteArray noise;
    while (noise.size() < m_options.garbage) {
        m_noise = m_noise * 1664525u + 1013904223u;
        noise.append(char(uint8_t(m_noise >> 24) & ~0x08));
    }
    return noise;
}

void SimLine::scanStreamTick()
{
    const qint64 now = m_clock.elapsed();
    const qint64 bytesPerSecond = m_options.scanStreamBaud / 10;
    m_scanBudget += (now - m_scanLast) * bytesPerSecond / 1000;
    m_scanLast = now;
    if (m_fd < 0 || muted() || m_out.size() - m_outPos > streamBacklog) {
        m_scanBudget = 0; // a host that does not read gets no burst when it starts again
        return;
    }
    bool any = false;
    while (m_scanBudget > 0) {
        const QByteArray packet = m_device->scanStreamPacket();
        append(packet);
        m_scanBudget -= packet.size();
        any = true;
    }
    if (any) writeReady();
}

void SimLine::writeReady()
{
    if (m_fd < 0) return;
    if (m_options.flood && !muted()) {
        while (m_out.size() - m_outPos < streamBacklog / 8)
            append(m_device->floodPacket());
    }
    int allowed = m_out.size() - m_outPos;
    if (m_options.paceBaud > 0 && allowed > 0) {
        // Credit for the bytes a real line would have sent since the last write, up to a FIFO's worth.
        const qint64 now = m_clock.nsecsElapsed();
        m_txCredit = qMin(paceBurst, m_txCredit + double(now - m_txCreditAtNs) * m_options.paceBaud / 10 / 1e9);
        m_txCreditAtNs = now;
        allowed = qMin(allowed, int(m_txCredit));
    }
    while (m_outPos < m_out.size() && allowed > 0) {
        const int chunk = m_options.byteWrites ? 1 : allowed;
        const ssize_t n = ::write(m_fd, m_out.constData() + m_outPos, size_t(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n < 0) {
            hangUp();
            return;
        }
        m_outPos += int(n);
        m_written += n;
        allowed -= int(n);
        if (m_options.paceBaud > 0) m_txCredit -= double(n);
        // One byte per turn of the event loop, so the host sees every byte on its own.
        if (m_options.byteWrites) break;
    }
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos > streamBacklog) {
        m_out.remove(0, m_outPos);
        m_outPos = 0;
    }
    const bool waiting = m_outPos < m_out.size();
    if (waiting && m_options.paceBaud > 0 && allowed <= 0) {
        // The line is busy: come back when a FIFO's worth has gone out.
        m_writeNotifier->setEnabled(false);
        if (!m_paceTimer->isActive())
            m_paceTimer->start(qMax(1, int(paceBurst * 10 * 1000 / m_options.paceBaud)));
        checkHangup();
        return;
    }
    m_writeNotifier->setEnabled(waiting || (m_options.flood && !muted()));
    checkHangup();
}

void SimLine::checkHangup()
{
    if (!m_hangupDue || m_fd < 0 || m_outPos < m_out.size() || !m_delayed.empty() || !m_arriving.empty()) return;
    // Closing the master drops what the host has not read yet; a real line would have delivered it, so
    // give the host a moment to take the last answers (the kernel hands them on a little later, too).
    if (m_slave >= 0) {
        if (m_hangupWait < 0) m_hangupWait = m_clock.elapsed();
        const qint64 waited = m_clock.elapsed() - m_hangupWait;
        int unread = 0;
        const bool pending = ::ioctl(m_slave, FIONREAD, &unread) == 0 && unread > 0;
        if (waited < hangupSettleMs || (pending && waited < hangupGraceMs)) {
            QTimer::singleShot(5, this, &SimLine::checkHangup);
            return;
        }
    }
    hangUp();
}
