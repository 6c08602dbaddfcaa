#pragma once

#include "baseparser.h"
#include "usbdescriptors.h"

#include <QStringList>

// The USB descriptor file (root "usb") becomes the descriptor stream that the driver places directly
// below the section table. Numbers in the file are hexadecimal; strings are given as text and
// collected into the string table.
class USBParser : public BaseParser
{
public:
    using BaseParser::BaseParser;

    bool parse(const QDomElement &node, QByteArray &out) override;

private:
    bool read(const QDomElement &root);
    quint8 stringIndex(const QString &text);
    quint8 stringAttribute(const QDomElement &e, const char *name);

    usb_device m_device;
    QStringList m_strings;
};
