// Placing the program: bank padding, addresses and the resolution of every target.
#include "layout.h"

#include "consoleoutput.h"
#include "encoder.h"

#include <QByteArray>
#include <QHash>
#include <algorithm>

static bool isTerminator(const Instruction &i)
{
    return i.kind == tk::End || i.kind == tk::Evt || i.kind == tk::Goto || i.kind == tk::Return;
}

static bool isLabel(const Instruction &i)
{
    return i.kind == tk::Event || i.kind == tk::Procedure;
}

namespace
{
struct Padding {
    size_t after; // index of the terminator it follows
    uint32_t count;
    int32_t sequence;
};
} // namespace

// Inserts the paddings, found from the end of the list, after their terminators.
static void insertPaddings(Program &program, const std::vector<Padding> &paddings)
{
    Program out;
    out.reserve(program.size() + paddings.size());
    auto next = paddings.rbegin(); // ascending positions in reverse
    for (size_t k = 0; k < program.size(); ++k) {
        out.push_back(std::move(program[k]));
        for (; next != paddings.rend() && next->after == k; ++next) {
            Instruction pad;
            pad.setKind(tk::Padding);
            pad.value = int32_t(next->count);
            pad.sequence = next->sequence;
            pad.level = out.back().level;
            out.push_back(pad);
        }
    }
    program.swap(out);
}

bool padBanks(Program &program, uint32_t bank, uint32_t endAddress, int32_t *sequence)
{
    uint32_t r = endAddress; // where the block being placed must end
    std::vector<Padding> paddings;
    size_t searchEnd = program.size();
    bool padded = false;
    for (;;) {
        size_t t = searchEnd;
        while (t > 0 && !isTerminator(program[t - 1]))
            --t;
        if (t == 0) break;
        const size_t terminator = t - 1;
        // The block runs back from its terminator to its label, or to the start.
        uint32_t n = 0;
        size_t k = terminator + 1;
        bool labelFound = false;
        while (k > 0 && !labelFound) {
            --k;
            n += instructionSize(program[k]);
            labelFound = isLabel(program[k]);
        }
        if ((r - 1) / bank == (r - n) / bank) {
            if (!labelFound) break;
            r -= n;
            searchEnd = k + 1;
            padded = false;
            continue;
        }
        // Right after padding the block starts at a bank boundary; if it still does not fit,
        // no padding ever will.
        if (padded) {
            printLine("bank padding failed: a block of " + QByteArray::number(n) +
                      " bytes does not fit into a memory bank of " + QByteArray::number(bank) + " bytes");
            return false;
        }
        const uint32_t count = r % bank + 1;
        paddings.push_back({terminator, count, (*sequence)++});
        r -= count;
        padded = true;
        searchEnd = terminator + 1;
    }
    if (!paddings.empty()) insertPaddings(program, paddings);
    return true;
}

void assignAddresses(Program &program)
{
    uint32_t address = 0;
    for (Instruction &i : program) {
        i.address = address;
        address += instructionSize(i);
    }
}

uint32_t programEnd(const Program &program)
{
    return program.empty() ? 0 : program.back().address + instructionSize(program.back());
}

namespace
{
// What each jump is paired with, by index into the program; -1 when it has no partner.
struct Pairs {
    // IF: its ELSE or end-if at its level; ELSE: its end-if; BEGINWHILE: its ENDWHILE;
    // WHILE: its BEGINWHILE. An instruction has one kind, so one list serves all four.
    std::vector<int32_t> partner;
    std::vector<int32_t> bySequence;         // sequence number -> index (GOTO, GOSUB)
    QHash<QByteArray, int32_t> eventLabel;   // the first EVENT label of each name (EVT)
    QHash<QByteArray, int32_t> constantData; // the first CONSTANT_MEMORY of each text
};
} // namespace

