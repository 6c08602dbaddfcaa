#include "projectbuilder.h"

#include "bootparser.h"
#include "certificateparser.h"
#include "console.h"
#include "fileparser.h"
#include "hardwareparser.h"
#include "intelhexwriter.h"
#include "scriptingparser.h"
#include "sdkroot.h"
#include "softwareparser.h"
#include "usbparser.h"
#include "xmlfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>
#include <fcntl.h>
#include <zlib.h>

namespace
{

// Offsets of the section records in the table.
const int FilesRecord = 0;
const int CertificatesRecord = 12;
const int ScriptRecord = 24;
const int UsbRecord = 36;
const int HardwareRecord = 48;
const int SoftwareRecord = 60;
const int VersionWord = 72;

void putWord(QByteArray &bytes, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

quint32 crcOf(const QByteArray &block)
{
    return quint32(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(block.constData()), uInt(block.size())));
}

void notEnoughFlash(Console &console, qint64 required)
{
    console.out(QStringLiteral("Error, not enough flash."));
    console.out(QStringLiteral("required:") + QString::number(required));
    console.out(QStringLiteral("Flash   :") + QString::number(ProjectBuilder::FlashSize));
}

// Writes all bytes. A short write is continued, so that when the disk is full the failing write
// leaves the system's reason in the file's error string.
bool writeAll(QSaveFile &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Starts writing a finished file's pages to disk, so that the flushes in the commits overlap with the
// rest of the writing instead of running one after the other.
void startWriteback(QSaveFile &file)
{
    file.flush();
#ifdef SYNC_FILE_RANGE_WRITE
    sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
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
    putWord(m_table, recordOffset + 8, crcOf(block));
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

int ProjectBuilder::buildProject(const QString &input, const QString &compilerPath, const QString &root)
{
    setSdkRoot(root);
    m_flash = LargeBuffer(FlashSize);
    std::memset(m_flash.data(), 0xFF, FlashSize);
    m_boot.clear();
    m_table = QByteArray(TableSize, '\0');
    m_offset = 0;
    QString out = QStringLiteral("wifi.dfu");
    QString outHex = QStringLiteral("wifi.hex");

    QDomDocument project;
    if (XmlFile::load(input, project, m_console) != XmlFile::Loaded) return 1;
    const QDomElement top = project.documentElement();
    if (top.tagName() != QLatin1String("project")) {
        m_console.err(QStringLiteral("Do not know how to parse document type:") + top.tagName());
        return 1;
    }
    auto section = [&top](const char *name) { return top.firstChildElement(QLatin1String(name)); };

    // The names are known before anything runs, so a clash is refused before the compiler writes
    // its report; the inputs the sections name are checked once they are all known.
    const QDomElement image = section("image");
    if (!image.isNull()) {
        out = image.attribute(QStringLiteral("out"), out);
        outHex = image.attribute(QStringLiteral("out_hex"), outHex);
    }
    QStringList inputs{input, QLatin1String(ScriptingParser::ReportName),
                       QLatin1String(ScriptingParser::ListingName)};
    if (outputsClash(m_console, out, outHex, inputs)) return 1;

    Sizes sizes;
    QByteArray block;
    SoftwareParser software(m_console);
    if (!software.parse(section("software"), block)) return 1;
    place(block, SoftwareRecord);
    sizes.software = block.size();

    HardwareParser hardware(m_console);
    QByteArray hardwareBlock;
    if (!hardware.parse(section("hardware"), hardwareBlock)) return 1;
    place(hardwareBlock, HardwareRecord);
    sizes.hardware = hardwareBlock.size();

    ScriptingParser scripting(m_console, compilerPath);
    block.clear();
    if (!scripting.parse(section("scripting"), block)) return 1;
    m_console.out(QString());
    place(block, ScriptRecord);
    sizes.script = block.size();

    FileParser files(m_console);
    block.clear();
    if (!files.parse(section("files"), block)) return 1;
    m_console.out(QString());
    place(block, FilesRecord);
    sizes.files = block.size();

    CertificateParser certificates(m_console);
    block.clear();
    if (!certificates.parse(section("certificates"), block)) return 1;
    place(block, CertificatesRecord);
    sizes.certificates = block.size();

    BootParser boot(m_console);
    if (!boot.parse(section("bootloader"), m_boot)) return 1;

    const qint64 forwardEnd = m_offset;
    const QString usbPath = hardware.usbDescriptorPath();
    if (!usbPath.isEmpty()) {
        QDomDocument usbFile;
        if (XmlFile::load(usbPath, usbFile, m_console) != XmlFile::Loaded) return 1;
        if (usbFile.documentElement().tagName() != QLatin1String("usb")) {
            m_console.err(QStringLiteral("Expected usb tag as root of ") + usbPath);
            return 1;
        }
        USBParser usb(m_console);
        block.clear();
        if (!usb.parse(usbFile.documentElement(), block)) return 1;
        inputs << usbPath << usb.inputs();
        sizes.usb = block.size();
        const qint64 at = TableOffset - block.size();
        if (at >= 0) std::memcpy(m_flash.data() + at, block.constData(), size_t(block.size()));
        setRecord(UsbRecord, quint32(CachedFlashBase + at), block);
    }

    const BaseParser *const parsers[] = {&software, &hardware, &scripting, &files, &certificates, &boot};
    for (const BaseParser *parser : parsers)
        inputs << parser->inputs();
    if (outputsClash(m_console, out, outHex, inputs)) return 1;

    if (!storeFallbackSettings(m_boot, hardwareBlock))
        m_console.out(QStringLiteral("Warning, not enough space in bootloader for fallback settings."));

    putWord(m_table, VersionWord, LayoutVersion);
    std::memcpy(m_flash.data() + TableOffset, m_table.constData(), TableSize);
    const QByteArray flash = flashImage();

    const IntelHexWriter hex = intelHex(m_boot, flash);
    const QByteArray hexText = hex.text();

    m_console.out(QString());
    if (!printMemoryReport(m_console, sizes)) return -1;
    // The raw sizes may fit while the padded blocks run into the USB block or the table.
    const qint64 layoutEnd = forwardEnd + sizes.usb + TableSize;
    if (layoutEnd > FlashSize) {
        notEnoughFlash(m_console, layoutEnd);
        return -1;
    }

    // Both files are replaced together only once the build has succeeded, so a failed build leaves
    // the previous pair as it was.
    QSaveFile hexFile(outHex);
    QSaveFile dfuFile(out);
    if (!hexFile.open(QIODevice::WriteOnly)) {
        m_console.err(QStringLiteral("Unable to open:") + outHex);
        return 1;
    }
    if (!dfuFile.open(QIODevice::WriteOnly)) {
        m_console.err(QStringLiteral("Unable to open:") + out);
        return 1;
    }
    const bool hexWritten = writeAll(hexFile, hexText);
    if (hexWritten) startWriteback(hexFile);
    if (!hexWritten || !writeAll(dfuFile, flash)) {
        m_console.err(QStringLiteral("Unable to write:") + outHex + QStringLiteral(", ") + out +
                      QStringLiteral(": ") + (hexWritten ? dfuFile : hexFile).errorString());
        return 1;
    }
    startWriteback(dfuFile);
    if (!hexFile.commit()) {
        m_console.err(QStringLiteral("Unable to write:") + outHex + QStringLiteral(": ") +
                      hexFile.errorString());
        return 1;
    }
    if (!dfuFile.commit()) {
        m_console.err(QStringLiteral("Unable to write:") + out + QStringLiteral(": ") +
                      dfuFile.errorString());
        return 1;
    }
    return 0;
}
