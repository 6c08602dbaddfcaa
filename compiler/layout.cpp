// Placing the program: bank padding, addresses and the resolution of every target.
#include "consoleoutput.h"
#include "encoder.h"
#include "scriptcompiler.h"

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

// Lays the program out downwards from the end address, block by block (label to terminator),
// padding with 0xFF so that no block spans a bank boundary.
bool ScriptCompiler::padBanks()
{
    const uint32_t bank = m_bankSize;
    uint32_t r = m_endAddress;
    struct Pad {
        size_t after; // index of the terminator it follows
        uint32_t count;
        int32_t sequence; // numbered as the walk creates it
    };
    std::vector<Pad> paddings;
    size_t searchEnd = m_program.size();
    bool padded = false;
    for (;;) {
        size_t t = searchEnd;
        while (t > 0 && !isTerminator(m_program[t - 1]))
            --t;
        if (t == 0) break;
        const size_t terminator = t - 1;
        uint32_t n = 0;
        size_t k = terminator + 1;
        bool labelFound = false;
        while (k > 0) {
            --k;
            n += instructionSize(m_program[k]);
            if (isLabel(m_program[k])) {
                labelFound = true;
                break;
            }
        }
        if ((r - 1) / bank == (r - n) / bank) {
            r -= n;
            searchEnd = labelFound ? k + 1 : 0;
            if (!labelFound) break;
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
        paddings.push_back({terminator, count, m_sequence++});
        r -= count;
        padded = true;
        searchEnd = terminator + 1;
    }
    if (paddings.empty()) return true;
    std::vector<Instruction> out;
    out.reserve(m_program.size() + paddings.size());
    auto next = paddings.rbegin(); // found from the end: ascending positions in reverse
    for (size_t k = 0; k < m_program.size(); ++k) {
        out.push_back(std::move(m_program[k]));
        for (; next != paddings.rend() && next->after == k; ++next) {
            Instruction pad;
            pad.setKind(tk::Padding);
            pad.value = int32_t(next->count);
            pad.sequence = next->sequence;
            pad.level = out.back().level;
            out.push_back(pad);
        }
    }
    m_program.swap(out);
    return true;
}

void ScriptCompiler::assignAddresses()
{
    uint32_t address = 0;
    for (Instruction &i : m_program) {
        i.address = address;
        address += instructionSize(i);
    }
}

// Jump targets, table entries and constant addresses are 16-bit operands: a larger program
// would have them cut short. The load addresses of the listing count down from the end address.
bool ScriptCompiler::checkProgramSize() const
{
    const uint64_t size =
        m_program.empty() ? 0 : uint64_t(m_program.back().address) + instructionSize(m_program.back());
    if (size > uint64_t(kAddressSpace)) {
        printLine("program too large: " + QByteArray::number(qulonglong(size)) +
                  " bytes, byte code addresses reach " + QByteArray::number(qlonglong(kAddressSpace)) +
                  " bytes");
        return false;
    }
    if (m_endAddress != 0 && size > m_endAddress) {
        printLine("end address " + QByteArray::number(m_endAddress) + " is below the program size of " +
                  QByteArray::number(qulonglong(size)) + " bytes");
        return false;
    }
    return true;
}

bool ScriptCompiler::resolveTargets()
{
    const size_t n = m_program.size();
    const uint32_t endAddress = n == 0 ? 0 : m_program.back().address + instructionSize(m_program.back());
    auto addressAt = [&](size_t k) { return k < n ? m_program[k].address : endAddress; };

    // The partner of each jump, by index (-1 when missing): for an IF the first ELSE or end-if
    // at its level after it, for an ELSE the first end-if at its level, for a BEGINWHILE its
    // ENDWHILE, for a WHILE its BEGINWHILE. One list serves all four: an instruction has one kind.
    std::vector<int32_t> partner(n, -1);
    std::vector<int32_t> &ifTarget = partner;
    std::vector<int32_t> &elseTarget = partner;
    std::vector<int32_t> &loopEnd = partner;
    std::vector<int32_t> &whileBegin = partner;
    QHash<int32_t, int32_t> nextElseOrEndIf;
    QHash<int32_t, int32_t> nextEndIf;
    for (size_t k = n; k-- > 0;) {
        const Instruction &i = m_program[k];
        if (i.kind == tk::If)
            ifTarget[k] = nextElseOrEndIf.value(i.level, -1);
        else if (i.kind == tk::Else)
            elseTarget[k] = nextEndIf.value(i.level, -1);
        if (i.kind == tk::Else || i.kind == tk::EndIf) nextElseOrEndIf.insert(i.level, int32_t(k));
        if (i.kind == tk::EndIf) nextEndIf.insert(i.level, int32_t(k));
    }
    // Loops pair up by nesting; each WHILE belongs to the innermost open loop.
    std::vector<size_t> open;
    std::vector<int32_t> bySequence(size_t(std::max(m_sequence, 0)), -1);
    QHash<QByteArray, size_t> eventLabels;
    QHash<QByteArray, size_t> constantData;
    for (size_t k = 0; k < n; ++k) {
        const Instruction &i = m_program[k];
        if (i.kind == tk::BeginWhile) {
            open.push_back(k);
        } else if (i.kind == tk::While && !open.empty()) {
            whileBegin[k] = int32_t(open.back());
        } else if (i.kind == tk::EndWhile && !open.empty()) {
            loopEnd[open.back()] = int32_t(k);
            open.pop_back();
        } else if (i.kind == tk::Event && !eventLabels.contains(i.text)) {
            eventLabels.insert(i.text, k);
        } else if (i.kind == tk::ConstMemory && !constantData.contains(i.text)) {
            constantData.insert(i.text, k);
        }
        if (i.sequence >= 0 && size_t(i.sequence) < bySequence.size())
            bySequence[size_t(i.sequence)] = int32_t(k);
    }

    for (size_t k = 0; k < n; ++k) {
        Instruction &i = m_program[k];
        switch (i.kind) {
        case tk::If: {
            const int32_t j = ifTarget[k];
            if (j < 0) {
                printLine("IF with no end if");
                return false;
            }
            i.value = int32_t(m_program[size_t(j)].kind == tk::Else ? addressAt(size_t(j) + 1)
                                                                    : addressAt(size_t(j)));
            break;
        }
        case tk::Else:
            if (elseTarget[k] < 0) {
                printLine("ELSE with no end if");
                return false;
            }
            i.value = int32_t(addressAt(size_t(elseTarget[k])));
            break;
        case tk::BeginWhile:
            if (loopEnd[k] < 0) {
                printLine("WHILE with no end while");
                return false;
            }
            m_program[size_t(loopEnd[k])].value = int32_t(i.address);
            break;
        case tk::While:
            if (whileBegin[k] < 0 || loopEnd[size_t(whileBegin[k])] < 0) {
                printLine("WHILE with no end while");
                return false;
            }
            i.value = int32_t(addressAt(size_t(loopEnd[size_t(whileBegin[k])]) + 1));
            break;
        case tk::Goto:
        case tk::Gosub: {
            const int32_t target =
                (i.value >= 0 && size_t(i.value) < bySequence.size()) ? bySequence[size_t(i.value)] : -1;
            if (target < 0) {
                printLine("jump target not found: " + i.text);
                return false;
            }
            i.value = int32_t(m_program[size_t(target)].address);
            break;
        }
        case tk::Evt:
            i.value =
                eventLabels.contains(i.text) ? int32_t(m_program[eventLabels.value(i.text)].address) : 0xFFFF;
            break;
        case tk::ConstToStackBuffer:
        case tk::ConstAddress: {
            const auto it = constantData.constFind(i.text);
            if (it == constantData.constEnd()) {
                printLine("constant data not found");
                return false;
            }
            i.value = int32_t(m_program[*it].address | (i.kind == tk::ConstAddress ? 0x40000000u : 0u));
            break;
        }
        default:
            break;
        }
    }
    return true;
}
