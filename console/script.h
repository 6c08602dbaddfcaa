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
    QString name; // Wait: the event's name (a command's is found from its packet when needed)
    // A script line's file and number, for messages; kept apart so a long script shares one file name.
    QString file;
    int line = 0;
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
    bool addCommand(const QString &line, QString *error);
    bool addWait(const QString &event, const QStringList &conditions, QString *error);
    bool addSleep(const QString &seconds, QString *error);
    // One line of a script: a command, "wait EVENT [PARAM=VALUE ...]", "sleep SECONDS" or
    // "listen SECONDS", a "#" comment or nothing.
    bool addLine(const QString &line, QString *error);
    // A whole file ("-" for standard input); on a bad line the error names file and line and none of
    // the file's steps are kept.
    bool addFile(const QString &path, QString *error);

    QList<Step> steps;

    // Larger than any sensible script; refused rather than read into memory.
    static constexpr qint64 maxFileSize = 64 * 1024 * 1024;

private:
    void place(Step &step) const;

    const CommandHelp &help;
    // The script line being read, for the steps it makes.
    QString file;
    int line = 0;
};

// "0.5" -> 500; false for what is not a number of seconds from 0 to a day.
bool parseSeconds(const QString &text, int *ms);