static Pairs pairTargets(const Program &program, int32_t sequenceCount)
{
    const size_t n = program.size();
    Pairs pairs;
    pairs.partner.assign(n, -1);
    pairs.bySequence.assign(size_t(std::max(sequenceCount, 0)), -1);
    // Conditions pair forwards at their own level: walking backwards keeps the nearest.
    QHash<int32_t, int32_t> nextElseOrEndIf;
    QHash<int32_t, int32_t> nextEndIf;
    for (size_t k = n; k-- > 0;) {
        const Instruction &i = program[k];
        if (i.kind == tk::If)
            pairs.partner[k] = nextElseOrEndIf.value(i.level, -1);
        else if (i.kind == tk::Else)
            pairs.partner[k] = nextEndIf.value(i.level, -1);
        if (i.kind == tk::Else || i.kind == tk::EndIf) nextElseOrEndIf.insert(i.level, int32_t(k));
        if (i.kind == tk::EndIf) nextEndIf.insert(i.level, int32_t(k));
    }
    // Loops pair by nesting; each WHILE belongs to the innermost open loop.
    std::vector<int32_t> open;
    for (size_t k = 0; k < n; ++k) {
        const Instruction &i = program[k];
        if (i.kind == tk::BeginWhile) {
            open.push_back(int32_t(k));
        } else if (i.kind == tk::While && !open.empty()) {
            pairs.partner[k] = open.back();
        } else if (i.kind == tk::EndWhile && !open.empty()) {
            pairs.partner[size_t(open.back())] = int32_t(k);
            open.pop_back();
        } else if (i.kind == tk::Event && !pairs.eventLabel.contains(i.text)) {
            pairs.eventLabel.insert(i.text, int32_t(k));
        } else if (i.kind == tk::ConstMemory && !pairs.constantData.contains(i.text)) {
            pairs.constantData.insert(i.text, int32_t(k));
        }
        if (i.sequence >= 0 && size_t(i.sequence) < pairs.bySequence.size())
            pairs.bySequence[size_t(i.sequence)] = int32_t(k);
    }
    return pairs;
}

static const int64_t kNoTarget = -2;

// The address an instruction jumps to or refers to: -1 when it is missing, kNoTarget for an
// instruction that refers to nothing.
static int64_t targetAddress(const Program &program, const Pairs &pairs, size_t k)
{
    const Instruction &i = program[k];
    const auto addressAt = [&](int32_t j) {
        return size_t(j) < program.size() ? int64_t(program[size_t(j)].address)
                                          : int64_t(programEnd(program));
    };
    const int32_t partner = pairs.partner[k];
    switch (i.kind) {
    case tk::If:
        if (partner < 0) return -1;
        // Past the ELSE into the else-part, or onto the end-if.
        return program[size_t(partner)].kind == tk::Else ? addressAt(partner + 1) : addressAt(partner);
    case tk::Else:
        return partner < 0 ? -1 : addressAt(partner);
    case tk::While: {
        const int32_t end = partner < 0 ? -1 : pairs.partner[size_t(partner)];
        return end < 0 ? -1 : addressAt(end + 1);
    }
    case tk::Goto:
    case tk::Gosub: {
        const bool known = i.value >= 0 && size_t(i.value) < pairs.bySequence.size();
        const int32_t j = known ? pairs.bySequence[size_t(i.value)] : -1;
        return j < 0 ? -1 : addressAt(j);
    }
    case tk::Evt: {
        const int32_t j = pairs.eventLabel.value(i.text, -1);
        return j < 0 ? 0xFFFF : addressAt(j); // 0xFFFF: the script has no handler
    }
    case tk::ConstToStackBuffer:
    case tk::ConstAddress: {
        const int32_t j = pairs.constantData.value(i.text, -1);
        if (j < 0) return -1;
        return addressAt(j) | (i.kind == tk::ConstAddress ? 0x40000000 : 0);
    }
    default:
        return kNoTarget;
    }
}

static QByteArray missingTarget(const Instruction &i)
{
    switch (i.kind) {
    case tk::If:
        return "IF with no end if";
    case tk::Else:
        return "ELSE with no end if";
    case tk::BeginWhile:
    case tk::While:
        return "WHILE with no end while";
    case tk::Goto:
    case tk::Gosub:
        return "jump target not found: " + i.text;
    default:
        return "constant data not found";
    }
}

bool resolveTargets(Program &program, int32_t sequenceCount)
{
    const Pairs pairs = pairTargets(program, sequenceCount);
    for (size_t k = 0; k < program.size(); ++k) {
        Instruction &i = program[k];
        if (i.kind == tk::BeginWhile) {
            // The loop's end jumps back here.
            const int32_t end = pairs.partner[k];
            if (end >= 0) {
                program[size_t(end)].value = int32_t(i.address);
                continue;
            }
        } else {
            const int64_t target = targetAddress(program, pairs, k);
            if (target == kNoTarget) continue;
            if (target >= 0) {
                i.value = int32_t(target);
                continue;
            }
        }
        printLine(missingTarget(i));
        return false;
    }
    return true;
}

bool checkProgramSize(const Program &program, uint32_t endAddress)
{
    const uint64_t size = programEnd(program);
    if (size > uint64_t(kAddressSpace)) {
        printLine("program too large: " + QByteArray::number(qulonglong(size)) +
                  " bytes, byte code addresses reach " + QByteArray::number(qlonglong(kAddressSpace)) +
                  " bytes");
        return false;
    }
    if (endAddress != 0 && size > endAddress) {
        printLine("end address " + QByteArray::number(endAddress) + " is below the program size of " +
                  QByteArray::number(qulonglong(size)) + " bytes");
        return false;
    }
    return true;
}
