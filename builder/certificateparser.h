#pragma once

#include "baseparser.h"

// The "certificates" section: X.509 certificates (PEM, or DER with format "der") stored in DER, each
// behind the MD5 of its DER encoding so the firmware can find it; a 0 byte ends the list.
class CertificateParser : public BaseParser
{
public:
    using BaseParser::BaseParser;

    bool parse(const QDomElement &node, QByteArray &out) override;
};
