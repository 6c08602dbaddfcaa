#include "certificateparser.h"

#include "console.h"
#include "xmlfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <dlfcn.h>
#include <openssl/opensslv.h>
#include <openssl/x509.h>

namespace
{

// The three calls the section needs. The library is loaded at the first certificate, not linked:
// linked, it costs every build about 120 page faults and 3 M instructions, with or without
// certificates. Its own symbols are bound first, which also makes loading it cheaper than linking.
struct Crypto {
    decltype(&d2i_X509) d2i = nullptr;
    decltype(&i2d_X509) i2d = nullptr;
    decltype(&X509_free) free = nullptr;
    QString error;
};

const Crypto &crypto()
{
    static const Crypto loaded = [] {
        Crypto c;
        void *library = dlopen("libcrypto.so." QT_STRINGIFY(OPENSSL_SHLIB_VERSION),
                               RTLD_LAZY | RTLD_LOCAL);
        if (library) {
            c.d2i = reinterpret_cast<decltype(c.d2i)>(dlsym(library, "d2i_X509"));
            c.i2d = reinterpret_cast<decltype(c.i2d)>(dlsym(library, "i2d_X509"));
            c.free = reinterpret_cast<decltype(c.free)>(dlsym(library, "X509_free"));
        }
        if (!c.d2i || !c.i2d || !c.free) {
            const char *why = dlerror();
            c.error = why ? QString::fromLocal8Bit(why) : QStringLiteral("libcrypto without X.509 calls");
        }
        return c;
    }();
    return loaded;
}

// The DER encoding of the certificate at the start of the bytes, as the crypto library writes it back;
// empty when they do not start with one. Bytes after it are ignored.
QByteArray derOf(const QByteArray &bytes)
{
    const Crypto *c = &crypto();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    X509 *certificate = c->d2i(nullptr, &p, bytes.size());
    if (!certificate) return QByteArray();
    QByteArray der(c->i2d(certificate, nullptr), '\0');
    unsigned char *out = reinterpret_cast<unsigned char *>(der.data());
    if (der.isEmpty() || c->i2d(certificate, &out) != der.size()) der.clear();
    c->free(certificate);
    return der;
}

// A marker line ends with optional spaces and "\n" or "\r\n"; moves offset past it.
bool lineEnd(const QByteArray &pem, int &offset)
{
    while (offset < pem.size() && pem.at(offset) == ' ')
        ++offset;
    if (offset < pem.size() && pem.at(offset) == '\n') {
        offset += 1;
        return true;
    }
    if (offset + 1 < pem.size() && pem.at(offset) == '\r' && pem.at(offset + 1) == '\n') {
        offset += 2;
        return true;
    }
    return false;
}

// The first block between certificate markers that decodes, from base64 that may hold line breaks
// or stray characters; text outside the blocks is ignored.
QByteArray derOfPem(const QByteArray &pem)
{
    static const QByteArray begin = QByteArrayLiteral("-----BEGIN CERTIFICATE-----");
    static const QByteArray end = QByteArrayLiteral("-----END CERTIFICATE-----");
    int offset = 0;
    for (;;) {
        int start = pem.indexOf(begin, offset);
        if (start < 0) break;
        start += begin.size();
        if (!lineEnd(pem, start)) break;
        const int stop = pem.indexOf(end, start);
        if (stop < 0) break;
        offset = stop + end.size();
        if (offset < pem.size() && !lineEnd(pem, offset)) break;
        const QByteArray der = derOf(QByteArray::fromBase64(pem.mid(start, stop - start)));
        if (!der.isEmpty()) return der;
    }
    return QByteArray();
}

} // namespace

bool CertificateParser::parse(const QDomElement &node, QByteArray &out)
{
    QByteArray block;
    for (QDomElement e = node.firstChildElement(QStringLiteral("certificate")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("certificate"))) {
        if (!crypto().error.isEmpty()) {
            console.err(QStringLiteral("Unable to load the crypto library:") + crypto().error);
            return false;
        }
        QFile file;
        if (!XmlFile::openPath(e, file, console)) return false;
        const QString path = file.fileName();
        addInput(path);
        QByteArray content;
        if (!XmlFile::readAll(file, content, console)) return false;
        const bool der = e.attribute(QStringLiteral("format"), QStringLiteral("pem")) == QLatin1String("der");
        const QByteArray encoded = der ? derOf(content) : derOfPem(content);
        if (encoded.isEmpty()) {
            console.err(QStringLiteral("Unable to parse certificate file:") + path);
            return false;
        }
        block.append(char(16));
        block.append(QCryptographicHash::hash(encoded, QCryptographicHash::Md5));
        appendSized(block, encoded);
        console.out(QStringLiteral("CERT  :") + path + QStringLiteral("  size:") +
                    QString::number(content.size()));
    }
    block.append('\0');
    out = block;
    return true;
}
