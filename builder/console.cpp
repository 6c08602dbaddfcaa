#include "console.h"

#include <cstdio>

static void writeTo(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Console::out(const QString &line)
{
    outRaw(line.toUtf8() + '\n');
}

void Console::err(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    if (m_mode == Process)
        writeTo(stderr, bytes);
    else
        m_err += bytes;
}

void Console::outRaw(const QByteArray &bytes)
{
    if (m_mode == Process)
        writeTo(stdout, bytes);
    else
        m_out += bytes;
}
