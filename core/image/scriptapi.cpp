#include "scriptapi.h"

#include <QFile>
#include <QXmlStreamReader>

namespace
{
// The API file is a few hundred kilobytes; anything far larger is not one.
constexpr qint64 maxApiSize = 16 * 1024 * 1024;

int scriptId(const QXmlStreamAttributes &a)
{
    bool ok = false;
    const int id = a.value(QLatin1String("script")).toString().toInt(&ok, 0);
    return ok ? id : 0;
}
} // namespace

bool ScriptApi::load(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot open %1: %2").arg(path, f.errorString());
        return false;
    }
    if (f.size() > maxApiSize) {
        if (error) *error = QStringLiteral("%1 is too large for an API definition").arg(path);
        return false;
    }
    return loadXml(f.readAll(), error);
}

bool ScriptApi::loadXml(const QByteArray &xml, QString *error)
{
    classes.clear();
    commands.clear();
    loaded = false;
    // A stream reader: a document tree of the whole API costs more than the rest of an inspection.
    QXmlStreamReader r(xml);
    int depth = 0, classDepth = 0;
    Class cls;
    // One counter over all classes, as the compiler numbers the event tables.
    int counter = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            ++depth;
            const QStringRef tag = r.name();
            const QXmlStreamAttributes a = r.attributes();
            if (!classDepth && depth > 1 && tag == QLatin1String("class")) {
                classDepth = depth;
                cls = Class();
                cls.name = a.value(QLatin1String("name")).toString();
            } else if (classDepth && tag == QLatin1String("event")) {
                const QString name = cls.name + QLatin1Char('_') + a.value(QLatin1String("name"));
                const int id = scriptId(a);
                // A hostile file cannot make the table endless: ids beyond 16-bit offsets are not real.
                while (counter < id && counter < 0x8000) {
                    cls.entries.append(name);
                    ++counter;
                }
                cls.entries.append(name);
                ++counter;
                ++cls.events;
            } else if (classDepth && tag == QLatin1String("command")) {
                const int id = scriptId(a);
                if (!commands.contains(id))
                    commands.insert(id, cls.name + QLatin1Char('_') + a.value(QLatin1String("name")));
            }
        } else if (r.isEndElement()) {
            if (depth == classDepth) {
                classes.append(cls);
                classDepth = 0;
            }
            --depth;
        }
    }
    if (r.hasError()) {
        if (error)
            *error = QStringLiteral("not an API definition (line %1: %2)")
                         .arg(r.lineNumber())
                         .arg(r.errorString());
        classes.clear();
        commands.clear();
        return false;
    }
    loaded = true;
    return true;
}

int ScriptApi::entryCount() const
{
    int n = 0;
    for (const Class &c : classes)
        n += c.entries.size();
    return n;
}
