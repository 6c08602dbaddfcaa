#include "disassembler.h"

#include "scriptapi.h"

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <vector>

namespace
{

enum Operand { None, U8, U16, U32, Target, Call, Procedure, Constant, String };

struct Op {
    const char *name;
    Operand operand;
};

// Opcode -> mnemonic and operand; an opcode missing here is not one the interpreter runs.
const QHash<quint8, Op> &opcodes()
{
    static const QHash<quint8, Op> table = {
        {0x36, {"32BIT", U8}},
        {0x1B, {"32BIT", U32}},
        {0x10, {"8BIT", U8}},
        {0x01, {"16BIT", U16}},
        {0x0B, {"IF", Target}},
        {0x14, {"GOTO", Target}},
        {0x50, {"GOSUB", Procedure}},
        {0x60, {"CONSTANT_TO_STACK_BUFFER", Constant}},
        {0x16, {"MSG CALL", Call}},
        {0x52, {"PACK", U8}},
        {0x1C, {"FRAME_TO_STACK", U8}},
        {0x1E, {"FRAME_TO_STACK SIGN EXTENSION", U8}},
        {0x18, {"ISTRING", String}},
        {0x02, {"SUM", None}},
        {0x03, {"DEC", None}},
        {0x04, {"AND", None}},
        {0x05, {"OR", None}},
        {0x06, {"XOR", None}},
        {0x07, {"MUL", None}},
        {0x08, {"DIV", None}},
        {0x09, {"EQ", None}},
        {0x0A, {"LT", None}},
        {0x32, {"GT", None}},
        {0x33, {"NE", None}},
        {0x44, {"LTE", None}},
        {0x45, {"GTE", None}},
        {0x40, {"&&", None}},
        {0x41, {"||", None}},
        {0x42, {"SHL", None}},
        {0x43, {"SHR", None}},
        {0x0C, {"VARIABLE_TO_STACK", None}},
        {0x0D, {"VARIABLE_TO_STACK_BUFFER", None}},
        {0x0E, {"STACK_TO_VARIABLE", None}},
        {0x0F, {"STACK_TO_VARIABLE_BUFFER", None}},
        {0x1D, {"FRAME_TO_STACK_BUFFER", None}},
        {0x20, {"FRAME_TO_VARIABLE_BUFFER", None}},
        {0x15, {"MSG BEGIN", None}},
        {0x2F, {"MSG FIN", None}},
        {0x17, {"END", None}},
        {0x51, {"RETURN", None}},
        {0x19, {"DROP3", None}},
        {0x1A, {"DROP2", None}},
        {0x34, {"MEMCPY", None}},
        {0x35, {"MEMSET", None}},
        {0x46, {"MEMCMP", None}},
        {0x24, {"SFLOAT", None}},
        {0x25, {"FLOAT", None}},
        {0x21, {"SWAP", None}},
        {0x23, {"DROP1", None}},
    };
    return table;
}

// A run of one byte value at least this long is one line of data.
constexpr qint64 repeatedRun = 32;

// Constant addresses pushed as numbers carry this bit.
constexpr quint32 constantBit = 0x40000000;

struct Decoded {
    const Op *op = nullptr;
    int length = 0;
    quint32 value = 0;
};

quint32 le(const QByteArray &c, qint64 at, int n)
{
    quint32 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | quint8(c[int(at + i)]);
    return v;
}

// The instruction at `at`, or one with no op when the byte is no opcode or the instruction is cut short.
const Op *opcodeTable(quint8 opcode)
{
    static const std::vector<const Op *> table = [] {
        std::vector<const Op *> t(256, nullptr);
        for (auto it = opcodes().constBegin(); it != opcodes().constEnd(); ++it)
            t[it.key()] = &it.value();
        return t;
    }();
    return table[opcode];
}

Decoded decodeAt(const QByteArray &c, qint64 at)
{
    Decoded d;
    const Op *it = opcodeTable(quint8(c[int(at)]));
    if (!it) return d;
    static const int sizes[] = {0, 1, 2, 4, 2, 1, 2, 2, -1};
    const int n = it->operand == String ? -1 : sizes[it->operand];
    if (n < 0) {
        if (at + 2 > c.size()) return d;
        d.length = 2 + quint8(c[int(at + 1)]);
    } else {
        d.length = 1 + n;
        if (at + d.length <= c.size() && n > 0) d.value = le(c, at + 1, n);
    }
    if (at + d.length > c.size()) return d;
    d.op = it;
    return d;
}

QString quoted(const QByteArray &bytes)
{
    QString s = QStringLiteral("\"");
    for (char ch : bytes) {
        const quint8 b = quint8(ch);
        if (ch == '"' || ch == '\\') {
            s += QLatin1Char('\\');
            s += QLatin1Char(ch);
        } else if (b == '\n')
            s += QStringLiteral("\\n");
        else if (b == '\r')
            s += QStringLiteral("\\r");
        else if (b < 0x20 || b >= 0x7F)
            s += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        else
            s += QLatin1Char(ch);
    }
    return s + QLatin1Char('"');
}

QString hex4(quint32 a)
{
    return QStringLiteral("%1").arg(a, 4, 16, QLatin1Char('0'));
}

class Walker
{
public:
    Walker(const QByteArray &code, const ScriptApi *api, Disassembly &out) : c(code), api(api), out(out)
    {
        owner.assign(size_t(code.size()), -1);
    }

