// Arbitrary bytes as a script through the whole compile: translation, finishing and the byte
// code and listing built in memory. Imports are left out: they would read arbitrary files.
#include "scriptcompiler.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace
{
class QuietCompiler : public ScriptCompiler
{
protected:
    void reportError(const QByteArray &, int, const QByteArray &) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
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
        compiler.programBytes();
        compiler.listingText();
    }
    return 0;
}
