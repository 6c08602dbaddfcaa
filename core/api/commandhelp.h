// What a command line offers beyond parsing: the names to complete, a message's parameters as
// plain text, and for a line that gives no packet, why, with the nearest command names.
#pragma once

#include "commandparser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class CommandHelp
{
public:
    explicit CommandHelp(const CommandParser &parser) : parser(parser) {}

    struct Check {
        QByteArray packet;                   // empty when the line gives none
        QString reason;                      // plain text; empty when there is a packet
        QStringList nearest;                 // command names close to an unknown one
        const ApiMessage *command = nullptr; // the command the line names, if it names one
    };
    // Parses the line as the command box does; with strictRange, a number that does not fit its
    // field is refused instead of being cut to it.
    Check check(const QString &line, bool strictRange = false) const;

    // "class_command" and "class_event", in definition order.
    QStringList commandNames() const;
    QStringList eventNames() const;

    // By "class_name", or by the full "wifi_cmd_…" / "wifi_evt_…" name; null when unknown.
    const ApiMessage *command(const QString &name) const;
    const ApiMessage *event(const QString &name) const;
    // By the ids a received packet carries.
    const ApiMessage *response(int classId, int index) const;
    const ApiMessage *eventById(int classId, int index) const;
    QString className(int classId) const;

    // "name param:type …" without markup.
    static QString usage(const QString &name, const ApiMessage &message);
    // Up to `max` of `names` close to `word` (a typo, another case, a missing class prefix), best first.
    static QStringList nearest(const QString &word, const QStringList &names, int max = 3);
    // The text of an HTML fragment: tags dropped, the few entities the log uses turned back.
    static QString plain(const QString &html);

private:
    QString commandPart(const QString &line) const;
    QString rangeProblem(const ApiMessage &command, const QString &line) const;

    const CommandParser &parser;
};
