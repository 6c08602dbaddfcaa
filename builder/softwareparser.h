#pragma once

#include "baseparser.h"

// The "software" section: the module firmware file, copied unchanged. A relative path that does not
// exist in the project is looked up under the SDK root, where the SDK's own firmware lives.
class SoftwareParser : public BaseParser
{
public:
    using BaseParser::BaseParser;

    bool parse(const QDomElement &node, QByteArray &out) override;
};
