#include "certblock.h"

#include "imagelayout.h"

#include <QCryptographicHash>
#include <QHash>

namespace
{

// One DER element: its tag and where its contents lie.
struct Element {
    int tag = -1;
    qint64 start = 0, length = 0; // contents
    qint64 end() const { return start + length; }
};

// Reads the element at `at` within [at, limit); false when it does not fit.
bool element(const QByteArray &d, qint64 at, qint64 limit, Element &e)
{
    if (at + 2 > limit) return false;
    e.tag = quint8(d[int(at)]);
    qint64 n = quint8(d[int(at + 1)]);
    at += 2;
    if (n & 0x80) {
        const int bytes = int(n & 0x7F);
        if (bytes == 0 || bytes > 4 || at + bytes > limit) return false;
        n = 0;
        for (int i = 0; i < bytes; ++i)
            n = n << 8 | quint8(d[int(at++)]);
    }
    if (n > limit - at) return false;
    e.start = at;
    e.length = n;
    return true;
}

QString oidText(const QByteArray &d, const Element &e)
{
    QStringList parts;
    quint64 v = 0;
    for (qint64 i = e.start; i < e.end(); ++i) {
        const quint8 b = quint8(d[int(i)]);
        v = v << 7 | (b & 0x7F);
        if (v > (quint64(1) << 50)) return QString();
        if (!(b & 0x80)) {
            if (parts.isEmpty()) {
                const quint64 first = v < 80 ? v / 40 : 2;
                parts << QString::number(first) << QString::number(v - first * 40);
            } else {
                parts << QString::number(v);
            }
            v = 0;
        }
    }
    return parts.join(QLatin1Char('.'));
}

QString attributeName(const QString &oid)
{
    static const QHash<QString, QString> names = {{"2.5.4.3", "CN"},
                                                  {"2.5.4.6", "C"},
                                                  {"2.5.4.7", "L"},
                                                  {"2.5.4.8", "ST"},
                                                  {"2.5.4.10", "O"},
                                                  {"2.5.4.11", "OU"},
                                                  {"2.5.4.5", "serialNumber"},
                                                  {"1.2.840.113549.1.9.1", "emailAddress"}};
    return names.value(oid, oid);
}

QString stringValue(const QByteArray &d, const Element &e)
{
    const QByteArray raw = d.mid(int(e.start), int(e.length));
    QString text;
    if (e.tag == 0x1E) { // BMPString: UTF-16 big-endian
        for (int i = 0; i + 1 < raw.size(); i += 2)
            text += QChar(ushort(quint8(raw[i]) << 8 | quint8(raw[i + 1])));
    } else {
        text = e.tag == 0x0C ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
    }
    // Names come from the image: nothing that steers a terminal.
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char('?');
    return text;
}

// A Name as "CN = x, O = y", in the order stored.
QString nameText(const QByteArray &d, const Element &name)
{
    QStringList parts;
    Element set;
    for (qint64 at = name.start; at < name.end() && element(d, at, name.end(), set); at = set.end()) {
        Element atv;
        for (qint64 a = set.start; a < set.end() && element(d, a, set.end(), atv); a = atv.end()) {
            Element oid, value;
            if (atv.tag != 0x30 || !element(d, atv.start, atv.end(), oid) || oid.tag != 0x06 ||
                !element(d, oid.end(), atv.end(), value))
                continue;
            parts << attributeName(oidText(d, oid)) + QStringLiteral(" = ") + stringValue(d, value);
        }
    }
    return parts.join(QStringLiteral(", "));
}

// UTCTime or GeneralizedTime as "YYYY-MM-DD hh:mm:ss UTC".
QString timeText(const QByteArray &d, const Element &e)
{
    QByteArray t = d.mid(int(e.start), int(e.length));
    if (e.tag == 0x17 && t.size() >= 12)
        t.prepend(t.left(2).toInt() >= 50 ? "19" : "20");
    else if (e.tag != 0x18)
        return QString();
    if (t.size() < 14) return QString::fromLatin1(t);
    for (int i = 0; i < 14; ++i)
        if (t[i] < '0' || t[i] > '9') return QString();
    return QStringLiteral("%1-%2-%3 %4:%5:%6 UTC")
        .arg(QString::fromLatin1(t.mid(0, 4)), QString::fromLatin1(t.mid(4, 2)),
             QString::fromLatin1(t.mid(6, 2)), QString::fromLatin1(t.mid(8, 2)),
             QString::fromLatin1(t.mid(10, 2)), QString::fromLatin1(t.mid(12, 2)));
}

bool decode(StoredCertificate &c)
{
    const QByteArray &d = c.der;
    Element cert, tbs, e;
    if (!element(d, 0, d.size(), cert) || cert.tag != 0x30) return false;
    if (!element(d, cert.start, cert.end(), tbs) || tbs.tag != 0x30) return false;
    Element fields[7];
    int n = 0;
    for (qint64 at = tbs.start; n < 7 && at < tbs.end() && element(d, at, tbs.end(), e); at = e.end())
        if (!(n == 0 && e.tag == 0xA0)) fields[n++] = e; // the version is optional and not shown
    // serial, signature algorithm, issuer, validity, subject
    if (n < 5 || fields[2].tag != 0x30 || fields[3].tag != 0x30 || fields[4].tag != 0x30) return false;
    Element from, to;
    if (!element(d, fields[3].start, fields[3].end(), from) || !element(d, from.end(), fields[3].end(), to))
        return false;
    c.issuer = nameText(d, fields[2]);
    c.subject = nameText(d, fields[4]);
    c.notBefore = timeText(d, from);
    c.notAfter = timeText(d, to);
    return true;
}

} // namespace

CertificatesBlock CertificatesBlock::read(const QByteArray &block)
{
    CertificatesBlock b;
    qint64 at = 0;
    const qint64 size = block.size();
    for (;;) {
        if (at >= size) {
            b.problems.append(QStringLiteral("the block ends without its closing 0 byte"));
            break;
        }
        const int digestLength = quint8(block[int(at)]);
        if (digestLength == 0) {
            if (at + 1 != size)
                b.problems.append(QStringLiteral("%1 bytes follow the closing 0 byte").arg(size - at - 1));
            break;
        }
        if (digestLength != 16) {
            b.problems.append(QStringLiteral("the entry at %1 has a %2-byte digest, not an MD5 one")
                                  .arg(at)
                                  .arg(digestLength));
            break;
        }
        if (at + 1 + 16 + 4 > size) {
            b.problems.append(QStringLiteral("the entry at %1 is cut short").arg(at));
            break;
        }
        StoredCertificate c;
        c.storedMd5 = block.mid(int(at + 1), 16);
        const quint32 length = imagelayout::readLe32(block, at + 17);
        c.offset = at + 21;
        if (quint64(c.offset) + length > quint64(size)) {
            b.problems.append(QStringLiteral("the certificate at %1 of %2 bytes runs past the block's end")
                                  .arg(at)
                                  .arg(length));
            break;
        }
        c.der = block.mid(int(c.offset), int(length));
        c.md5Matches = QCryptographicHash::hash(c.der, QCryptographicHash::Md5) == c.storedMd5;
        c.decoded = decode(c);
        b.certificates.append(c);
        at = c.offset + length;
    }
    return b;
}
