// Arbitrary bytes as a script, line by line through the lexer and the parser.
#include "fuzz_compiler.h"
#include "lexer.h"
#include "syntaxchecker.h"
#include "tokentable.h"

#include <QList>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    addCompilerDictionary(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = expandCompilerInput(data, size);
    SyntaxChecker parser;
    Lexer lexer;
    int lineNumber = 0;
    for (const QByteArray &raw : input.split('\n')) {
        lexer.reset(raw.trimmed() + '\n', ++lineNumber);
        Instruction token;
        while (lexer.next(token)) {
            const int terminal = TokenTable::row(token.kind).parserToken;
            if (terminal != 0) parser.feed(terminal, lineNumber);
            if (token.kind == tk::Eol) break;
        }
        if (parser.hasError()) {
            parser.expectingText();
            break;
        }
    }
    return 0;
}
