// Feeds arbitrary XML to the builder's XML loader, then to the hardware section parser and the USB
// descriptor parser. An input that starts with byte 1 is wrapped in as many nested elements as its next
// two bytes say, so that deep documents are reached without megabytes of input. The dictionary of the
// sections' tags and attributes is passed to libFuzzer unless the command line names one.
#include "console.h"
#include "hardwareparser.h"
#include "usbparser.h"
#include "xmlfile.h"

#include <QDomDocument>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-dict=", 6) == 0) return 0;
    }
    static char dict[] = "-dict=" NW_SOURCE_DIR "/fuzz/fuzz_builder_xml.dict";
    static char **args = new char *[size_t(*argc) + 2];
    for (int i = 0; i < *argc; ++i)
        args[i] = (*argv)[i];
    args[*argc] = dict;
    args[*argc + 1] = nullptr;
    ++*argc;
    *argv = args;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray text(reinterpret_cast<const char *>(data), int(size));
    if (size >= 3 && data[0] == 1) {
        const int depth = data[1] << 8 | data[2];
        const QByteArray inner = text.mid(3);
        text = "<hardware>" + QByteArray("<x>").repeated(depth) + inner + QByteArray("</x>").repeated(depth) +
               "</hardware>";
    }
    Console console;
    QDomDocument doc;
    if (XmlFile::parse(text, QStringLiteral("input"), doc, console) != XmlFile::Loaded) return 0;
    QDomElement root = doc.documentElement();
    // Both parsers may follow a root attribute to another file; keep the run to the input itself.
    root.removeAttribute(QStringLiteral("in"));
    root.removeAttribute(QStringLiteral("descriptor"));

    QByteArray block;
    HardwareParser hardware(console);
    if (hardware.parse(root, block) && block.size() != 130) __builtin_trap();
    QByteArray stream;
    USBParser usb(console);
    if (usb.parse(root, stream) && (stream.size() < 23 || stream.at(stream.size() - 1) != 0))
        __builtin_trap();
    return 0;
}
