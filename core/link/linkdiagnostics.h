#pragma once

#include <QString>

// What the serial link says about its own work (a resync, a failed read or write), handed to the
// program, which knows where its user looks: velmo keeps the developer's debug output, a console
// program writes to standard error beside its own messages. Called from the reader thread as well.
namespace linkdiagnostics
{

enum class Level {
    Trace, // the link's own course, for developers
    Error, // a failed transfer
};

using Handler = void (*)(Level level, const QString &port, const QString &text);

// nullptr brings back the default: traces to the debug output, errors on standard output.
void setHandler(Handler handler);
void report(Level level, const QString &port, const QString &text);

// For console programs: errors on standard error as "PROGRAM: PORT: text", traces to the debug output
// with the port's name.
void printOnStderr(Level level, const QString &port, const QString &text);

} // namespace linkdiagnostics
