#include "scriptingparser.h"

#include "console.h"
#include "sdkroot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>
#include <QtEndian>

ScriptingParser::ScriptingParser(Console &console, const QString &compilerPath)
    : BaseParser(console), m_compilerPath(compilerPath)
{
}

// The first number of the compiler's variable memory report, or -1 when there is no report.
static qint64 readVariableMemory(Console &console)
{
    QFile file(QStringLiteral("variable_memory_usage.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        console.out(QStringLiteral("variable_memory_usage.txt file open failed"));
        return -1;
    }
    QTextStream in(&file);
    qint64 size = 0;
    in >> size;
    return size;
}

bool ScriptingParser::parse(const QDomElement &node, QByteArray &out)
{
    // Kept open for the whole parse so the name cannot be taken by anybody else meanwhile.
    QTemporaryFile output(QDir(QDir::tempPath()).filePath(QStringLiteral("kirrup-XXXXXX.bin")));
    if (!output.open()) {
        console.out(QStringLiteral("Temporary file creation failed"));
        return false;
    }

    quint32 stack = 0;
    quint32 variables = 0;
    QByteArray byteCode;
    for (QDomElement e = node.firstChildElement(QStringLiteral("script")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("script"))) {
        const QString in = e.attribute(QStringLiteral("in"));
        const QString api =
            e.attribute(QStringLiteral("api"), sdkRoot() + QStringLiteral("/api/wifiapi.xml"));
        const QString constants = e.attribute(QStringLiteral("const"));
        const QString debug = e.attribute(QStringLiteral("debug"));
        stack = e.attribute(QStringLiteral("stack"), QStringLiteral("512")).toUInt(nullptr, 0);

        console.out(QString());
        console.out(e.tagName());
        console.out(QStringLiteral(" compiler   :") + m_compilerPath);
        console.out(QStringLiteral(" script     :") + in);
        console.out(QStringLiteral(" api        :") + QFileInfo(api).canonicalFilePath());
        console.out(QStringLiteral(" stack      :") + QString::number(stack));
        if (!constants.isEmpty()) console.out(QStringLiteral(" constants  :") + constants);

        QStringList arguments{in, output.fileName(), api};
        if (!constants.isEmpty()) {
            arguments << constants;
            if (!debug.isEmpty()) arguments << debug;
        }
        QProcess compiler;
        compiler.setProcessChannelMode(QProcess::MergedChannels);
        compiler.start(m_compilerPath, arguments, QIODevice::ReadOnly);
        const bool started = compiler.waitForStarted(-1);
        if (started) compiler.waitForFinished(-1);
        // The compiler's own messages (its errors) belong in the build log.
        console.outRaw(compiler.readAll());
        if (!started) console.out(QStringLiteral("unable to execute:") + m_compilerPath);
        if (!started || compiler.exitStatus() != QProcess::NormalExit || compiler.exitCode() != 0) {
            // A build without its script must not pass for a good one.
            console.out(QStringLiteral("script compiler failed"));
            return false;
        }

        variables = quint32(readVariableMemory(console));
        console.out(QStringLiteral(" variables  :") + QString::number(variables));
        // With several scripts the last one counts; each compiler run rewrites the file from its start.
        output.seek(0);
        byteCode = output.readAll();
    }

    out.resize(8);
    qToLittleEndian<quint32>(stack, out.data());
    qToLittleEndian<quint32>(variables, out.data() + 4);
    out += byteCode;
    return true;
}
