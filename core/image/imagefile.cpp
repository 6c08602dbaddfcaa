#include "imagefile.h"

#include "imagelayout.h"

#include <QFile>
#include <QMap>
#include <cstring>
#include <vector>

namespace
{

// Beyond any real HEX file of boot and program flash; refusing it keeps memory bounded.
constexpr qint64 maxFileSize = 4 * 1024 * 1024;
// Repeated faults of one kind are counted, not listed one by one.
constexpr int listedPerKind = 5;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A HEX file starts with a record: a colon, then hex digits to the end of the line. A raw image may well
// start with a colon byte, but not with a whole line of digits after it.
bool looksLikeHex(const QByteArray &bytes)
{
    int at = 0;
    while (at < bytes.size() && (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n'))
        ++at;
    if (at >= bytes.size() || bytes[at] != ':') return false;
    int digits = 0;
    for (++at; at < bytes.size() && bytes[at] != '\r' && bytes[at] != '\n'; ++at, ++digits)
        if (hexDigit(bytes[at]) < 0) return false;
    return digits >= 10;
}

// One memory of the image with a map of which bytes some record has written.
struct Region {
    quint32 start;
    QByteArray *bytes;
    std::vector<bool> written;
    QString what;
    char *raw = nullptr; // the bytes, detached once
};

class FaultList
{
public:
    explicit FaultList(QStringList &out) : out(out) {}
    void add(const QString &kind, const QString &text)
    {
        int &n = counts[kind];
        if (++n <= listedPerKind) out.append(text);
    }
    void close()
    {
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > listedPerKind)
                out.append(QStringLiteral("%1 more %2").arg(it.value() - listedPerKind).arg(it.key()));
    }

private:
    QStringList &out;
    QMap<QString, int> counts;
};

QString hexAddress(quint32 a)
{
    return QStringLiteral("0x%1").arg(a, 8, 16, QLatin1Char('0'));
}

} // namespace

ImageFile ImageFile::fromFile(const QString &path)
{
    ImageFile image;
    image.name = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        image.problems.append(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return image;
    }
    // Read with a bound: a device such as /dev/zero reports no size and never ends.
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() > maxFileSize) {
        image.problems.append(
            QStringLiteral("%1 is larger than any image file (%2 bytes at most)").arg(path).arg(maxFileSize));
        return image;
    }
    return fromBytes(bytes, path);
}

ImageFile ImageFile::fromBytes(const QByteArray &bytes, const QString &name)
{
    ImageFile image;
    image.name = name;
    if (looksLikeHex(bytes)) {
        image.hex = true;
        image.readHex(bytes);
        return image;
    }
    image.flash = bytes;
    image.readable = true;
    if (bytes.size() != imagelayout::flashSize)
        image.problems.append(QStringLiteral("the image is %1 bytes; a program flash image is %2 bytes")
                                  .arg(bytes.size())
                                  .arg(imagelayout::flashSize));
    return image;
}

