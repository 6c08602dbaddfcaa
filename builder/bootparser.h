#pragma once

#include "baseparser.h"

#include <QString>

// The "bootloader" section: the SDK's bootloader image with the module's crystal, watchdog period and
// default MAC address patched in. The result is the boot flash image, not a block of program flash.
class BootParser : public BaseParser
{
public:
    BootParser(Console &console, const QString &sdkRoot) : BaseParser(console), m_sdkRoot(sdkRoot) {}

    // Length of the boot flash: boot code, then the configuration words at 0x2FF0..0x2FFF.
    static const int ImageSize = 12288;

    bool parse(const QDomElement &node, QByteArray &out) override;

private:
    QString m_sdkRoot;
};
