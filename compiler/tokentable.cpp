#include "tokentable.h"

#include "grammar.h"
#include "instruction.h"

#include <string_view>
#include <unordered_map>

static_assert(TK_LOGICAL_OR == 1 && TK_EOL == 18 && TK_MEMCMP == 43,
              "the grammar's terminal numbering changed");

// Table order matters: keyword lookup and the display-name lookup take the first match.
static constexpr TokenRow kRows[] = {
    {0, "EOL", "\n", 0x00, 0, 0, "", TK_EOL},
    {1, "SUM", "+", 0x02, 1, 0, "+", TK_SUM},
    {2, "DEC", "-", 0x03, 1, 0, "-", TK_SUB},
    {3, "AND", "&", 0x04, 1, 0, "&", TK_AND},
    {4, "OR", "|", 0x05, 1, 0, "|", TK_OR},
    {5, "XOR", "^", 0x06, 1, 0, "^", TK_XOR},
    {75, "8BIT", "", 0x10, 2, 0, "", 0},
    {6, "16BIT", "", 0x01, 3, 0, "", 0},
    {7, "EQ", "=", 0x09, 1, 0, "=", TK_EQ},
    {8, "LT", "<", 0x0a, 1, 0, "<", TK_LT},
    {9, "GT", ">", 0x32, 1, 0, ">", TK_GT},
    {10, "32BIT", "", 0x1b, 5, 1, "value", TK_INTEGER},
    {11, "", "(", 0x00, 0, 0, "(", TK_LEFT_P},
    {12, "", ")", 0x00, 0, 1, ")", TK_RIGHT_P},
    {13, "", ",", 0x00, 0, 0, "comma", TK_COMMA},
    {14, "", ".", 0x00, 0, 0, "dot", TK_DOT},
    {15, "MUL", "*", 0x07, 1, 0, "*", TK_MUL},
    {16, "IF", "if", 0x0b, 3, 0, "if", TK_IF},
    {17, "", "then", 0x00, 0, 0, "then", TK_THEN},
    {18, "", "", 0x00, 0, 0, "", 0},
    {19, "GOTO", "goto", 0x14, 3, 0, "", 0},
    {20, "GOSUB", "gosub", 0x50, 3, 0, "", 0},
    {25, "RETURN", "return", 0x51, 1, 0, "", 0},
    {78, "PACK", "pack", 0x52, 2, 0, "", 0},
    {21, "MSG BEGIN", "", 0x15, 1, 0, "", 0},
    {22, "MSG CALL", "call", 0x16, 2, 0, "call", TK_CALL},
    {23, "END", "end", 0x17, 1, 0, "end", TK_END},
    {24, "RETURN_END", "return end", 0x17, 1, 0, "", 0},
    {26, "ISTRING", "", 0x18, 2, 0, "", TK_ISTRING},
    {27, "DROP3", "", 0x19, 1, 0, "", 0},
    {28, "DROP2", "", 0x1a, 1, 0, "", 0},
    {29, "EVT", "", 0x00, 2, 0, "", 0},
    {30, "CLS", "", 0x00, 2, 0, "", 0},
    {31, "DEF", "def", 0x00, 0, 0, "", 0},
    {32, "EVENT", "event", 0x00, 0, 0, "event", TK_EVENT},
    {33, "32BIT", "", 0x1b, 5, 1, "", 0},
    {34, "DIV", "/", 0x08, 1, 0, "/", TK_DIV},
    {35, "IBYTE", "", 0x00, 0, 0, "", 0},
    {36, "", "dim", 0x00, 0, 0, "dim", TK_DIM},
    {37, "SWAP", "", 0x21, 1, 0, "", 0},
    {38, "", ":", 0x00, 0, 0, "colon", TK_COLON},
    {39, "DROP1", "", 0x23, 1, 0, "", 0},
    {40, "ID", "", 0x1b, 5, 1, "variable", TK_IDENTIFIER},
    {56, "CONSTANT_ADDRESS", "", 0x1b, 5, 1, "constant buffer", 0},
    {41, "SFLOAT", "sfloat", 0x24, 1, 1, "", TK_SFLOAT},
    {42, "FLOAT", "float", 0x25, 1, 1, "", TK_FLOAT},
    {43, "", "", 0x00, 0, 0, "", 0},
    {44, "MSG FIN", "", 0x2f, 1, 0, "", 0},
    {45, "BYTE", "", 0x00, 1, 0, "", 0},
    {46, "COMMENT", "#", 0x00, 0, 0, "", 0},
    {47, "LET", "let", 0x00, 0, 0, "", 0},
    {48, "NE", "!=", 0x33, 1, 0, "", TK_NE},
    {49, "MEMCPY", "memcpy", 0x34, 1, 0, "", TK_MEMCPY},
    {50, "MEMSET", "memset", 0x35, 1, 0, "", TK_MEMSET},
    {51, "ELSE", "else", 0x14, 3, 0, "else", TK_ELSE},
    {53, "VARIABLE_TO_STACK", "", 0x0c, 1, 0, "", 0},
    {54, "VARIABLE_TO_STACK_BUFFER", "", 0x0d, 1, 0, "", 0},
    {57, "FRAME_TO_STACK", "", 0x1c, 2, 0, "", 0},
    {58, "FRAME_TO_STACK SIGN EXTENSION", "", 0x1e, 2, 0, "", 0},
    {59, "FRAME_TO_STACK_BUFFER", "", 0x1d, 1, 0, "", 0},
    {62, "FRAME_TO_VARIABLE_BUFFER", "", 0x20, 1, 0, "", 0},
    {60, "STACK_TO_VARIABLE", "", 0x0e, 1, 0, "", 0},
    {61, "STACK_TO_VARIABLE_BUFFER", "", 0x0f, 1, 0, "", 0},
    {63, "&&", "&&", 0x40, 1, 0, "&&", TK_LOGICAL_AND},
    {64, "||", "||", 0x41, 1, 0, "||", TK_LOGICAL_OR},
    {66, "SHL", "<<", 0x42, 1, 0, "<<", TK_SHIFT_LEFT},
    {65, "SHR", ">>", 0x43, 1, 0, ">>", TK_SHIFT_RIGHT},
    {69, "BEGINWHILE", "", 0x00, 0, 0, "", 0},
    {67, "WHILE", "while", 0x0b, 3, 0, "while", TK_WHILE},
    {68, "ENDWHILE", "", 0x14, 3, 0, "", 0},
    {70, "LTE", "<=", 0x44, 1, 0, "", TK_LTE},
    {71, "GTE", ">=", 0x45, 1, 0, "", TK_GTE},
    {72, "MEMCMP", "memcmp", 0x46, 1, 0, "", TK_MEMCMP},
    {74, "", "const", 0x00, 0, 0, "constant", TK_CONSTANT},
    {76, "DEBUG", "", 0x00, 0, 0, "DEBUG", 0},
    {77, "PROCEDURE", "procedure", 0x00, 0, 0, "procedure", TK_PROCEDURE},
    {79, "EXPORT", "export", 0x00, 0, 0, "export", TK_EXPORT},
    {80, "IMPORT", "import", 0x00, 0, 0, "import", TK_IMPORT},
    {55, "CONSTANT_TO_STACK_BUFFER", "", 0x60, 3, 0, "", 0},
    {81, "CONSTANT_MEMORY", "", 0x00, 0, 0, "", 0},
    {82, "PADDING", "", 0x00, 0, 0, "", 0},
    {83, "Invalid", "", 0x00, 0, 0, "invalid", 0},
};

