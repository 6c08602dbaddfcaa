// Feeds arbitrary bytes to the image inspector. Input starting with ":" is read as a HEX file. Any other
// input becomes a program flash image: its first 76 bytes are the section table, the rest lies from
// offset 0, so that records point at fuzzed blocks without half a megabyte of input. The same bytes are
// also disassembled and decoded as each section on their own.
#include "certblock.h"
#include "disassembler.h"
#include "filesblock.h"
#include "hardwareview.h"
#include "imagefile.h"
#include "imagelayout.h"
#include "inspection.h"
#include "scriptapi.h"
#include "usbview.h"

#include <cstddef>
#include <cstdint>

namespace
{
const ScriptApi &api()
{
    static const ScriptApi loaded = [] {
        ScriptApi a;
        a.loadXml(
            "<api><class name=\"sme\"><command name=\"set\" script=\"3\"/><event name=\"up\" script=\"0\"/>"
            "<event name=\"down\" script=\"2\"/></class><class name=\"util\"/></api>");
        return a;
    }();
    return loaded;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    if (size > 0 && data[0] == ':') {
        Inspection::of(ImageFile::fromBytes(input, QStringLiteral("fuzz.hex")), &api());
        return 0;
    }
    QByteArray image(int(imagelayout::flashSize), char(0xFF));
    image.replace(int(imagelayout::tableOffset), qMin<int>(input.size(), imagelayout::tableSize),
                  input.left(imagelayout::tableSize));
    const QByteArray rest = input.mid(imagelayout::tableSize);
    image.replace(0, rest.size(), rest);
    const Inspection i = Inspection::of(ImageFile::fromBytes(image, QStringLiteral("fuzz.dfu")), &api());
    diffImages(i.image, ImageFile::fromBytes(image.left(400000), QStringLiteral("cut")), &api());
    disassemble(input, &api());
    disassemble(input, nullptr);
    FilesBlock::read(input);
    CertificatesBlock::read(input);
    decodeUsb(input);
    decodeHardware(input);
    return 0;
}
