#include "inspection.h"

#include "certblock.h"
#include "disassembler.h"
#include "filesblock.h"
#include "hardwareview.h"
#include "imagelayout.h"
#include "scriptapi.h"
#include "usbview.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>
#include <QSet>
#include <cmath>

using namespace imagelayout;

namespace
{

QString hex(quint32 v, int width = 0)
{
    return QStringLiteral("0x%1").arg(v, width, 16, QLatin1Char('0'));
}

// Nested JSON as indented "key: value" lines.
void render(const QJsonValue &v, const QString &indent, QStringList &out, const QString &key = QString())
{
    const QString lead = indent + (key.isEmpty() ? QString() : key + QStringLiteral(": "));
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        if (!key.isEmpty()) out.append(indent + key + QLatin1Char(':'));
        const QString inner = key.isEmpty() ? indent : indent + QStringLiteral("  ");
        for (auto it = o.begin(); it != o.end(); ++it)
            render(it.value(), inner, out, it.key());
    } else if (v.isArray()) {
        const QJsonArray a = v.toArray();
        if (a.isEmpty()) {
            out.append(lead + QStringLiteral("none"));
            return;
        }
        if (!key.isEmpty()) out.append(indent + key + QLatin1Char(':'));
        for (const QJsonValue &e : a) {
            if (e.isObject()) {
                QStringList item;
                render(e, indent + QStringLiteral("    "), item);
                if (!item.isEmpty())
                    item[0] = indent + QStringLiteral("  - ") + item[0].mid(indent.size() + 4);
                out += item;
            } else {
                render(e, indent + QStringLiteral("  - "), out);
            }
        }
    } else if (v.isBool()) {
        out.append(lead + (v.toBool() ? QStringLiteral("true") : QStringLiteral("false")));
    } else if (v.isDouble()) {
        out.append(lead + QString::number(qint64(v.toDouble())));
    } else {
        out.append(lead + v.toString());
    }
}

QJsonObject bootConfiguration(const QByteArray &boot, const QByteArray &hardware)
{
    QJsonObject o;
    const auto word = [&](int at) { return readLe32(boot, at); };
    o.insert("configuration_words", QStringLiteral("%1 %2 %3 %4")
                                        .arg(hex(word(0x2FF0), 8), hex(word(0x2FF4), 8), hex(word(0x2FF8), 8),
                                             hex(word(0x2FFC), 8)));
    static const int crystals[] = {4, 8, 12, 16, 20, 24, 40, 48};
    const int pll = quint8(boot[0x2FF4]) & 7, usbPll = quint8(boot[0x2FF5]) & 7;
    const int wdtps = quint8(boot[0x2FFA]) & 0x1F;
    o.insert("oscillator", crystals[pll]);
    if (usbPll != pll) o.insert("usb_oscillator", crystals[usbPll]);
    o.insert("WDTPS", wdtps);
    o.insert("watchdog_period",
             QString::number(std::pow(2.0, wdtps) / 1000.0, 'f', 3) + QStringLiteral(" s"));
    o.insert("default_mac", QString::fromLatin1(boot.mid(0x502, 6).toHex()));
    // The fallback copy of the hardware block: its rounded length at 0x2efc, the copy below it.
    const quint32 length = word(0x2EFC);
    if (length == 0xFFFFFFFF) {
        o.insert("fallback_hardware", "none");
    } else if (length > 0x2EFC) {
        o.insert("fallback_hardware",
                 QStringLiteral("length word %1 does not fit the boot flash").arg(length));
    } else {
        const QByteArray copy = boot.mid(int(0x2EFC - length), int(length));
        const bool same = !hardware.isEmpty() && copy.startsWith(hardware);
        o.insert("fallback_hardware", QStringLiteral("%1 bytes, %2")
                                          .arg(length)
                                          .arg(same ? QStringLiteral("equal to the hardware section")
                                                    : QStringLiteral("different from the hardware section")));
    }
    return o;
}

QString printableText(const QString &s)
{
    QString out;
    for (QChar c : s)
        out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar('?') : c;
    return out;
}

} // namespace

