#include "scriptapi.h"

#include <QDomDocument>
#include <QFile>

namespace
{
// The API file is a few hundred kilobytes; anything far larger is not one.
constexpr qint64 maxApiSize = 16 * 1024 * 1024;

int scriptId(const QDomElement &e)
{
    bool ok = false;
    const int id = e.attribute(QStringLiteral("script")).toInt(&ok, 0);
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
    QDomDocument doc;
    QString message;
    int line = 0;
    if (!doc.setContent(xml, &message, &line)) {
        if (error) *error = QStringLiteral("not an API definition (line %1: %2)").arg(line).arg(message);
        return false;
    }
    // One counter over all classes, as the compiler numbers the event tables.
    int counter = 0;
    const QDomNodeList classNodes = doc.documentElement().elementsByTagName(QStringLiteral("class"));
    for (int i = 0; i < classNodes.size(); ++i) {
        const QDomElement c = classNodes.at(i).toElement();
        Class cls;
        cls.name = c.attribute(QStringLiteral("name"));
        const QDomNodeList events = c.elementsByTagName(QStringLiteral("event"));
        for (int j = 0; j < events.size(); ++j) {
            const QDomElement e = events.at(j).toElement();
            const QString name = cls.name + QLatin1Char('_') + e.attribute(QStringLiteral("name"));
            const int id = scriptId(e);
            // A hostile file cannot make the table endless: ids beyond 16-bit offsets are not real.
            while (counter < id && counter < 0x8000) {
                cls.entries.append(name);
                ++counter;
            }
            cls.entries.append(name);
            ++counter;
            ++cls.events;
        }
        const QDomNodeList cmds = c.elementsByTagName(QStringLiteral("command"));
        for (int j = 0; j < cmds.size(); ++j) {
            const QDomElement e = cmds.at(j).toElement();
            const int id = scriptId(e);
            if (!commands.contains(id))
                commands.insert(id, cls.name + QLatin1Char('_') + e.attribute(QStringLiteral("name")));
        }
        classes.append(cls);
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
