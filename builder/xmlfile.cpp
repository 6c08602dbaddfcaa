#include "xmlfile.h"

#include "console.h"

#include <QFile>

XmlFile::Result XmlFile::load(const QString &path, QDomDocument &doc, Console &console)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err(QStringLiteral("Unable to open:") + path);
        return OpenFailed;
    }
    QString error;
    int line = 0;
    int column = 0;
    if (!doc.setContent(&file, &error, &line, &column)) {
        console.err(QStringLiteral("Parsing ") + path + ' ' + QString::number(line) + ':' +
                    QString::number(column) + QStringLiteral(" xml failed:") + error);
        return ParseFailed;
    }
    return Loaded;
}

bool XmlFile::openPath(const QDomElement &element, QFile &file, Console &console)
{
    const QString path = element.attribute(QStringLiteral("path"));
    if (path.isEmpty()) {
        console.err(QStringLiteral("Expected path for file"));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err(QStringLiteral("Unable to open file:") + path);
        return false;
    }
    return true;
}
