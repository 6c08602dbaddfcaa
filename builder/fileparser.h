#pragma once

#include "baseparser.h"

// The "files" section: user files packed into a small file system the firmware serves. Each entry is
// a length byte, "/" and the name, a 0, zero padding to 4 (counted from the block start), the size
// word and the content; a 0 byte ends the list.
class FileParser : public BaseParser
{
public:
    using BaseParser::BaseParser;

    bool parse(const QDomElement &node, QByteArray &out) override;
};