Inspection Inspection::of(const ImageFile &image, const ScriptApi *api, bool codeInJson)
{
    Inspection r;
    r.image = image;
    r.problems = image.problems;
    QJsonObject &j = r.json;
    QStringList &t = r.text;
    j.insert("file", image.name);
    j.insert("format", image.hex ? "hex" : "raw");
    t << QStringLiteral("Image %1 (%2)")
             .arg(printableText(image.name),
                  image.hex ? QStringLiteral("Intel HEX of boot and program flash")
                            : QStringLiteral("raw program flash image, %1 bytes").arg(image.flash.size()));
    if (!image.readable) {
        j.insert("problems", QJsonArray::fromStringList(r.problems));
        t << QStringLiteral("Problems:");
        for (const QString &p : r.problems)
            t << QStringLiteral("  ") + p;
        return r;
    }
    r.table = ImageSections::read(image.flash);
    const ImageSections &s = r.table;
    r.accepted = s.softwareCheck.isEmpty();
    r.problems += s.allProblems();
    j.insert("accepted", r.accepted);
    if (!r.accepted) j.insert("refused", s.softwareCheck);
    t << (r.accepted ? QStringLiteral("Upload check: the software block and its CRC-32 check out")
                     : QStringLiteral("Upload check: refused: ") + s.softwareCheck);
    if (s.tableRead) {
        j.insert("layout_version", double(s.version));
        QJsonArray sections;
        t << QStringLiteral("Sections (layout version %1):").arg(s.version);
        t << QStringLiteral("  %1 %2 %3 %4 %5")
                 .arg(QStringLiteral("kind"), -13)
                 .arg(QStringLiteral("location"), -29)
                 .arg(QStringLiteral("length"), 8)
                 .arg(QStringLiteral("CRC-32"), -11)
                 .arg(QStringLiteral("state"));
        for (const ImageSection &e : s.sections) {
            QJsonObject o{{"kind", e.name}, {"present", e.present}};
            QString location = QStringLiteral("-"), state;
            if (e.present) {
                o.insert("location", double(e.stored.location));
                o.insert("length", double(e.stored.length));
                o.insert("crc", hex(e.stored.crc, 8));
                if (e.offset >= 0) o.insert("offset", double(e.offset));
                o.insert("crc_ok", e.crcMatches());
                location = e.record == Usb
                               ? QStringLiteral("%1 (offset %2)").arg(hex(e.stored.location, 8)).arg(e.offset)
                               : QString::number(e.stored.location);
                state = e.problems.isEmpty() ? QStringLiteral("ok") : e.problems.join(QStringLiteral("; "));
            } else {
                state = QStringLiteral("absent");
            }
            if (!e.problems.isEmpty()) o.insert("problems", QJsonArray::fromStringList(e.problems));
            sections.append(o);
            t << QStringLiteral("  %1 %2 %3 %4 %5")
                     .arg(e.name, -13)
                     .arg(location, -29)
                     .arg(e.present ? QString::number(e.stored.length) : QStringLiteral("-"), 8)
                     .arg(e.present ? hex(e.stored.crc, 8) : QStringLiteral("-"), -11)
                     .arg(state);
        }
        j.insert("sections", sections);

        const QByteArray hardware = s.block(image.flash, Hardware);
        if (s.section(Hardware).usable()) {
            const QJsonObject hw = decodeHardware(hardware);
            j.insert("hardware", hw);
            t << QStringLiteral("Hardware:");
            render(hw, QStringLiteral("  "), t);
        }
        if (s.section(Usb).usable()) {
            const QJsonObject usb = decodeUsb(s.block(image.flash, Usb));
            if (usb.contains("problem"))
                r.problems << QStringLiteral("usb: ") + usb.value("problem").toString();
            j.insert("usb", usb);
            t << QStringLiteral("USB descriptors:");
            render(usb, QStringLiteral("  "), t);
        }
        if (s.section(Files).usable()) {
            const FilesBlock files = FilesBlock::read(s.block(image.flash, Files));
            QJsonArray list;
            t << QStringLiteral("Files:");
            for (const StoredFile &f : files.files) {
                QJsonObject o{{"name", FilesBlock::printable(f.name)}, {"size", double(f.size)}};
                if (!f.unsafeReason.isEmpty()) {
                    o.insert("unsafe", f.unsafeReason);
                    r.problems << QStringLiteral("files: \"%1\": %2")
                                      .arg(FilesBlock::printable(f.name), f.unsafeReason);
                }
                list.append(o);
                // One arg() call: a name holding "%2" must not take the next value's place.
                t << QStringLiteral("  /%1  %2 bytes%3")
                         .arg(FilesBlock::printable(f.name), QString::number(f.size),
                              f.unsafeReason.isEmpty()
                                  ? QString()
                                  : QStringLiteral("  (") + f.unsafeReason + QLatin1Char(')'));
            }
            if (files.files.isEmpty()) t << QStringLiteral("  none");
            for (const QString &p : files.problems)
                r.problems << QStringLiteral("files: ") + p;
            j.insert("files", list);
        }
        if (s.section(Certificates).usable()) {
            const CertificatesBlock certs = CertificatesBlock::read(s.block(image.flash, Certificates));
            QJsonArray list;
            t << QStringLiteral("Certificates:");
            int n = 0;
            for (const StoredCertificate &c : certs.certificates) {
                QJsonObject o{{"md5", QString::fromLatin1(c.storedMd5.toHex())},
                              {"md5_matches", c.md5Matches},
                              {"der_length", c.der.size()}};
                t << QStringLiteral("  %1. %2 bytes of DER, MD5 %3 (%4)")
                         .arg(++n)
                         .arg(c.der.size())
                         .arg(QString::fromLatin1(c.storedMd5.toHex()),
                              c.md5Matches ? QStringLiteral("matches the DER")
                                           : QStringLiteral("does not match the DER"));
                if (!c.md5Matches)
                    r.problems
                        << QStringLiteral(
                               "certificates: the MD5 stored for certificate %1 does not match its DER")
                               .arg(n);
                if (c.decoded) {
                    o.insert("subject", c.subject);
                    o.insert("issuer", c.issuer);
                    o.insert("not_before", c.notBefore);
                    o.insert("not_after", c.notAfter);
                    t << QStringLiteral("     subject: ") + c.subject
                      << QStringLiteral("     issuer:  ") + c.issuer
                      << QStringLiteral("     valid:   %1 to %2").arg(c.notBefore, c.notAfter);
                } else {
                    r.problems << QStringLiteral(
                                      "certificates: certificate %1 is not a readable X.509 certificate")
                                      .arg(n);
                    t << QStringLiteral("     (not a readable X.509 certificate)");
                }
                list.append(o);
            }
            if (certs.certificates.isEmpty()) t << QStringLiteral("  none");
            for (const QString &p : certs.problems)
                r.problems << QStringLiteral("certificates: ") + p;
            j.insert("certificates", list);
        }
        if (image.hex) {
            const QJsonObject boot = bootConfiguration(image.boot, hardware);
            j.insert("boot", boot);
            t << QStringLiteral("Boot flash:");
            render(boot, QStringLiteral("  "), t);
        }
        if (s.section(Script).usable()) {
            const QByteArray block = s.block(image.flash, Script);
            QJsonObject script;
            if (block.size() < 8) {
                r.problems << QStringLiteral("script: the block is %1 bytes, shorter than its 8-byte header")
                                  .arg(block.size());
            } else {
                const QByteArray code = block.mid(8);
                script.insert("stack", double(readLe32(block, 0)));
                script.insert("variables", double(readLe32(block, 4)));
                script.insert("code_length", code.size());
                t << QStringLiteral("Script: stack %1, variable memory %2, %3 bytes of byte code")
                         .arg(readLe32(block, 0))
                         .arg(readLe32(block, 4))
                         .arg(code.size());
                if (!code.isEmpty()) {
                    const Disassembly d = disassemble(code, api);
                    QJsonArray events;
                    QSet<QString> seen;
                    t << QStringLiteral("  Events:");
                    for (const ScriptTables::EventEntry &e : d.tables.events) {
                        if (seen.contains(e.name)) continue;
                        seen.insert(e.name);
                        events.append(QJsonObject{
                            {"name", e.name},
                            {"handler", e.handler == 0xFFFF ? QJsonValue() : QJsonValue(int(e.handler))}});
                        if (e.handler != 0xFFFF)
                            t << QStringLiteral("    %1 at %2").arg(e.name, hex(e.handler, 4));
                    }
                    t << QStringLiteral("    (%1 events, %2 with a handler)")
                             .arg(seen.size())
                             .arg(d.tables.handledEvents().size());
                    script.insert("events", events);
                    if (codeInJson) script.insert("code", d.json());
                    t << QStringLiteral("  Code:");
                    for (const QString &line : d.text())
                        t << QStringLiteral("  ") + line;
                    for (const QString &p : d.problems)
                        r.problems << QStringLiteral("script: ") + p;
                }
            }
            j.insert("script", script);
        }
    }
    j.insert("problems", QJsonArray::fromStringList(r.problems));
    if (!r.problems.isEmpty()) {
        t << QStringLiteral("Problems:");
        for (const QString &p : r.problems)
            t << QStringLiteral("  ") + p;
    }
    return r;
}

