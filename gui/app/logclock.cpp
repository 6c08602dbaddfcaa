#include "logclock.h"

#include <QDateTime>

namespace
{

const qint64 msecsPerMinute = 60000;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}

void appendNumber(QString &s, int value, int width, QChar pad = QLatin1Char('0'))
{
    const QString digits = QString::number(value);
    for (int i = digits.size(); i < width; ++i)
        s += pad;
    s += digits;
}

} // namespace

QString LogClock::prefix()
{
    return prefix(QDateTime::currentMSecsSinceEpoch());
}

QString LogClock::prefix(qint64 msecs)
{
    const qint64 utcMinute = floorDiv(msecs, msecsPerMinute);
    if (utcMinute != offsetMinute) {
        offsetMinute = utcMinute;
        offsetMsecs =
            qint64(QDateTime::fromMSecsSinceEpoch(utcMinute * msecsPerMinute).offsetFromUtc()) * 1000;
    }
    const qint64 local = msecs + offsetMsecs;
    const qint64 localMinute = floorDiv(local, msecsPerMinute);
    if (localMinute != headMinute) {
        headMinute = localMinute;
        // A UTC date and time shifted by the offset has the local fields.
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(localMinute * msecsPerMinute, Qt::UTC);
        const QDate d = t.date();
        head = QStringLiteral("<b>");
        appendNumber(head, d.year(), 4, QLatin1Char(' '));
        head += QLatin1Char('.');
        appendNumber(head, d.month(), 2);
        head += QLatin1Char('.');
        appendNumber(head, d.day(), 2);
        head += QLatin1Char(' ');
        appendNumber(head, t.time().hour(), 2);
        head += QLatin1Char(':');
        appendNumber(head, t.time().minute(), 2);
        head += QLatin1Char(':');
    }

    const int inMinute = int(local - localMinute * msecsPerMinute);
    const int second = inMinute / 1000;
    const int msec = inMinute % 1000;
    QString s;
    s.reserve(head.size() + 12);
    s += head;
    s += QLatin1Char(char('0' + second / 10));
    s += QLatin1Char(char('0' + second % 10));
    s += QLatin1String(".0");
    s += QLatin1Char(char('0' + msec / 100));
    s += QLatin1Char(char('0' + msec / 10 % 10));
    s += QLatin1Char(char('0' + msec % 10));
    s += QLatin1String("</b> ");
    return s;
}