static constexpr int kRowCount = int(sizeof(kRows) / sizeof(kRows[0]));
static constexpr int kKindLimit = tk::Invalid + 1;

// Kind -> row index; equal to the linear search because every kind occurs once.
struct KindIndex {
    int row[kKindLimit] = {};
    constexpr KindIndex()
    {
        for (int &i : row)
            i = kRowCount - 1;
        for (int r = kRowCount - 1; r >= 0; --r)
            row[kRows[r].kind] = r;
    }
};
static constexpr KindIndex kKindIndex{};

const TokenRow &TokenTable::row(int32_t kind)
{
    if (kind < 0 || kind >= kKindLimit) return kRows[kRowCount - 1];
    return kRows[kKindIndex.row[kind]];
}

// Source text -> first row in table order with that text; the "Invalid" row takes no part.
using SourceIndex = std::unordered_map<std::string_view, const TokenRow *>;

static SourceIndex buildSourceIndex()
{
    SourceIndex index;
    for (int r = 0; r < kRowCount - 1; ++r)
        index.emplace(std::string_view(kRows[r].source), &kRows[r]); // keeps the first
    return index;
}

const TokenRow *TokenTable::findSource(const char *text, int length)
{
    static const SourceIndex index = buildSourceIndex();
    const auto it = index.find(std::string_view(text, size_t(length)));
    return it == index.end() ? nullptr : it->second;
}

const TokenRow *TokenTable::findParserToken(int terminal)
{
    for (int r = 0; r < kRowCount; ++r) {
        if (kRows[r].parserToken == terminal) return &kRows[r];
    }
    return nullptr;
}

const TokenRow *TokenTable::rows()
{
    return kRows;
}

int TokenTable::rowCount()
{
    return kRowCount;
}

void Instruction::setKind(int32_t newKind)
{
    const TokenRow &r = TokenTable::row(newKind);
    kind = newKind;
    length = r.length;
    opcode = r.opcode;
    valueFlag = r.valueFlag;
}

QByteArray Instruction::mnemonic() const
{
    if (kind == tk::Debug) return text;
    return QByteArray(TokenTable::row(kind).mnemonic);
}