bool extractFiles(const ImageFile &image, const QString &dir, QStringList &messages)
{
    const ImageSections s = ImageSections::read(image.flash);
    if (!s.tableRead || !s.section(Files).usable()) {
        messages << QStringLiteral("the image has no readable files section");
        return false;
    }
    const QByteArray block = s.block(image.flash, Files);
    const FilesBlock files = FilesBlock::read(block);
    bool ok = files.problems.isEmpty();
    for (const QString &p : files.problems)
        messages << QStringLiteral("files section: ") + p;
    if (!QDir().mkpath(dir)) {
        messages << QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    const QString root = QFileInfo(dir).canonicalFilePath();
    for (const StoredFile &f : files.files) {
        const QString shown = FilesBlock::printable(f.name);
        if (!f.unsafeReason.isEmpty()) {
            messages << QStringLiteral("refused \"%1\": %2").arg(shown, f.unsafeReason);
            ok = false;
            continue;
        }
        const QString name = QString::fromUtf8(f.name);
        const QString target = root + QLatin1Char('/') + name;
        const QString parent = QFileInfo(target).path();
        // A folder that is a link could still lead outside: the parent's real path must stay below.
        if (!QDir().mkpath(parent)) {
            messages << QStringLiteral("refused \"%1\": cannot create its folder").arg(shown);
            ok = false;
            continue;
        }
        const QString realParent = QFileInfo(parent).canonicalFilePath();
        if (realParent != root && !realParent.startsWith(root + QLatin1Char('/'))) {
            messages << QStringLiteral("refused \"%1\": its folder leads outside %2").arg(shown, dir);
            ok = false;
            continue;
        }
        const QFileInfo existing(target);
        if (existing.isSymLink() || (existing.exists() && !existing.isFile())) {
            messages << QStringLiteral("refused \"%1\": something that is not a regular file is in its place")
                            .arg(shown);
            ok = false;
            continue;
        }
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(block.constData() + f.offset, f.size) != qint64(f.size) || !out.commit()) {
            messages << QStringLiteral("cannot write %1: %2").arg(target, out.errorString());
            ok = false;
            continue;
        }
        messages << QStringLiteral("%1 (%2 bytes)").arg(target).arg(f.size);
    }
    return ok;
}