    void run()
    {
        out.tables = ScriptTables::read(c, api);
        out.problems += out.tables.problems;
        start = out.tables.codeStart;
        emitTables();
        std::vector<qint64> work;
        for (const ScriptTables::EventEntry &e : out.tables.events) {
            if (e.handler == 0xFFFF) continue;
            if (e.handler < start || e.handler >= c.size()) {
                out.problems.append(QStringLiteral("the handler of %1 at 0x%2 lies outside the code")
                                        .arg(e.name, hex4(e.handler)));
                continue;
            }
            if (!labels.contains(e.handler)) labels.insert(e.handler, e.name);
            work.push_back(e.handler);
        }
        // Last in, first out: the first handler's code is walked first.
        std::reverse(work.begin(), work.end());
        while (!work.empty()) {
            const qint64 pc = work.back();
            work.pop_back();
            walk(pc, work);
        }
        emitBody();
    }

private:
    const QByteArray &c;
    const ScriptApi *api;
    Disassembly &out;
    qint64 start = 0;
    std::vector<qint64> owner; // start of the instruction that holds each byte
    QMap<qint64, QString> labels;
    QSet<qint64> constants;
    QSet<qint64> reported;

    void emitTables()
    {
        qint64 at = 0;
        for (const ScriptTables::ClassEntry &e : out.tables.classes) {
            DisLine l;
            l.kind = DisLine::Table;
            l.address = quint32(at);
            l.bytes = c.mid(int(at), 2);
            l.mnemonic = QStringLiteral("CLS");
            l.operand = (e.name.isEmpty() ? QString() : e.name + QLatin1Char(' ')) +
                        (e.offset == 0xFFFF ? QStringLiteral("none") : QStringLiteral("0x") + hex4(e.offset));
            out.lines.append(l);
            at += 2;
        }
        for (const ScriptTables::EventEntry &e : out.tables.events) {
            DisLine l;
            l.kind = DisLine::Table;
            l.address = quint32(at);
            l.bytes = c.mid(int(at), 2);
            l.mnemonic = QStringLiteral("EVT");
            l.operand =
                e.name + QLatin1Char(' ') +
                (e.handler == 0xFFFF ? QStringLiteral("none") : QStringLiteral("0x") + hex4(e.handler));
            out.lines.append(l);
            at += 2;
        }
    }

    void problemOnce(qint64 at, const QString &text)
    {
        if (reported.contains(at)) return;
        reported.insert(at);
        out.problems.append(text);
    }

    bool inCode(qint64 from, qint64 target)
    {
        if (target >= start && target < c.size()) return true;
        problemOnce(from, QStringLiteral("the jump at 0x%1 goes to 0x%2, outside the code")
                              .arg(hex4(quint32(from)), hex4(quint32(target))));
        return false;
    }

