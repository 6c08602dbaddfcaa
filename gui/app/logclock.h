#pragma once

#include <QString>
#include <QtGlobal>

// The bold date and time in front of every log line, cheaply. Local time needs the time-zone
// database, which the C library re-reads on every conversion; the offset from UTC is taken once per
// minute instead, since zones change their offset only on whole minutes.
class LogClock
{
public:
    // The prefix for now.
    QString prefix();
    // The prefix for `msecs` since the epoch, in local time.
    QString prefix(qint64 msecs);

private:
    qint64 offsetMinute = -1;
    qint64 offsetMsecs = 0;
    // "<b>2026.03.02 09:03:" for the local minute headMinute.
    qint64 headMinute = -1;
    QString head;
};
