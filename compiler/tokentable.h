// The static table of token and instruction kinds shared by lexer, parser glue and code generator.
#pragma once

#include <cstdint>

struct TokenRow {
    int32_t kind;
    const char *mnemonic;
    const char *source; // text the lexer matches; empty when the kind never comes from source
    uint8_t opcode;
    uint8_t length;
    uint8_t valueFlag;   // 1 for tokens that end an operand
    const char *display; // name used in "expecting" messages
    int parserToken;     // grammar terminal, 0 when the token is not fed to the parser
};

class TokenTable
{
public:
    // The row of a kind; unknown kinds yield the "Invalid" row.
    static const TokenRow &row(int32_t kind);
    // The first row, in table order, whose source text is exactly the given bytes.
    static const TokenRow *findSource(const char *text, int length);
    // The first row, in table order, whose parser token is the given terminal.
    static const TokenRow *findParserToken(int terminal);
    static const TokenRow *rows();
    static int rowCount();
};