    void walk(qint64 pc, std::vector<qint64> &work)
    {
        while (pc < c.size()) {
            if (owner[size_t(pc)] == pc) return; // walked before
            if (owner[size_t(pc)] >= 0) {
                problemOnce(pc, QStringLiteral("a jump goes to 0x%1, inside the instruction at 0x%2")
                                    .arg(hex4(quint32(pc)), hex4(quint32(owner[size_t(pc)]))));
                return;
            }
            const Decoded d = decodeAt(c, pc);
            if (!d.op) {
                problemOnce(pc, QStringLiteral("0x%1: 0x%2 is no instruction (shown as data)")
                                    .arg(hex4(quint32(pc)))
                                    .arg(quint8(c[int(pc)]), 2, 16, QLatin1Char('0')));
                return;
            }
            for (qint64 i = pc; i < pc + d.length; ++i)
                if (owner[size_t(i)] >= 0) {
                    problemOnce(pc, QStringLiteral("the instruction at 0x%1 overlaps the one at 0x%2")
                                        .arg(hex4(quint32(pc)), hex4(quint32(owner[size_t(i)]))));
                    return;
                }
            for (qint64 i = pc; i < pc + d.length; ++i)
                owner[size_t(i)] = pc;
            const quint8 opcode = quint8(c[int(pc)]);
            if (d.op->operand == Target || d.op->operand == Procedure) {
                if (inCode(pc, d.value)) {
                    if (!labels.contains(d.value))
                        labels.insert(d.value, (d.op->operand == Procedure ? QStringLiteral("proc_")
                                                                           : QStringLiteral("L_")) +
                                                   hex4(d.value));
                    work.push_back(d.value);
                }
            } else if (d.op->operand == Constant) {
                noteConstant(d.value);
            } else if (opcode == 0x1B && (d.value & constantBit) && !(d.value & 0x80000000)) {
                noteConstant(d.value & ~constantBit);
            }
            if (opcode == 0x17 || opcode == 0x51 || opcode == 0x14) return; // no fall-through
            pc += d.length;
        }
    }

    void noteConstant(quint32 at)
    {
        if (at < quint32(start) || at >= quint32(c.size())) return;
        constants.insert(at);
        if (!labels.contains(at)) labels.insert(at, QStringLiteral("const_") + hex4(at));
    }

    QString operandText(const Decoded &d, qint64 pc) const
    {
        switch (d.op->operand) {
        case None:
            return QString();
        case U8:
        case U16:
            return QString::number(d.value);
        case U32:
            if ((d.value & constantBit) && !(d.value & 0x80000000) &&
                labels.contains(d.value & ~constantBit) && constants.contains(d.value & ~constantBit))
                return QStringLiteral("0x%1 (%2)")
                    .arg(d.value, 8, 16, QLatin1Char('0'))
                    .arg(labels.value(d.value & ~constantBit));
            // memcpy and memset name a frame buffer by its offset with bit 31 set.
            if ((d.value & 0x80000000) && (d.value & 0x7FFFFFFF) < 0x10000)
                return QStringLiteral("0x%1 (frame buffer %2)")
                    .arg(d.value, 8, 16, QLatin1Char('0'))
                    .arg(d.value & 0x7FFFFFFF);
            return d.value > 255 ? QStringLiteral("%1 (0x%2)").arg(qint32(d.value)).arg(d.value, 0, 16)
                                 : QString::number(d.value);
        case Target:
        case Procedure:
        case Constant:
            return labels.value(d.value, QStringLiteral("0x") + hex4(d.value));
        case Call: {
            const QString name = api ? api->commands.value(int(d.value)) : QString();
            return name.isEmpty() ? QStringLiteral("command %1").arg(d.value) : name;
        }
        case String:
            return quoted(c.mid(int(pc + 2), d.length - 2));
        }
        return QString();
    }

    void emitCode(qint64 pc, const Decoded &d, bool reached)
    {
        DisLine l;
        l.kind = DisLine::Code;
        l.address = quint32(pc);
        l.bytes = c.mid(int(pc), d.length);
        l.mnemonic = QString::fromLatin1(d.op->name);
        l.operand = operandText(d, pc);
        l.label = labels.value(pc);
        l.reached = reached;
        out.lines.append(l);
    }

    void emitData(qint64 from, qint64 to)
    {
        // Lines of at most 16 bytes, or one line for a run of a repeated byte (bank padding, erased
        // flash); a label starts a new line.
        while (from < to) {
            const auto label = labels.upperBound(from);
            const qint64 stop = label == labels.constEnd() ? to : qMin(to, label.key());
            qint64 run = from + 1;
            while (run < stop && c[int(run)] == c[int(from)])
                ++run;
            const qint64 end = run - from >= repeatedRun ? run : qMin(stop, from + 16);
            DisLine l;
            l.kind = DisLine::Data;
            l.address = quint32(from);
            l.bytes = c.mid(int(from), int(end - from));
            l.mnemonic = QStringLiteral("DATA");
            l.operand = l.bytes.size() >= repeatedRun ? QStringLiteral("%1 bytes of 0x%2")
                                                            .arg(l.bytes.size())
                                                            .arg(quint8(l.bytes[0]), 2, 16, QLatin1Char('0'))
                                                      : quoted(l.bytes);
            l.label = labels.value(from);
            out.lines.append(l);
            from = end;
        }
    }

