#include "certificateparser.h"

#include "console.h"
#include "xmlfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSslCertificate>
#include <QtEndian>

bool CertificateParser::parse(const QDomElement &node, QByteArray &out)
{
    QByteArray block;
    for (QDomElement e = node.firstChildElement(QStringLiteral("certificate")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("certificate"))) {
        QFile file;
        if (!XmlFile::openPath(e, file, console)) return false;
        const QString path = file.fileName();
        addInput(path);
        QByteArray content;
        if (!XmlFile::readAll(file, content, console)) return false;
        const QSsl::EncodingFormat format =
            e.attribute(QStringLiteral("format"), QStringLiteral("pem")) == QLatin1String("der") ? QSsl::Der
                                                                                                 : QSsl::Pem;
        const QList<QSslCertificate> certificates = QSslCertificate::fromData(content, format);
        const QByteArray der = certificates.isEmpty() ? QByteArray() : certificates.first().toDer();
        if (der.isEmpty()) {
            console.err(QStringLiteral("Unable to parse certificate file:") + path);
            return false;
        }
        block.append(char(16));
        block.append(QCryptographicHash::hash(der, QCryptographicHash::Md5));
        char length[4];
        qToLittleEndian<quint32>(quint32(der.size()), length);
        block.append(length, 4);
        block.append(der);
        console.out(QStringLiteral("CERT  :") + path + QStringLiteral("  size:") +
                    QString::number(content.size()));
    }
    block.append('\0');
    out = block;
    return true;
}
