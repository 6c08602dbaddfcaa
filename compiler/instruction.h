// One record serves as the lexer's token and as the code generator's instruction: a token's
// kind is at once its lexical class and the instruction kind it becomes.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace tk
{
// Kinds of the token table. Gaps (18, 52, 73) are kinds that do not exist.
enum Kind : int {
    Eol = 0,
    Sum = 1,
    Dec = 2,
    And = 3,
    Or = 4,
    Xor = 5,
    Bit16 = 6,
    Eq = 7,
    Lt = 8,
    Gt = 9,
    Int32 = 10,
    LeftP = 11,
    RightP = 12,
    Comma = 13,
    Dot = 14,
    Mul = 15,
    If = 16,
    Then = 17,
    Goto = 19,
    Gosub = 20,
    MsgBegin = 21,
    MsgCall = 22,
    End = 23,
    ReturnEnd = 24,
    Return = 25,
    IString = 26,
    Drop3 = 27,
    Drop2 = 28,
    Evt = 29,
    Cls = 30,
    Def = 31,
    Event = 32,
    Int32Alt = 33,
    Div = 34,
    IByte = 35,
    Dim = 36,
    Swap = 37,
    Colon = 38,
    Drop1 = 39,
    Id = 40,
    SFloat = 41,
    Float = 42,
    EndIf = 43,
    MsgFin = 44,
    Byte = 45,
    Comment = 46,
    Let = 47,
    Ne = 48,
    Memcpy = 49,
    Memset = 50,
    Else = 51,
    VarToStack = 53,
    VarToStackBuffer = 54,
    ConstToStackBuffer = 55,
    ConstAddress = 56,
    FrameToStack = 57,
    FrameToStackSigned = 58,
    FrameToStackBuffer = 59,
    StackToVar = 60,
    StackToVarBuffer = 61,
    FrameToVarBuffer = 62,
    LogicalAnd = 63,
    LogicalOr = 64,
    Shr = 65,
    Shl = 66,
    While = 67,
    EndWhile = 68,
    BeginWhile = 69,
    Lte = 70,
    Gte = 71,
    Memcmp = 72,
    Constant = 74,
    Bit8 = 75,
    Debug = 76,
    Procedure = 77,
    Pack = 78,
    Export = 79,
    Import = 80,
    ConstMemory = 81,
    Padding = 82,
    Invalid = 83,
};
} // namespace tk

// Programs hold one record per instruction, and every line adds a few: the fields are ordered
// so that the record packs into 32 bytes.
struct Instruction {
    // Identifier/keyword text, number digits, decoded string bytes; for a line marker (DEBUG),
    // the source line, which stands as its mnemonic.
    QByteArray text;
    int32_t kind = tk::Invalid;
    int32_t value = 0; // number value, later the operand
    uint32_t address = 0;
    int32_t sequence = -1; // creation order, the operand of an event-chaining GOTO
    int32_t level = 0;     // if-nesting, numbered when the program is finished
    uint8_t length = 0;    // from the token table
    uint8_t opcode = 0;    // from the token table
    uint8_t valueFlag = 0; // from the token table

    // Sets the kind and copies length, opcode and value flag from the table.
    void setKind(int32_t newKind);
    // The table's mnemonic, or the source line of a line marker.
    QByteArray mnemonic() const;
};
static_assert(sizeof(Instruction) <= 32, "an instruction record should stay small");
