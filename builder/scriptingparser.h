#pragma once

#include "baseparser.h"

#include <QString>

// The "scripting" section: the script is compiled by running the script compiler as a child process
// into a temporary file; the block is the stack size, the variable memory size from the compiler's
// report and the byte code it wrote.
class ScriptingParser : public BaseParser
{
public:
    ScriptingParser(Console &console, const QString &compilerPath, const QString &sdkRoot);

    bool parse(const QDomElement &node, QByteArray &out) override;

    // What the compiler writes into the working directory besides the byte code.
    static const char ReportName[];
    static const char ListingName[];

private:
    QString m_compilerPath;
    QString m_sdkRoot;
};