namespace
{

// Side by side where two listings differ, with three lines of context: common lines at both ends are
// set aside first, the middle is aligned by its longest common subsequence when that is small enough to
// compute, and changed lines are paired.
QStringList sideBySide(const QStringList &a, const QStringList &b)
{
    struct Op {
        QChar mark;
        QString left, right;
    };
    int head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    int tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const QStringList x = a.mid(head, a.size() - head - tail), y = b.mid(head, b.size() - head - tail);
    QVector<Op> ops;
    for (int i = 0; i < head; ++i)
        ops.append({QLatin1Char(' '), a[i], a[i]});
    QVector<Op> changed;
    auto flush = [&] {
        // Removed and added lines side by side, the surplus on its own side.
        QStringList left, right;
        for (const Op &o : changed)
            (o.mark == QLatin1Char('<') ? left : right).append(o.mark == QLatin1Char('<') ? o.left : o.right);
        for (int i = 0; i < qMax(left.size(), right.size()); ++i)
            ops.append({i < left.size() && i < right.size() ? QLatin1Char('|')
                        : i < left.size()                   ? QLatin1Char('<')
                                                            : QLatin1Char('>'),
                        left.value(i), right.value(i)});
        changed.clear();
    };
    if (qint64(x.size()) * y.size() > 4000000) {
        for (const QString &l : x)
            changed.append({QLatin1Char('<'), l, QString()});
        for (const QString &r : y)
            changed.append({QLatin1Char('>'), QString(), r});
    } else {
        std::vector<std::vector<int>> lcs(size_t(x.size() + 1), std::vector<int>(size_t(y.size() + 1), 0));
        for (int i = x.size() - 1; i >= 0; --i)
            for (int k = y.size() - 1; k >= 0; --k)
                lcs[i][k] = x[i] == y[k] ? lcs[i + 1][k + 1] + 1 : qMax(lcs[i + 1][k], lcs[i][k + 1]);
        int i = 0, k = 0;
        while (i < x.size() || k < y.size()) {
            if (i < x.size() && k < y.size() && x[i] == y[k]) {
                flush();
                ops.append({QLatin1Char(' '), x[i++], y[k++]});
            } else if (k < y.size() && (i == x.size() || lcs[i][k + 1] >= lcs[i + 1][k])) {
                changed.append({QLatin1Char('>'), QString(), y[k++]});
            } else {
                changed.append({QLatin1Char('<'), x[i++], QString()});
            }
        }
    }
    flush();
    for (int i = a.size() - tail; i < a.size(); ++i)
        ops.append({QLatin1Char(' '), a[i], a[i]});

    const int width = 40, context = 3;
    QStringList out;
    out << QStringLiteral("  %1   %2")
               .arg(QStringLiteral("first image"), -width)
               .arg(QStringLiteral("second image"));
    int lastShown = -1;
    for (int i = 0; i < ops.size(); ++i) {
        bool near = false;
        for (int k = qMax(0, i - context); k <= qMin(ops.size() - 1, i + context) && !near; ++k)
            near = ops[k].mark != QLatin1Char(' ');
        if (!near) continue;
        if (lastShown >= 0 && i > lastShown + 1) out << QStringLiteral("  ...");
        out << QStringLiteral("  %1 %2 %3")
                   .arg(ops[i].left.left(width), -width)
                   .arg(ops[i].mark)
                   .arg(ops[i].right.left(width));
        lastShown = i;
    }
    return out;
}

} // namespace

