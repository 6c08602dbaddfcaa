#pragma once

#include "scriptapi.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

// The class table and event tables at the start of a script's byte code. With an API definition
// whose layout the tables match, entries get their event names; otherwise the tables' extent is
// worked out from the words themselves and events are numbered.
struct ScriptTables {
    struct ClassEntry {
        QString name; // empty without a matching API
        quint16 offset = 0xFFFF;
    };
    struct EventEntry {
        QString name; // "event N" without a matching API
        quint16 handler = 0xFFFF;
    };

    QVector<ClassEntry> classes;
    QVector<EventEntry> events;
    qint64 codeStart = 0; // where the tables end
    bool named = false;   // the API matched
    QStringList problems;

    static ScriptTables read(const QByteArray &code, const ScriptApi *api);
    // Event names that have a handler, each once, in table order.
    QStringList handledEvents() const;
};
