// builder/ is kirrup, the project builder: it reads a project file, turns each of its sections
// (software, hardware, scripting, files, certificates, bootloader and the USB descriptor file) into
// a byte block through one parser per section, places the blocks in the module's 512000-byte program
// flash image behind a table that locates them, patches the bootloader, and writes the raw image and
// an Intel HEX file of boot and program flash. The script is compiled by running tollan as a process.
#pragma once

#include "imagelayout.h"
#include "intelhexwriter.h"
#include "largebuffer.h"

#include <QByteArray>
#include <QString>

class Console;

// The project driver: one build of one project file.
class ProjectBuilder
{
public:
    static const int FlashSize = int(imagelayout::flashSize);
    static const int TableOffset = int(imagelayout::tableOffset);
    static const int TableSize = imagelayout::tableSize;
    static const quint32 LayoutVersion = imagelayout::layoutVersion;
    static const quint32 FlashBase = 0x1D000000;
    static const quint32 CachedFlashBase = 0x9D000000;
    static const quint32 BootFlashBase = 0x1FC00000;
    static const int BootConfigOffset = 0x2FF0;
    // Where the copy of the hardware block ends in the boot flash, and its size word.
    static const int FallbackEnd = 12028;

    // Raw sizes of the blocks, as the memory report lists them.
    struct Sizes {
        qint64 software = 0;
        qint64 hardware = 0;
        qint64 usb = 0;
        qint64 script = 0;
        qint64 files = 0;
        qint64 certificates = 0;
        qint64 total() const { return software + hardware + usb + script + files + certificates; }
    };

    explicit ProjectBuilder(Console &console);

    // Builds the project; the result is the process's exit status (0, 1, or -1 when flash is full).
    int buildProject(const QString &input, const QString &compilerPath, const QString &sdkRoot);

    // The images of the last build; the flash image refers to the builder's memory.
    QByteArray flashImage() const { return QByteArray::fromRawData(m_flash.data(), int(m_flash.size())); }
    const QByteArray &bootImage() const { return m_boot; }

    // Prints the memory report; false (after the error lines) when the blocks exceed the flash.
    static bool printMemoryReport(Console &console, const Sizes &sizes);
    // The HEX text of boot configuration words, boot code and program flash.
    static IntelHexWriter intelHex(const QByteArray &bootImage, const QByteArray &flashImage);
    // Stores the hardware block in the boot flash for the bootloader, if that room is still erased.
    static bool storeFallbackSettings(QByteArray &bootImage, const QByteArray &hardware);

    // Writes both files through temporary files and replaces the old pair; the exit status.
    static int writeImages(Console &console, const QString &out, const QString &outHex,
                           const QByteArray &hexText, const QByteArray &flash);

private:
    void place(const QByteArray &block, int recordOffset);
    void placeUsb(const QByteArray &block);
    void setRecord(int recordOffset, quint32 location, const QByteArray &block);

    Console &m_console;
    LargeBuffer m_flash;
    QByteArray m_boot;
    QByteArray m_table;
    qint64 m_offset = 0;
};
