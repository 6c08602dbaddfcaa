#pragma once

#include <QString>
#include <QStringList>

// velmo's own command-line options. Everything else on the line is left to Qt (-platform, -style,
// ...), so those are not errors here.
class StartOptions
{
public:
    enum Action { Run, ShowHelp, ShowVersion, Fail };

    // `arguments` as the program received them, the program's name first.
    static StartOptions parse(const QStringList &arguments);
    static QString helpText();

    Action action = Run;
    // Opened at start-up when not empty.
    QString port;
    int baud = 115200;
    // Recorded into from the start, when not empty.
    QString capture;
    // Played into the log at start-up instead of opening a port, when not empty.
    QString openCapture;
    // Why the line was refused (action Fail).
    QString error;
};