void ImageFile::readHex(const QByteArray &text)
{
    flash = QByteArray(int(imagelayout::flashSize), char(0xFF));
    boot = QByteArray(bootSize, char(0xFF));
    Region regions[] = {{flashAddress, &flash, std::vector<bool>(size_t(flash.size())), "program flash"},
                        {bootAddress, &boot, std::vector<bool>(size_t(boot.size())), "boot flash"}};
    for (Region &g : regions)
        g.raw = g.bytes->data();
    FaultList faults(problems);
    quint32 upper = 0;
    bool ended = false, afterEnd = false;
    int records = 0, lineNo = 0;
    // Lines are cut in place and records decoded into a fixed buffer: a full file has 32000 of them.
    const char *p = text.constData(), *const end = p + text.size();
    unsigned char r[260];
    while (p < end) {
        const char *eol = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        if (!eol) eol = end;
        const char *a = p, *b = eol;
        p = eol + 1;
        ++lineNo;
        while (a < b && (*a == ' ' || *a == '\t' || *a == '\r'))
            ++a;
        while (b > a && (b[-1] == ' ' || b[-1] == '\t' || b[-1] == '\r'))
            --b;
        if (a == b) continue;
        if (ended) {
            afterEnd = true;
            continue;
        }
        const qint64 length = b - a;
        bool ok = *a == ':' && length % 2 == 1 && length >= 11 && length <= 1 + 2 * 260;
        int size = 0;
        for (const char *c = a + 1; ok && c < b; c += 2) {
            const int hi = hexDigit(c[0]), lo = hexDigit(c[1]);
            ok = hi >= 0 && lo >= 0;
            if (ok) r[size++] = (unsigned char)(hi << 4 | lo);
        }
        if (!ok || size != r[0] + 5) {
            faults.add(QStringLiteral("lines that are not records"),
                       QStringLiteral("line %1 is not a HEX record").arg(lineNo));
            continue;
        }
        unsigned sum = 0;
        for (int i = 0; i < size; ++i)
            sum += r[i];
        if ((sum & 0xFF) != 0) {
            faults.add(QStringLiteral("records with a bad checksum"),
                       QStringLiteral("line %1: bad checksum, record skipped").arg(lineNo));
            continue;
        }
        ++records;
        const int count = r[0];
        const quint32 offset = quint32(r[1]) << 8 | r[2];
        const unsigned char *data = r + 4;
        switch (r[3]) {
        case 0x00: {
            for (int i = 0; i < count; ++i) {
                const quint32 address = upper + ((offset + quint32(i)) & 0xFFFF);
                Region *hit = nullptr;
                for (Region &g : regions)
                    if (address - g.start < quint32(g.bytes->size())) hit = &g;
                if (!hit) {
                    faults.add(QStringLiteral("bytes outside boot and program flash"),
                               QStringLiteral("line %1: data at %2 lies outside boot and program flash")
                                   .arg(lineNo)
                                   .arg(hexAddress(address)));
                    break;
                }
                const size_t at = address - hit->start;
                if (hit->written[at])
                    faults.add(QStringLiteral("overlapping bytes"),
                               QStringLiteral("line %1: %2 was already written by an earlier record")
                                   .arg(lineNo)
                                   .arg(hexAddress(address)));
                hit->written[at] = true;
                hit->raw[at] = char(data[i]);
            }
            break;
        }
        case 0x01:
            ended = true;
            break;
        case 0x02:
            if (count == 2) upper = (quint32(data[0]) << 8 | data[1]) << 4;
            break;
        case 0x04:
            if (count == 2) upper = (quint32(data[0]) << 8 | data[1]) << 16;
            break;
        case 0x03:
        case 0x05:
            break; // start addresses mean nothing to the module's flash
        default:
            faults.add(QStringLiteral("records of unknown types"),
                       QStringLiteral("line %1: unknown record type %2").arg(lineNo).arg(r[3]));
        }
    }
    faults.close();
    readable = records > 0;
    if (!readable) problems.append(QStringLiteral("no HEX record could be read"));
    if (!ended)
        problems.append(QStringLiteral("the end-of-file record is missing: the file may be cut short"));
    if (afterEnd) problems.append(QStringLiteral("lines after the end-of-file record were ignored"));
    for (const Region &g : regions) {
        // Missing bytes, as runs: a file cut short shows as one run at the end.
        int runs = 0;
        qint64 missing = 0;
        QStringList listed;
        for (size_t i = 0; i < g.written.size();) {
            if (g.written[i]) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < g.written.size() && !g.written[j])
                ++j;
            missing += qint64(j - i);
            if (++runs <= listedPerKind)
                listed.append(
                    QStringLiteral("%1 bytes from %2").arg(j - i).arg(hexAddress(g.start + quint32(i))));
            i = j;
        }
        if (missing > 0)
            problems.append(QStringLiteral("%1: %2 bytes have no record (%3%4), read as 0xff")
                                .arg(g.what)
                                .arg(missing)
                                .arg(listed.join(QStringLiteral(", ")))
                                .arg(runs > listedPerKind ? QStringLiteral(", ...") : QString()));
    }
}
