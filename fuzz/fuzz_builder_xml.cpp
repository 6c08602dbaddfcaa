// Feeds arbitrary XML to the hardware section parser and the USB descriptor parser.
#include "console.h"
#include "hardwareparser.h"
#include "usbparser.h"

#include <QDomDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QDomDocument doc;
    if (!doc.setContent(QByteArray(reinterpret_cast<const char *>(data), int(size)))) return 0;
    QDomElement root = doc.documentElement();
    // Both parsers may follow a root attribute to another file; keep the run to the input itself.
    root.removeAttribute(QStringLiteral("in"));
    root.removeAttribute(QStringLiteral("descriptor"));

    Console console;
    QByteArray block;
    HardwareParser hardware(console);
    if (hardware.parse(root, block) && block.size() != 130) __builtin_trap();
    QByteArray stream;
    USBParser usb(console);
    if (usb.parse(root, stream) && (stream.size() < 23 || stream.at(stream.size() - 1) != 0))
        __builtin_trap();
    return 0;
}
