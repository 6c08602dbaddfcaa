#include "softwareparser.h"

#include "console.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool SoftwareParser::parse(const QDomElement &node, QByteArray &out)
{
    QString written = QStringLiteral("fw/wifi.juo");
    for (QDomElement e = node.firstChildElement(QStringLiteral("binary")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("binary")))
        written = e.attribute(QStringLiteral("in"), QStringLiteral("fw/wifi.juo"));

    QString path = written;
    if (!QFileInfo::exists(path) && QFileInfo(path).isRelative()) path = QDir(m_sdkRoot).filePath(written);
    console.out(QStringLiteral(" in         :") + written);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.out(QStringLiteral("Unable to open:") + path);
        return false;
    }
    addInput(path);
    return XmlFile::readAll(file, out, console);
}
