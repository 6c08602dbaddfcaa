#include "fileparser.h"

#include "console.h"
#include "xmlfile.h"

#include <QFile>
#include <QFileInfo>

bool FileParser::parse(const QDomElement &node, QByteArray &out)
{
    QByteArray block;
    for (QDomElement e = node.firstChildElement(QStringLiteral("file")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("file"))) {
        QFile file;
        if (!XmlFile::openPath(e, file, console)) return false;
        const QString path = file.fileName();
        addInput(path);
        const bool includePath = e.attribute(QStringLiteral("include_path"), QStringLiteral("false"))
                                     .compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
        const QString name = includePath ? path : QFileInfo(path).fileName();
        // The length byte counts the bytes stored, so a name beyond ASCII still agrees with it.
        const QByteArray stored = '/' + name.toUtf8();
        if (stored.size() > 255) {
            console.err(QStringLiteral("File name too long:") + path);
            return false;
        }
        block.append(char(stored.size()));
        block.append(stored);
        block.append('\0');
        while (block.size() % 4 != 0)
            block.append('\0');

        QByteArray content;
        if (!XmlFile::readAll(file, content, console)) return false;
        if (content.isEmpty()) {
            console.err(QStringLiteral("Read error while reading file:") + path);
            return false;
        }
        appendSized(block, content);
        console.out(QStringLiteral("FILE  :") + name + QStringLiteral("  size:") +
                    QString::number(content.size()));
    }
    block.append('\0');
    out = block;
    return true;
}
