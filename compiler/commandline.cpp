#include "commandline.h"

#include "consoleoutput.h"
#include "scriptcompiler.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

// Automatic base: "0x" hexadecimal, leading "0" octal, else decimal.
static bool optionValue(const QCommandLineParser &parser, const QCommandLineOption &option, uint32_t &value)
{
    if (!parser.isSet(option)) return true;
    bool ok = false;
    value = parser.value(option).toUInt(&ok, 0);
    return ok;
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
    parser.addOption(bankSize);
    parser.addOption(addressEnd);
    parser.addOption(debug);
    parser.process(arguments);

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
    compiler.loadApiDefinitions(arguments.at(3), arguments.size() > 4 ? arguments.at(4) : QString());

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
    if (!compiler.writeOutput(arguments.at(2), debugMode ? QStringLiteral("debug.txt") : QString()))
        return -1;
    compiler.writeVariableUsage(QStringLiteral("variable_memory_usage.txt"));
    return 0;
}
