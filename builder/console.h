#pragma once

#include <QByteArray>
#include <QString>

// Where the builder's report and messages go: the process's standard output and standard error, or,
// for tests, two captured texts. Every line is flushed at once so that the report, the messages and
// the script compiler's output keep their order in a build log.
class Console
{
public:
    enum Mode { Process, Capture };

    explicit Console(Mode mode = Capture) : m_mode(mode) {}

    // One line to standard output or standard error; the line end is added.
    void out(const QString &line);
    void err(const QString &line);
    // Bytes passed through unchanged to standard output (the script compiler's own output).
    void outRaw(const QByteArray &bytes);

    QString capturedOut() const { return QString::fromUtf8(m_out); }
    QString capturedErr() const { return QString::fromUtf8(m_err); }

private:
    Mode m_mode;
    QByteArray m_out;
    QByteArray m_err;
};
