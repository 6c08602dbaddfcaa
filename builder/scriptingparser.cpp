#include "scriptingparser.h"

#include "console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>
#include <QtEndian>

ScriptingParser::ScriptingParser(Console &console, const QString &compilerPath, const QString &sdkRoot)
    : BaseParser(console), m_compilerPath(compilerPath), m_sdkRoot(sdkRoot)
{
}

const char ScriptingParser::ReportName[] = "variable_memory_usage.txt";
const char ScriptingParser::ListingName[] = "debug.txt";

// The first number of the compiler's variable memory report; false when there is no report or it
// does not start with a number.
static bool readVariableMemory(Console &console, quint32 &size)
{
    QFile file{QLatin1String(ScriptingParser::ReportName)};
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        console.out(QLatin1String(ScriptingParser::ReportName) + QStringLiteral(" file open failed"));
        return false;
    }
    QTextStream in(&file);
    qint64 value = 0;
    in >> value;
    if (in.status() != QTextStream::Ok) {
        console.out(QLatin1String(ScriptingParser::ReportName) + QStringLiteral(" file read failed"));
        return false;
    }
    size = quint32(value);
    return true;
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
            e.attribute(QStringLiteral("api"), m_sdkRoot + QStringLiteral("/api/wifiapi.xml"));
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
        addInput(m_compilerPath);
        addInput(in);
        addInput(api);
        if (!constants.isEmpty()) addInput(constants);

        // A report left by an earlier run must not pass for this compile's.
        QFile report{QLatin1String(ReportName)};
        if (report.exists() && !report.remove()) {
            console.out(QStringLiteral("Unable to remove:") + report.fileName() + QStringLiteral(": ") +
                        report.errorString());
            return false;
        }

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

        if (!readVariableMemory(console, variables)) {
            console.out(QStringLiteral("script compiler failed"));
            return false;
        }
        console.out(QStringLiteral(" variables  :") + QString::number(variables));
        // With several scripts the last one counts. The compiler replaces the file by renaming a new one
        // over it, so it is read by name: the handle kept open still shows the file it replaced.
        QFile written(output.fileName());
        byteCode = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
    }

    out.resize(8);
    qToLittleEndian<quint32>(stack, out.data());
    qToLittleEndian<quint32>(variables, out.data() + 4);
    out += byteCode;
    return true;
}
