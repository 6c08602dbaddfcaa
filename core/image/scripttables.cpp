#include "scripttables.h"

#include <QSet>

namespace
{
quint16 word(const QByteArray &code, qint64 at)
{
    return quint16(quint8(code[int(at)]) | quint8(code[int(at + 1)]) << 8);
}

bool matches(const QByteArray &code, const ScriptApi &api)
{
    if (api.tablesSize() > code.size()) return false;
    qint64 offset = 2 * api.classes.size();
    for (int i = 0; i < api.classes.size(); ++i) {
        const int n = api.classes[i].events;
        if (word(code, 2 * i) != (n ? quint16(offset) : 0xFFFF)) return false;
        offset += 2 * n;
    }
    return true;
}
} // namespace

ScriptTables ScriptTables::read(const QByteArray &code, const ScriptApi *api)
{
    ScriptTables t;
    if (api && api->isLoaded() && matches(code, *api)) {
        t.named = true;
        qint64 at = 0;
        for (const ScriptApi::Class &c : api->classes)
            t.classes.append({c.name, word(code, (at++) * 2)});
        for (const ScriptApi::Class &c : api->classes)
            for (const QString &name : c.entries)
                t.events.append({name, word(code, (at++) * 2)});
        t.codeStart = at * 2;
        return t;
    }
    if (api && api->isLoaded())
        t.problems.append(
            QStringLiteral("the script's tables do not match the API definition: events are numbered"));
    // Class words come first; the lowest offset among them is where the event tables begin.
    qint64 lowest = code.size() & ~qint64(1);
    qint64 at = 0;
    // Far beyond any API's classes and events: a table that long is not one.
    constexpr qint64 maxClasses = 256, maxEvents = 4096;
    for (; at + 2 <= code.size() && at < lowest && at < 2 * maxClasses; at += 2) {
        const quint16 w = word(code, at);
        t.classes.append({QString(), w});
        if (w != 0xFFFF && w > at && w < lowest) lowest = w & ~1;
    }
    // Event entries run until the first handler's address; code never starts with 0xff.
    qint64 firstHandler = code.size();
    const qint64 eventsEnd = at + 2 * maxEvents;
    for (; at + 2 <= code.size() && at < firstHandler && at < eventsEnd; at += 2) {
        const quint16 w = word(code, at);
        if (w != 0xFFFF && w <= at) break;
        t.events.append({QStringLiteral("event %1").arg(t.events.size()), w});
        if (w != 0xFFFF && w < firstHandler) firstHandler = w;
    }
    t.codeStart = at;
    return t;
}

QStringList ScriptTables::handledEvents() const
{
    QStringList out;
    QSet<QString> seen;
    for (const EventEntry &e : events)
        if (e.handler != 0xFFFF && !seen.contains(e.name)) {
            seen.insert(e.name);
            out.append(e.name);
        }
    return out;
}
