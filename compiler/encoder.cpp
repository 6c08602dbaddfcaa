#include "encoder.h"

#include "tokentable.h"

#include <algorithm>
#include <cstring>

// Constant pushes of 0 to 255 take this one-byte form; the table holds the four-byte one.
static const uint8_t kShortPush = 0x36;
// Strings are stored in at least this many bytes, zero-filled.
static const int kMinStringBytes = 4;

namespace
{
// How an instruction's operand follows its opcode.
enum class Form {
    Plain,     // the opcode alone, when the table gives it a length
    Push,      // a constant: short or four-byte form by value
    LongPush,  // always the four-byte form
    Byte,      // opcode, one byte
    Word,      // opcode, two bytes
    TableWord, // two bytes, no opcode
    String,    // opcode, length byte, the bytes, zero fill
    Data,      // the bytes and zero fill, no opcode
    Padding,   // value bytes of 0xFF
};
} // namespace

static constexpr Form formOf(int32_t kind)
{
    switch (kind) {
    case tk::Int32:
    case tk::Int32Alt:
    case tk::Id:
        return Form::Push;
    case tk::ConstAddress:
        return Form::LongPush;
    case tk::Bit8:
    case tk::MsgCall:
    case tk::Pack:
    case tk::FrameToStack:
    case tk::FrameToStackSigned:
        return Form::Byte;
    case tk::Bit16:
    case tk::If:
    case tk::While:
    case tk::Goto:
    case tk::Else:
    case tk::EndWhile:
    case tk::Gosub:
    case tk::ConstToStackBuffer:
        return Form::Word;
    case tk::Evt:
    case tk::Cls:
        return Form::TableWord;
    case tk::IString:
        return Form::String;
    case tk::ConstMemory:
        return Form::Data;
    case tk::Padding:
        return Form::Padding;
    default:
        return Form::Plain;
    }
}

// Sizes and encodings are asked for every instruction several times: one table load instead of
// the switch.
struct Forms {
    Form of[tk::Invalid + 1] = {};
    constexpr Forms()
    {
        for (int k = 0; k <= tk::Invalid; ++k)
            of[k] = formOf(k);
    }
};
static constexpr Forms kForms{};

static inline Form formOfKind(int32_t kind)
{
    return kind >= 0 && kind <= tk::Invalid ? kForms.of[kind] : Form::Plain;
}

static bool isShortPush(const Instruction &i)
{
    return i.value >= 0 && i.value <= 255;
}

uint32_t instructionSize(const Instruction &i)
{
    switch (formOfKind(i.kind)) {
    case Form::Push:
        return isShortPush(i) ? 2 : i.length;
    case Form::String:
    case Form::Data:
        return uint32_t(std::max(i.text.size(), kMinStringBytes)) + i.length;
    case Form::Padding:
        return uint32_t(i.value);
    default:
        return i.length;
    }
}

static char *putLittleEndian(char *out, uint32_t value, int bytes)
{
    for (int b = 0; b < bytes; ++b)
        *out++ = char((value >> (8 * b)) & 0xFF);
    return out;
}

static char *putString(char *out, const QByteArray &text)
{
    std::memcpy(out, text.constData(), size_t(text.size()));
    out += text.size();
    if (text.size() < kMinStringBytes) {
        std::memset(out, 0, size_t(kMinStringBytes - text.size()));
        out += kMinStringBytes - text.size();
    }
    return out;
}

char *encodeInstruction(const Instruction &i, char *out)
{
    const uint32_t v = uint32_t(i.value);
    switch (formOfKind(i.kind)) {
    case Form::Push:
        if (isShortPush(i)) {
            *out++ = char(kShortPush);
            *out++ = char(v);
            return out;
        }
        *out++ = char(i.opcode);
        return putLittleEndian(out, v, 4);
    case Form::LongPush:
        *out++ = char(i.opcode);
        return putLittleEndian(out, v, 4);
    case Form::Byte:
        *out++ = char(i.opcode);
        *out++ = char(v);
        return out;
    case Form::Word:
        *out++ = char(i.opcode);
        return putLittleEndian(out, v, 2);
    case Form::TableWord:
        return putLittleEndian(out, v, 2);
    case Form::String:
        *out++ = char(i.opcode);
        *out++ = char(std::max(i.text.size(), kMinStringBytes));
        return putString(out, i.text);
    case Form::Data:
        return putString(out, i.text);
    case Form::Padding:
        if (i.value > 0) std::memset(out, 0xFF, size_t(i.value));
        return out + std::max(i.value, 0);
    case Form::Plain:
        if (i.length > 0) *out++ = char(i.opcode);
        return out;
    }
    return out;
}
