#pragma once

#include "baseparser.h"

#include <QString>

// The "software" section: the module firmware file, copied unchanged. A relative path that does not
// exist in the project is looked up under the SDK root, where the SDK's own firmware lives.
class SoftwareParser : public BaseParser
{
public:
    SoftwareParser(Console &console, const QString &sdkRoot) : BaseParser(console), m_sdkRoot(sdkRoot) {}

    bool parse(const QDomElement &node, QByteArray &out) override;

private:
    QString m_sdkRoot;
};
