// The few operating-system operations the serial worker needs, on a Linux tty: open and close a port,
// set its line, and read or write a piece of data while waiting on the port and on wake-up events.
// Every wait can be cut short by an event, so a blocked reader or writer can always be released.
#pragma once

#include <QString>
#include <atomic>

namespace serialio
{

// A wake-up flag that poll() can wait on. Once set it stays set: a worker and its port are used for
// one run only, so nothing ever needs to clear it.
class Event
{
public:
    Event();
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    bool valid() const { return efd >= 0; }
    void set();
    bool isSet() const { return flag.load(std::memory_order_acquire); }
    int fd() const { return efd; }

private:
    int efd;
    std::atomic<bool> flag{false};
};

// Opens a tty for reading and writing: no controlling terminal, exclusive, close-on-exec, non-blocking,
// with the line discipline in raw mode (the speed is left as it is). Returns the descriptor, or -1 with
// errno set.
int openDevice(const QString &path);
// Gives the line back the settings it had when openDevice found it, then closes it.
void closeDevice(int fd);

// 8 data bits, 1 stop bit, no parity, raw, RTS/CTS flow control, no XON/XOFF, DTR asserted, at any
// baud rate. Returns whether the driver took the settings (and runs close to the requested rate).
bool setLineSettings(int fd, int baud);

enum class Outcome {
    Done,        // count bytes were transferred
    Stopped,     // the stop event was seen before the port was ready
    StartFailed, // the transfer itself failed (or the port was closed); error holds errno
    WaitFailed,  // waiting for the port failed (error condition on the port, or closed meanwhile)
    TimedOut,    // the port stayed unready for the whole time allowed
};

struct Transfer {
    Outcome outcome;
    int count;
    int error;
};

// Both transfer at least one byte and at most n, waiting as long as it takes (a write at most
// timeoutMs, when that is not negative), unless `stop` or `closed` is set first. `closed` means the
// descriptor is being taken away: once it is set, fd is not touched again.
Transfer readSome(int fd, char *buffer, int n, const Event &stop, const Event &closed);
Transfer writeSome(int fd, const char *buffer, int n, const Event &stop, const Event &closed,
                   int timeoutMs = -1);

// Why `path` could not be opened (error is the errno of openDevice), in words for the user, with the
// fix where there is an obvious one.
QString openFailureReason(const QString &path, int error);

} // namespace serialio
