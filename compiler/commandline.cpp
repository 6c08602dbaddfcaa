#include "commandline.h"

#include "consoleoutput.h"
#include "scriptcompiler.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QVector>
#include <cstdio>

// Automatic base: "0x" hexadecimal, leading "0" octal, else decimal.
static bool optionValue(const QCommandLineParser &parser, const QCommandLineOption &option, uint32_t &value)
{
    if (!parser.isSet(option)) return true;
    bool ok = false;
    value = parser.value(option).toUInt(&ok, 0);
    return ok;
}

// Where a path leads: an existing file by its canonical path, a new one by its folder's.
static QString canonicalPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

struct RunFile {
    QString path;
    const char *role;
};

// No output may overwrite an input or another output of the same run; checked before anything
// is written.
static bool checkOutputPaths(const QVector<RunFile> &inputs, const QVector<RunFile> &outputs)
{
    QVector<QPair<QString, const RunFile *>> taken;
    for (const RunFile &f : inputs)
        taken.append({canonicalPath(f.path), &f});
    for (const RunFile &f : outputs) {
        const QString canonical = canonicalPath(f.path);
        for (const auto &t : taken) {
            if (t.first == canonical) {
                printLine("output path clash: " + f.path.toLocal8Bit() + " is both the " + t.second->role +
                          " and the " + f.role);
                return false;
            }
        }
        taken.append({canonical, &f});
    }
    return true;
}

int runTollan(const QStringList &arguments)
{
    ScriptCompiler compiler;
    QCommandLineParser parser;
    const QCommandLineOption bankSize(QStringList{QStringLiteral("s"), QStringLiteral("bank-size")},
                                      QCoreApplication::translate("main", "Target memory bank <size>"),
                                      QCoreApplication::translate("main", "size"));
    const QCommandLineOption addressEnd(QStringList{QStringLiteral("e"), QStringLiteral("address-end")},
                                        QCoreApplication::translate("main", "Target memory end <address>"),
                                        QCoreApplication::translate("main", "address"));
    const QCommandLineOption debug(QStringList{QStringLiteral("d"), QStringLiteral("debug")},
                                   QCoreApplication::translate("main", "enable debug mode"));
    // Long names only: "-h" and "-v" stay unknown options, as they always were.
    const QCommandLineOption help(QStringLiteral("help"),
                                  QCoreApplication::translate("main", "Show this help and exit"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QCoreApplication::translate("main", "Show the version and exit"));
    parser.addOption(bankSize);
    parser.addOption(addressEnd);
    parser.addOption(debug);
    parser.addOption(help);
    parser.addOption(version);
    // Only for the help text: positional arguments are read by their raw position below.
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Compiles a script into byte code for the module's script interpreter."));
    parser.addPositionalArgument(QStringLiteral("script"),
                                 QCoreApplication::translate("main", "Script file to compile"));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QCoreApplication::translate("main", "Byte-code file to write"));
    parser.addPositionalArgument(QStringLiteral("api"),
                                 QCoreApplication::translate("main", "API definition XML file"));
    parser.addPositionalArgument(
        QStringLiteral("constants"),
        QCoreApplication::translate("main", "Constants file, one \"name value\" a line"),
        QStringLiteral("[constants]"));
    parser.addPositionalArgument(
        QStringLiteral("flags"),
        QCoreApplication::translate("main", "\"debug\" writes debug.txt, \"xap_pack\" packs arguments"),
        QStringLiteral("[flags...]"));
    parser.process(arguments);
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        printLine(QCoreApplication::applicationName().toLocal8Bit() + ' ' +
                  QCoreApplication::applicationVersion().toLocal8Bit());
        return 0;
    }

    uint32_t bank = 0;
    uint32_t end = 0;
    if (!optionValue(parser, bankSize, bank)) {
        printLine("valid banksize required");
        return -1;
    }
    if (!optionValue(parser, addressEnd, end)) {
        printLine("valid address required");
        return -1;
    }
    bool debugMode = parser.isSet(debug);
    compiler.setMemoryLimits(bank, end);

    // Positional arguments are taken by their raw position, the program name being position 0.
    if (arguments.size() < 2) {
        printLine("input file required");
        return -1;
    }
    if (arguments.size() < 3) {
        printLine("output file required");
        return -1;
    }
    if (arguments.size() < 4) {
        printLine("api file required");
        return -1;
    }
    const QString constantsPath = arguments.size() > 4 ? arguments.at(4) : QString();
    if (!compiler.loadApiDefinitions(arguments.at(3), constantsPath) && compiler.apiRefused()) return -1;

    bool packMode = false;
    for (int i = 5; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("debug"))
            debugMode = true;
        else if (arguments.at(i) == QLatin1String("xap_pack"))
            packMode = true;
    }
    compiler.setPackMode(packMode);

    if (!compiler.compileFile(arguments.at(1))) return -1;
    // Broken byte code must never reach an image: a program that cannot be placed or
    // resolved ends the run without an output file.
    if (!compiler.finishProgram()) return -1;

    const QString outputPath = arguments.at(2);
    const QString reportPath = QStringLiteral("variable_memory_usage.txt");
    const QString listingPath = debugMode ? QStringLiteral("debug.txt") : QString();
    QVector<RunFile> inputs{{arguments.at(3), "api file"}};
    if (!constantsPath.isEmpty()) inputs.append({constantsPath, "constants file"});
    for (const QString &script : compiler.compiledFiles())
        inputs.append({script, "script file"});
    QVector<RunFile> outputs{{outputPath, "output file"}, {reportPath, "memory report"}};
    if (!listingPath.isEmpty()) outputs.append({listingPath, "listing"});
    if (!checkOutputPaths(inputs, outputs)) return -1;

    if (!compiler.writeOutput(outputPath, listingPath)) return -1;
    // The builder takes the stack and variable sizes from the report: without it the run failed.
    if (!compiler.writeVariableUsage(reportPath)) return -1;
    return 0;
}
