#include "filesblock.h"

#include "imagelayout.h"

FilesBlock FilesBlock::read(const QByteArray &block)
{
    FilesBlock f;
    qint64 at = 0;
    const qint64 size = block.size();
    for (;;) {
        if (at >= size) {
            f.problems.append(QStringLiteral("the block ends without its closing 0 byte"));
            break;
        }
        const int length = quint8(block[int(at)]);
        if (length == 0) {
            if (at + 1 != size)
                f.problems.append(QStringLiteral("%1 bytes follow the closing 0 byte").arg(size - at - 1));
            break;
        }
        // length byte, "/" + name, terminator, padding to 4 from the block's start, size word
        const qint64 nameEnd = at + 1 + length;
        const qint64 sizeAt = (nameEnd + 1 + 3) & ~qint64(3);
        if (sizeAt + 4 > size) {
            f.problems.append(QStringLiteral("the entry at %1 is cut short").arg(at));
            break;
        }
        if (block[int(at + 1)] != '/' || block[int(nameEnd)] != '\0') {
            f.problems.append(QStringLiteral("the entry at %1 is not a file entry").arg(at));
            break;
        }
        StoredFile file;
        file.name = block.mid(int(at + 2), length - 1);
        file.size = imagelayout::readLe32(block, sizeAt);
        file.offset = sizeAt + 4;
        if (quint64(file.offset) + file.size > quint64(size)) {
            f.problems.append(QStringLiteral("the file \"%1\" of %2 bytes runs past the block's end")
                                  .arg(printable(file.name), QString::number(file.size)));
            break;
        }
        file.unsafeReason = unsafeReason(file.name);
        f.files.append(file);
        at = file.offset + file.size;
    }
    return f;
}

QString FilesBlock::unsafeReason(const QByteArray &name)
{
    if (name.isEmpty()) return QStringLiteral("the name is empty");
    for (char c : name)
        if (quint8(c) < 0x20 || c == 0x7F) return QStringLiteral("the name holds control characters");
    if (name.startsWith('/')) return QStringLiteral("the name is an absolute path");
    if (name.contains('\\')) return QStringLiteral("the name holds a backslash");
    for (const QByteArray &part : name.split('/')) {
        if (part == "..") return QStringLiteral("the name climbs out with \"..\"");
        if (part.isEmpty() || part == ".") return QStringLiteral("the name has an empty or \".\" component");
    }
    if (QString::fromUtf8(name).toUtf8() != name) return QStringLiteral("the name is not UTF-8");
    return QString();
}

QString FilesBlock::printable(const QByteArray &name)
{
    // Control characters and stray bytes must not reach a terminal as they are.
    QString out;
    const QString text = QString::fromUtf8(name);
    const bool utf8 = text.toUtf8() == name;
    if (utf8) {
        for (QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\'))
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
        return out;
    }
    for (char c : name) {
        const quint8 b = quint8(c);
        if (b < 0x20 || b >= 0x7F || c == '\\')
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}
