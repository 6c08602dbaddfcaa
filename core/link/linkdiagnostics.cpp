#include "linkdiagnostics.h"

#include <QCoreApplication>
#include <QDebug>
#include <atomic>
#include <cstdio>

namespace linkdiagnostics
{

namespace
{

void defaultHandler(Level level, const QString &, const QString &text)
{
    if (level == Level::Trace) {
        qDebug().noquote() << text;
        return;
    }
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

std::atomic<Handler> current{&defaultHandler};

} // namespace

void setHandler(Handler handler)
{
    current.store(handler ? handler : &defaultHandler);
}

void report(Level level, const QString &port, const QString &text)
{
    current.load()(level, port, text);
}

void printOnStderr(Level level, const QString &port, const QString &text)
{
    const QString where = port.isEmpty() ? QString() : port + QStringLiteral(": ");
    if (level == Level::Trace) {
        qDebug().noquote() << where + text;
        return;
    }
    // One call, so lines of two ports never interleave.
    const QString line = QCoreApplication::applicationName() + QStringLiteral(": ") + where + text + '\n';
    std::fputs(line.toLocal8Bit().constData(), stderr);
}

} // namespace linkdiagnostics