    // The next byte from `at` on that walked code holds or a constant starts at, or the end.
    qint64 nextBoundary(qint64 at) const
    {
        for (qint64 i = at; i < c.size(); ++i)
            if (owner[size_t(i)] >= 0 || constants.contains(i)) return i;
        return c.size();
    }

    void emitBody()
    {
        qint64 pc = start;
        while (pc < c.size()) {
            if (owner[size_t(pc)] == pc) {
                emitCode(pc, decodeAt(c, pc), true);
                pc += decodeAt(c, pc).length;
                continue;
            }
            if (constants.contains(pc)) {
                const qint64 end = nextBoundary(pc + 1);
                emitData(pc, end);
                pc = end;
                continue;
            }
            // Neither walked nor referenced: code where it decodes within the gap, else data.
            const qint64 gapEnd = nextBoundary(pc);
            qint64 dataFrom = -1;
            while (pc < gapEnd) {
                const Decoded d = decodeAt(c, pc);
                if (d.op && pc + d.length <= gapEnd) {
                    if (dataFrom >= 0) emitData(dataFrom, pc);
                    dataFrom = -1;
                    emitCode(pc, d, false);
                    pc += d.length;
                } else {
                    if (dataFrom < 0) dataFrom = pc;
                    ++pc;
                }
            }
            if (dataFrom >= 0) emitData(dataFrom, gapEnd);
        }
    }
};

} // namespace

Disassembly disassemble(const QByteArray &code, const ScriptApi *api)
{
    Disassembly d;
    Walker(code, api, d).run();
    return d;
}

QStringList Disassembly::text() const
{
    // Built by hand: a 64 KiB script is some 35000 lines.
    static const char digits[] = "0123456789abcdef";
    QStringList out;
    out.reserve(lines.size() * 11 / 10);
    for (const DisLine &l : lines) {
        if (!l.label.isEmpty()) out.append(l.label + QLatin1Char(':'));
        QString line;
        line.reserve(48 + l.mnemonic.size() + l.operand.size());
        line += QLatin1String("  ");
        for (int shift = 12; shift >= 0; shift -= 4)
            line += QLatin1Char(digits[(l.address >> shift) & 15]);
        line += QLatin1String("  ");
        const int shown = qMin(6, l.bytes.size());
        for (int i = 0; i < shown; ++i) {
            if (i) line += QLatin1Char(' ');
            line += QLatin1Char(digits[quint8(l.bytes[i]) >> 4]);
            line += QLatin1Char(digits[quint8(l.bytes[i]) & 15]);
        }
        if (l.bytes.size() > 6) line += QLatin1String(" ..");
        const int column = 4 + 2 + 20 + 1;
        while (line.size() < column)
            line += QLatin1Char(' ');
        line += l.mnemonic;
        if (!l.operand.isEmpty()) {
            line += QLatin1Char(' ');
            line += l.operand;
        }
        out.append(line);
    }
    return out;
}

QStringList Disassembly::comparable() const
{
    QStringList out;
    for (const DisLine &l : lines) {
        if (!l.label.isEmpty() && !l.label.startsWith(QLatin1String("L_")) &&
            !l.label.startsWith(QLatin1String("proc_")) && !l.label.startsWith(QLatin1String("const_")))
            out.append(l.label + QLatin1Char(':'));
        QString operand = l.operand;
        // Addresses move when code is added above them; names and values are what changed.
        if (l.kind == DisLine::Table || operand.startsWith(QLatin1String("L_")) ||
            operand.startsWith(QLatin1String("proc_")) || operand.startsWith(QLatin1String("const_")))
            operand = QStringLiteral("@");
        out.append(operand.isEmpty() ? l.mnemonic : l.mnemonic + QLatin1Char(' ') + operand);
    }
    return out;
}

QJsonArray Disassembly::json() const
{
    QJsonArray a;
    for (const DisLine &l : lines) {
        QJsonObject o;
        o.insert(QStringLiteral("address"), int(l.address));
        o.insert(QStringLiteral("kind"), l.kind == DisLine::Table  ? QStringLiteral("table")
                                         : l.kind == DisLine::Code ? QStringLiteral("code")
                                                                   : QStringLiteral("data"));
        o.insert(QStringLiteral("bytes"), QString::fromLatin1(l.bytes.toHex()));
        o.insert(QStringLiteral("mnemonic"), l.mnemonic);
        if (!l.operand.isEmpty()) o.insert(QStringLiteral("operand"), l.operand);
        if (!l.label.isEmpty()) o.insert(QStringLiteral("label"), l.label);
        if (l.kind == DisLine::Code) o.insert(QStringLiteral("reached"), l.reached);
        a.append(o);
    }
    return a;
}
