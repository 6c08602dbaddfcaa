// Arbitrary bytes as a script through the whole compile: translation, finishing and the byte
// code and listing built in memory. Imports are left out: they would read arbitrary files.
#include "fuzz_compiler.h"
#include "encoder.h"
#include "scriptcompiler.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace
{
class QuietCompiler : public ScriptCompiler
{
protected:
    void reportError(const QByteArray &, int, const QByteArray &) override {}
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    addCompilerDictionary(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = expandCompilerInput(data, size);
    if (input.contains("import")) return 0;
    QuietCompiler compiler;
    compiler.setMemoryLimits(size % 2 ? 64 : 0, 0x10000);
    compiler.loadApiDefinitions(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml"), QString());
    compiler.setPackMode(size % 3 == 0);
    int lineNumber = 0;
    for (const QByteArray &line : input.split('\n')) {
        if (!compiler.compileLine(line.trimmed() + '\n', ++lineNumber)) return 0;
    }
    if (compiler.finishProgram()) {
        // The bytes written must be exactly the bytes the addresses were laid out for.
        const std::vector<Instruction> &program = compiler.program();
        const uint32_t end = program.empty() ? 0 : program.back().address + instructionSize(program.back());
        if (uint32_t(compiler.programBytes().size()) != end) abort();
        compiler.listingText();
    }
    return 0;
}