ImageDiff diffImages(const ImageFile &a, const ImageFile &b, const ScriptApi *api)
{
    ImageDiff d;
    const ImageSections sa = ImageSections::read(a.flash), sb = ImageSections::read(b.flash);
    if (!sa.tableRead || !sb.tableRead) {
        d.differing << QStringLiteral("table");
        d.text << QStringLiteral("the section table of %1 cannot be read")
                      .arg(printableText(!sa.tableRead ? a.name : b.name));
        return d;
    }
    for (int i = 0; i < RecordCount; ++i) {
        const Record r = Record(i);
        const ImageSection &x = sa.section(r), &y = sb.section(r);
        const QByteArray bx = sa.block(a.flash, r), by = sb.block(b.flash, r);
        // Blocks compare by content: a block that only moved because an earlier one grew is the same.
        if (x.present == y.present && x.usable() == y.usable() && bx == by &&
            x.crcMatches() == y.crcMatches())
            continue;
        d.differing << x.name;
        d.text << QStringLiteral("%1 differs: %2 bytes, %3 bytes")
                      .arg(x.name)
                      .arg(x.present ? x.stored.length : 0)
                      .arg(y.present ? y.stored.length : 0);
        if (r == Script && bx.size() >= 8 && by.size() >= 8) {
            if (bx.left(8) != by.left(8))
                d.text << QStringLiteral("  stack/variables: %1/%2, %3/%4")
                              .arg(readLe32(bx, 0))
                              .arg(readLe32(bx, 4))
                              .arg(readLe32(by, 0))
                              .arg(readLe32(by, 4));
            d.text += sideBySide(disassemble(bx.mid(8), api).comparable(),
                                 disassemble(by.mid(8), api).comparable());
        }
    }
    if (a.hex && b.hex && a.boot != b.boot) {
        d.differing << QStringLiteral("boot");
        d.text << QStringLiteral("boot flash differs");
    } else if (a.hex != b.hex) {
        d.text << QStringLiteral("(only one of the two files holds the boot flash; it is not compared)");
    }
    return d;
}
