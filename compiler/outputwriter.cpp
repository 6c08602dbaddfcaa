// The byte-code file, the listing and the variable memory report.
#include "consoleoutput.h"
#include "scriptcompiler.h"

#include <QFile>
#include <algorithm>

static void appendLittleEndian(QByteArray &out, uint32_t value, int bytes)
{
    for (int b = 0; b < bytes; ++b)
        out += char((value >> (8 * b)) & 0xFF);
}

void appendInstructionBytes(QByteArray &out, const Instruction &i)
{
    const uint32_t v = uint32_t(i.value);
    switch (i.kind) {
    case tk::Int32:
    case tk::Int32Alt:
    case tk::Id:
        if (i.value >= 0 && i.value <= 255) {
            out += char(0x36);
            out += char(v);
        } else {
            out += char(0x1B);
            appendLittleEndian(out, v, 4);
        }
        return;
    case tk::ConstAddress:
        out += char(0x1B);
        appendLittleEndian(out, v, 4);
        return;
    case tk::Bit8:
    case tk::MsgCall:
    case tk::Pack:
    case tk::FrameToStack:
    case tk::FrameToStackSigned:
        out += char(i.opcode);
        out += char(v);
        return;
    case tk::Bit16:
    case tk::If:
    case tk::While:
    case tk::Goto:
    case tk::Else:
    case tk::EndWhile:
    case tk::Gosub:
    case tk::ConstToStackBuffer:
        out += char(i.opcode);
        appendLittleEndian(out, v, 2);
        return;
    case tk::Evt:
    case tk::Cls:
        appendLittleEndian(out, v, 2);
        return;
    case tk::IString:
        out += char(0x18);
        out += char(std::max(i.text.size(), 4));
        out += i.text;
        out += QByteArray(std::max(0, 4 - i.text.size()), '\0');
        return;
    case tk::ConstMemory:
        out += i.text;
        out += QByteArray(std::max(0, 4 - i.text.size()), '\0');
        return;
    case tk::Padding:
        out += QByteArray(i.value, char(0xFF));
        return;
    default:
        if (i.opcode != 0) out += char(i.opcode);
        return;
    }
}

QByteArray ScriptCompiler::programBytes() const
{
    QByteArray out;
    for (const Instruction &i : m_program)
        appendInstructionBytes(out, i);
    return out;
}

QByteArray ScriptCompiler::listingText() const
{
    // Load addresses put the last instruction at the end address.
    const uint32_t base =
        (m_endAddress == 0 || m_program.empty()) ? 0 : m_endAddress - m_program.back().address;
    QByteArray text;
    QByteArray bytes;
    for (const Instruction &i : m_program) {
        bytes.clear();
        appendInstructionBytes(bytes, i);
        text += QByteArray::number(i.sequence) + '\t' + QByteArray::number(base + i.address, 16);
        text += QByteArray(std::max(0, 16 - i.mnemonic.size()), ' ') + i.mnemonic;
        const QByteArray kind = QByteArray::number(i.kind, 16);
        text += " (" + QByteArray(std::max(0, 2 - kind.size()), ' ') + kind + "):";
        for (char b : bytes) {
            const QByteArray hex = QByteArray::number(uchar(b), 16);
            text += QByteArray(2 - hex.size(), ' ') + hex + ' ';
        }
        text += '\n';
    }
    return text;
}

bool ScriptCompiler::writeOutput(const QString &outputPath, const QString &listingPath)
{
    QFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        printLine("output file open failed:" + outputPath.toLocal8Bit());
        return false;
    }
    if (!listingPath.isEmpty()) {
        QFile listing(listingPath);
        if (listing.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            listing.write(listingText());
    }
    const QByteArray bytes = programBytes();
    if (output.write(bytes) != bytes.size()) {
        printLine("output file write failed:" + outputPath.toLocal8Bit());
        return false;
    }
    return true;
}

bool ScriptCompiler::writeVariableUsage(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        printLine(path.toLocal8Bit() + " file open failed");
        return false;
    }
    const QVector<Symbol> &globals = m_globals.symbols();
    const uint32_t total = globals.isEmpty() ? 0 : globals.last().address + globals.last().size;
    QByteArray text = QByteArray::number(total) + '\n';
    for (const Symbol &s : globals)
        text += QByteArray::number(s.address) + ':' + QByteArray::number(s.size) + '\t' + s.name + '\n';
    file.write(text);
    return true;
}
