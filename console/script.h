// The steps nwctl runs: commands to send and answer, events to wait for, pauses; built from the
// command line, from a script file (parsed whole before anything is sent) or from a typed line.
#pragma once

#include "commandhelp.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct Step {
    enum Kind { Send, Wait, Sleep };
    Kind kind = Send;
    QString name;   // command or event name as shown in messages
    QString origin; // "file:line" for a script line, else empty
    QByteArray packet;
    int classId = -1; // Wait: the event's ids
    int index = -1;
    // Wait: parameter name and the value it must have, as DecodedPacket::text writes it.
    QList<QPair<QString, QString>> conditions;
    int ms = 0; // Sleep
};

class Script
{
public:
    explicit Script(const CommandHelp &help) : help(help) {}

    // Each returns false with a one-line reason (suggestions included) and adds nothing.
    bool addCommand(const QString &line, QString *error, const QString &origin = QString());
    bool addWait(const QString &event, const QStringList &conditions, QString *error,
                 const QString &origin = QString());
    bool addSleep(const QString &seconds, QString *error, const QString &origin = QString());
    // One line of a script: a command, "wait EVENT [PARAM=VALUE ...]", "sleep SECONDS" or
    // "listen SECONDS", a "#" comment or nothing.
    bool addLine(const QString &line, QString *error, const QString &origin = QString());
    // A whole file ("-" for standard input); on a bad line the error names file and line and none of
    // the file's steps are kept.
    bool addFile(const QString &path, QString *error);

    QList<Step> steps;

    // Larger than any sensible script; refused rather than read into memory.
    static constexpr qint64 maxFileSize = 64 * 1024 * 1024;

private:
    const CommandHelp &help;
};

// "0.5" -> 500; false for what is not a number of seconds from 0 to a day.
bool parseSeconds(const QString &text, int *ms);
