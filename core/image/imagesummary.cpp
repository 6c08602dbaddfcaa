#include "imagesummary.h"

#include "certblock.h"
#include "filesblock.h"
#include "imagefile.h"
#include "imagesections.h"
#include "scripttables.h"

#include <QFileInfo>

using namespace imagelayout;

ImageSummary ImageSummary::of(const QString &path, const ScriptApi *api)
{
    ImageSummary s;
    s.name = QFileInfo(path).fileName();
    const ImageFile image = ImageFile::fromFile(path);
    if (!image.readable) {
        s.verdict = image.problems.value(0, QStringLiteral("nothing could be read"));
        return s;
    }
    const ImageSections t = ImageSections::read(image.flash);
    s.accepted = t.softwareCheck.isEmpty();
    QStringList problems = image.problems + t.allProblems();
    if (!s.accepted) problems.prepend(t.softwareCheck);
    s.verdict = problems.isEmpty() ? QStringLiteral("valid") : problems.first();
    if (!t.tableRead) return s;
    auto size = [&](Record r) { return t.section(r).usable() ? qint64(t.section(r).stored.length) : -1; };
    s.software = size(Software);
    s.hardware = size(Hardware);
    s.script = size(Script);
    s.files = size(Files);
    s.certificates = size(Certificates);
    s.usb = size(Usb);
    s.fileCount = FilesBlock::read(t.block(image.flash, Files)).files.size();
    const QByteArray script = t.block(image.flash, Script);
    if (script.size() > 8) s.events = ScriptTables::read(script.mid(8), api).handledEvents();
    for (const StoredCertificate &c :
         CertificatesBlock::read(t.block(image.flash, Certificates)).certificates)
        s.certificateSubjects.append(c.decoded ? c.subject : QStringLiteral("(undecodable)"));
    return s;
}

QString ImageSummary::oneLine() const
{
    QString line = name + QStringLiteral(": ") + verdict;
    if (software >= 0)
        line += QStringLiteral("; software %1 bytes, script %2 bytes (%3 events), %4 files, %5 certificates")
                    .arg(software)
                    .arg(qMax<qint64>(script, 0))
                    .arg(events.size())
                    .arg(fileCount)
                    .arg(certificateSubjects.size());
    return line;
}

QStringList ImageSummary::lines() const
{
    QStringList out;
    if (!accepted)
        out << QStringLiteral("Not accepted: ") + verdict;
    else if (verdict == QLatin1String("valid"))
        out << QStringLiteral("Valid image");
    else
        out << QStringLiteral("Accepted, but ") + verdict;
    if (software < 0) return out;
    auto bytes = [](qint64 n) { return n < 0 ? QStringLiteral("none") : QStringLiteral("%1 bytes").arg(n); };
    out << QStringLiteral("Software %1, hardware %2, USB %3")
               .arg(bytes(software), bytes(hardware), bytes(usb));
    out << QStringLiteral("Script %1, events: %2")
               .arg(bytes(script),
                    events.isEmpty() ? QStringLiteral("none") : events.join(QStringLiteral(", ")));
    out << QStringLiteral("Files %1 (%2), certificates %3 (%4)")
               .arg(bytes(files))
               .arg(fileCount)
               .arg(bytes(certificates))
               .arg(certificateSubjects.isEmpty() ? QStringLiteral("none")
                                                  : certificateSubjects.join(QStringLiteral("; ")));
    return out;
}
