#include "projectbuilder.h"

#include "bootparser.h"
#include "certificateparser.h"
#include "console.h"
#include "fileparser.h"
#include "hardwareparser.h"
#include "intelhexwriter.h"
#include "replacedfile.h"
#include "scriptingparser.h"
#include "softwareparser.h"
#include "usbparser.h"
#include "xmlfile.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>

namespace
{

// Offsets of the section records in the table.
const int FilesRecord = imagelayout::recordOffsetInTable(imagelayout::Files);
const int CertificatesRecord = imagelayout::recordOffsetInTable(imagelayout::Certificates);
const int ScriptRecord = imagelayout::recordOffsetInTable(imagelayout::Script);
const int UsbRecord = imagelayout::recordOffsetInTable(imagelayout::Usb);
const int HardwareRecord = imagelayout::recordOffsetInTable(imagelayout::Hardware);
const int SoftwareRecord = imagelayout::recordOffsetInTable(imagelayout::Software);
const int VersionWord = imagelayout::versionOffsetInTable;

void putWord(QByteArray &bytes, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

void notEnoughFlash(Console &console, qint64 required)
{
    console.out(QStringLiteral("Error, not enough flash."));
    console.out(QStringLiteral("required:") + QString::number(required));
    console.out(QStringLiteral("Flash   :") + QString::number(ProjectBuilder::FlashSize));
}

// The path a file is known by whatever way it is named: links resolved, for a file not yet there
// through its folder.
QString canonicalPath(const QString &path)
{
    const QFileInfo info(path);
    const QString existing = info.canonicalFilePath();
    if (!existing.isEmpty()) return existing;
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : folder + '/' + info.fileName();
}

// An output that is also an input of the run, or the other output, would replace it: refused.
bool outputsClash(Console &console, const QString &out, const QString &outHex, const QStringList &inputs)
{
    const QString dfu = canonicalPath(out);
    const QString hex = canonicalPath(outHex);
    if (dfu == hex) {
        console.err(QStringLiteral("Output file named twice:") + out);
        return true;
    }
    for (const QString &input : inputs) {
        if (input.isEmpty()) continue;
        const QString in = canonicalPath(input);
        if (in == dfu || in == hex) {
            console.err(QStringLiteral("Output file is also an input:") + (in == dfu ? out : outHex));
            return true;
        }
    }
    return false;
}

} // namespace

ProjectBuilder::ProjectBuilder(Console &console) : m_console(console) {}

void ProjectBuilder::setRecord(int recordOffset, quint32 location, const QByteArray &block)
{
    putWord(m_table, recordOffset, location);
    putWord(m_table, recordOffset + 4, quint32(block.size()));
    putWord(m_table, recordOffset + 8, imagelayout::crc32Of(block));
}

void ProjectBuilder::place(const QByteArray &block, int recordOffset)
{
    setRecord(recordOffset, quint32(m_offset), block);
    // A block that runs past the flash is not copied; the fit check after all blocks refuses the build.
    if (m_offset + block.size() <= FlashSize)
        std::memcpy(m_flash.data() + m_offset, block.constData(), size_t(block.size()));
    m_offset = (m_offset + block.size() + 3) & ~qint64(3);
}

bool ProjectBuilder::storeFallbackSettings(QByteArray &bootImage, const QByteArray &hardware)
{
    const int h = hardware.size();
    const int first = FallbackEnd - h;
    bool erased = first >= 0 && bootImage.size() >= FallbackEnd + 4;
    for (int i = qMax(first, 0); erased && i < FallbackEnd + 4; ++i)
        erased = quint8(bootImage.at(i)) == 0xFF;
    if (!erased) return false;
    const int at = first & ~3;
    bootImage.replace(at, h, hardware);
    putWord(bootImage, FallbackEnd, quint32((h + 3) & ~3));
    return true;
}

IntelHexWriter ProjectBuilder::intelHex(const QByteArray &bootImage, const QByteArray &flashImage)
{
    IntelHexWriter hex;
    hex.reserve(IntelHexWriter::maxRegionLength(BootFlashBase + BootConfigOffset, 16) +
                IntelHexWriter::maxRegionLength(BootFlashBase, BootConfigOffset) +
                IntelHexWriter::maxRegionLength(FlashBase, flashImage.size()) + IntelHexWriter::EndLength);
    hex.addRegion(BootFlashBase + BootConfigOffset, bootImage.constData() + BootConfigOffset, 16);
    hex.addRegion(BootFlashBase, bootImage.constData(), BootConfigOffset);
    hex.addRegion(FlashBase, flashImage.constData(), flashImage.size());
    hex.finish();
    return hex;
}

bool ProjectBuilder::printMemoryReport(Console &console, const Sizes &sizes)
{
    console.out(QStringLiteral("Memory used:"));
    console.out(QStringLiteral("SW    :") + QString::number(sizes.software));
    console.out(QStringLiteral("HW    :") + QString::number(sizes.hardware));
    console.out(QStringLiteral("USB   :") + QString::number(sizes.usb));
    console.out(QStringLiteral("Script:") + QString::number(sizes.script));
    console.out(QStringLiteral("Files :") + QString::number(sizes.files));
    console.out(QStringLiteral("Certs :") + QString::number(sizes.certificates));
    const qint64 total = sizes.total();
    if (total > FlashSize) {
        notEnoughFlash(console, total);
        return false;
    }
    // The free share in whole percent, halves rounded up: 2560 is half a percent of the flash.
    const qint64 percent = ((FlashSize + 2560 - total) * 100) / FlashSize;
    console.out(QStringLiteral("Free  :") + QString::number(FlashSize - total) + '/' +
                QString::number(FlashSize) + '(' + QString::number(percent) + QStringLiteral("%)"));
    return true;
}

int ProjectBuilder::writeImages(Console &console, const QString &out, const QString &outHex,
                                const QByteArray &hexText, const QByteArray &flash)
{
    // Both files are replaced together only once the build has succeeded, so a failed build leaves
    // the previous pair as it was.
    ReplacedFile hexFile(outHex);
    ReplacedFile dfuFile(out);
    if (!hexFile.open()) {
        console.err(QStringLiteral("Unable to open:") + outHex);
        return 1;
    }
    if (!dfuFile.open()) {
        console.err(QStringLiteral("Unable to open:") + out);
        return 1;
    }
    const bool hexWritten = hexFile.write(hexText);
    if (!hexWritten || !dfuFile.write(flash)) {
        console.err(QStringLiteral("Unable to write:") + outHex + QStringLiteral(", ") + out +
                    QStringLiteral(": ") + (hexWritten ? dfuFile : hexFile).errorString());
        return 1;
    }
    if (!hexFile.commit()) {
        console.err(QStringLiteral("Unable to write:") + outHex + QStringLiteral(": ") +
                    hexFile.errorString());
        return 1;
    }
    if (!dfuFile.commit()) {
        console.err(QStringLiteral("Unable to write:") + out + QStringLiteral(": ") + dfuFile.errorString());
        return 1;
    }
    return 0;
}

void ProjectBuilder::placeUsb(const QByteArray &block)
{
    // Directly below the table; a block too large for that is refused by the fit check.
    const qint64 at = TableOffset - block.size();
    if (at >= 0) std::memcpy(m_flash.data() + at, block.constData(), size_t(block.size()));
    setRecord(UsbRecord, quint32(CachedFlashBase + at), block);
}

int ProjectBuilder::buildProject(const QString &input, const QString &compilerPath, const QString &sdkRoot)
{
    m_flash = LargeBuffer(FlashSize);
    std::memset(m_flash.data(), 0xFF, FlashSize);
    m_boot.clear();
    m_table = QByteArray(TableSize, '\0');
    m_offset = 0;

    QDomDocument project;
    if (XmlFile::load(input, QStringLiteral("project"), project, m_console, XmlFile::DocumentType) !=
        XmlFile::Loaded)
        return 1;
    const QDomElement top = project.documentElement();

    // The names are known before anything runs, so a clash is refused before the compiler writes
    // its report; the inputs the sections name are checked once they are all known.
    const QDomElement image = top.firstChildElement(QStringLiteral("image"));
    const QString out = image.attribute(QStringLiteral("out"), QStringLiteral("wifi.dfu"));
    const QString outHex = image.attribute(QStringLiteral("out_hex"), QStringLiteral("wifi.hex"));
    QStringList inputs{input, QLatin1String(ScriptingParser::ReportName),
                       QLatin1String(ScriptingParser::ListingName)};
    if (outputsClash(m_console, out, outHex, inputs)) return 1;

    SoftwareParser software(m_console, sdkRoot);
    HardwareParser hardware(m_console);
    ScriptingParser scripting(m_console, compilerPath, sdkRoot);
    FileParser files(m_console);
    CertificateParser certificates(m_console);
    BootParser boot(m_console, sdkRoot);
    Sizes sizes;
    QByteArray hardwareBlock;
    // In this order; the first five blocks follow each other in the flash, the bootloader's is the
    // boot flash image.
    struct Section {
        const char *name;
        BaseParser &parser;
        int record; // -1: not placed
        qint64 *size;
        QByteArray *keep;
        bool blankLineAfter;
    } const sections[] = {
        {"software", software, SoftwareRecord, &sizes.software, nullptr, false},
        {"hardware", hardware, HardwareRecord, &sizes.hardware, &hardwareBlock, false},
        {"scripting", scripting, ScriptRecord, &sizes.script, nullptr, true},
        {"files", files, FilesRecord, &sizes.files, nullptr, true},
        {"certificates", certificates, CertificatesRecord, &sizes.certificates, nullptr, false},
        {"bootloader", boot, -1, nullptr, &m_boot, false},
    };
    for (const Section &s : sections) {
        QByteArray block;
        if (!s.parser.parse(top.firstChildElement(QLatin1String(s.name)), block)) return 1;
        inputs << s.parser.inputs();
        if (s.blankLineAfter) m_console.out(QString());
        if (s.record >= 0) {
            place(block, s.record);
            *s.size = block.size();
        }
        if (s.keep) *s.keep = block;
    }
    const qint64 forwardEnd = m_offset;

    const QString usbPath = hardware.usbDescriptorPath();
    if (!usbPath.isEmpty()) {
        QDomDocument usbFile;
        if (XmlFile::load(usbPath, QStringLiteral("usb"), usbFile, m_console) != XmlFile::Loaded) return 1;
        USBParser usb(m_console);
        QByteArray block;
        if (!usb.parse(usbFile.documentElement(), block)) return 1;
        inputs << usbPath << usb.inputs();
        placeUsb(block);
        sizes.usb = block.size();
    }
    if (outputsClash(m_console, out, outHex, inputs)) return 1;

    if (!storeFallbackSettings(m_boot, hardwareBlock))
        m_console.out(QStringLiteral("Warning, not enough space in bootloader for fallback settings."));

    putWord(m_table, VersionWord, LayoutVersion);
    std::memcpy(m_flash.data() + TableOffset, m_table.constData(), TableSize);
    const QByteArray flash = flashImage();
    const IntelHexWriter hex = intelHex(m_boot, flash);

    m_console.out(QString());
    if (!printMemoryReport(m_console, sizes)) return -1;
    // The raw sizes may fit while the padded blocks run into the USB block or the table.
    const qint64 layoutEnd = forwardEnd + sizes.usb + TableSize;
    if (layoutEnd > FlashSize) {
        notEnoughFlash(m_console, layoutEnd);
        return -1;
    }
    return writeImages(m_console, out, outHex, hex.text(), flash);
}
