// Finishing the program: the final END, if-nesting, the rewrites repeated until nothing
// changes, and event chaining. Every rewrite first looks, without writing, for the first place
// it applies; from there on it is one linear pass that compacts the list in place.
#include "encoder.h"
#include "scriptcompiler.h"

#include <QHash>

// The rewrites compact the list in place: the kept part never outruns the part being read.
// Everything before `w` at the start is kept as it is.
struct Compactor {
    Program &p;
    size_t w;
    bool changed = false;
    void keep(size_t r)
    {
        if (w != r) p[w] = std::move(p[r]);
        ++w;
    }
    Instruction &back() { return p[w - 1]; }
    bool empty() const { return w == 0; }
    void pop() { --w; }
    // Drops what was not kept; true when the rewrite changed anything.
    bool finish()
    {
        p.erase(p.begin() + long(w), p.end());
        return changed;
    }
};

// The first index from `from` on where a rewrite applies; the list's size when there is none.
template <typename Applies> static size_t firstWhere(const Program &p, size_t from, Applies applies)
{
    if (from > p.size()) return p.size();
    while (from < p.size() && !applies(from))
        ++from;
    return from;
}

static bool isConstantPush(const Instruction &i)
{
    return i.kind == tk::Int32 || i.kind == tk::Int32Alt || i.kind == tk::Id;
}

static constexpr bool binaryOperatorKind(int32_t kind)
{
    switch (kind) {
    case tk::Sum:
    case tk::Dec:
    case tk::Mul:
    case tk::Div:
    case tk::And:
    case tk::Or:
    case tk::Xor:
    case tk::Eq:
    case tk::Ne:
    case tk::Lt:
    case tk::Gt:
    case tk::Lte:
    case tk::Gte:
    case tk::LogicalAnd:
    case tk::LogicalOr:
    case tk::Shl:
    case tk::Shr:
        return true;
    default:
        return false;
    }
}

// Asked for every instruction of every pass: one table load instead of the switch.
struct BinaryOperatorKinds {
    bool is[tk::Invalid + 1] = {};
    constexpr BinaryOperatorKinds()
    {
        for (int k = 0; k <= tk::Invalid; ++k)
            is[k] = binaryOperatorKind(k);
    }
};
static constexpr BinaryOperatorKinds kBinaryOperators{};

static inline bool isBinaryOperator(int32_t kind)
{
    return kind >= 0 && kind <= tk::Invalid && kBinaryOperators.is[kind];
}

// 32-bit signed arithmetic with wrap-around; no operation may trap.
static int32_t fold(int32_t kind, int32_t a, int32_t b)
{
    const uint32_t ua = uint32_t(a);
    const uint32_t ub = uint32_t(b);
    switch (kind) {
    case tk::Sum:
        return int32_t(ua + ub);
    case tk::Dec:
        return int32_t(ua - ub);
    case tk::Mul:
        return int32_t(ua * ub);
    case tk::Div:
        return b == 0 ? 0 : int32_t(int64_t(a) / int64_t(b));
    case tk::And:
        return a & b;
    case tk::Or:
        return a | b;
    case tk::Xor:
        return a ^ b;
    case tk::Eq:
        return a == b;
    case tk::Ne:
        return a != b;
    case tk::Lt:
        return a < b;
    case tk::Gt:
        return a > b;
    case tk::Lte:
        return a <= b;
    case tk::Gte:
        return a >= b;
    case tk::LogicalAnd:
        return a != 0 && b != 0;
    case tk::LogicalOr:
        return a != 0 || b != 0;
    case tk::Shl:
        return int32_t(ua << (ub & 31));
    case tk::Shr:
        return int32_t(ua >> (ub & 31));
    default:
        return 0;
    }
}

static bool foldConstants(Program &p)
{
    Compactor out{p, firstWhere(p, 2, [&](size_t r) {
                      return isBinaryOperator(p[r].kind) && isConstantPush(p[r - 2]) &&
                             isConstantPush(p[r - 1]);
                  })};
    for (size_t r = out.w; r < p.size(); ++r) {
        const Instruction &i = p[r];
        const size_t n = out.w;
        if (isBinaryOperator(i.kind) && n >= 2 && isConstantPush(p[n - 2]) && isConstantPush(p[n - 1])) {
            Instruction &left = p[n - 2];
            const int32_t v = fold(i.kind, left.value, p[n - 1].value);
            left.setKind(tk::Int32);
            left.value = v;
            left.text.clear();
            out.pop();
            out.changed = true;
            continue;
        }
        out.keep(r);
    }
    return out.finish();
}

static inline bool isNarrowable(const Program &p, size_t k)
{
    return (p[k].kind == tk::Int32 || p[k].kind == tk::Int32Alt) && k + 1 < p.size() &&
           (p[k + 1].kind == tk::Drop3 || p[k + 1].kind == tk::Drop2);
}

static bool narrowConstants(Program &p)
{
    Compactor out{p, firstWhere(p, 0, [&](size_t r) { return isNarrowable(p, r); })};
    for (size_t k = out.w; k < p.size(); ++k) {
        Instruction &i = p[k];
        if (isNarrowable(p, k)) {
            const int32_t v = i.value;
            i.setKind(p[k + 1].kind == tk::Drop3 ? tk::Bit8 : tk::Bit16);
            i.value = v;
            out.keep(k);
            ++k;
            out.changed = true;
            continue;
        }
        out.keep(k);
    }
    return out.finish();
}

static bool mergeConstants(Program &p)
{
    Compactor out{p, firstWhere(p, 1, [&](size_t r) {
                      return p[r].kind == p[r - 1].kind && (p[r].kind == tk::Bit8 || p[r].kind == tk::Bit16);
                  })};
    for (size_t r = out.w; r < p.size(); ++r) {
        out.keep(r);
        // Merged pairs may merge again with what precedes them.
        for (;;) {
            const size_t n = out.w;
            if (n < 2 || p[n - 1].kind != p[n - 2].kind) break;
            Instruction &first = p[n - 2];
            const uint32_t a = uint32_t(first.value);
            const uint32_t b = uint32_t(p[n - 1].value);
            if (first.kind == tk::Bit16) {
                first.setKind(tk::Int32);
                first.value = int32_t((a & 0xFFFF) | (b << 16));
            } else if (first.kind == tk::Bit8) {
                first.setKind(tk::Bit16);
                first.value = int32_t((a & 0xFF) | ((b & 0xFF) << 8));
            } else {
                break;
            }
            out.pop();
            out.changed = true;
        }
    }
    return out.finish();
}

// "if <constant>": the IF goes; a true condition drops the else-part, a false one the
// then-part including its ELSE, so that the else-part runs unconditionally.
static bool foldConditions(Program &p)
{
    Compactor out{
        p, firstWhere(p, 1, [&](size_t r) { return p[r].kind == tk::If && isConstantPush(p[r - 1]); })};
    QHash<int32_t, int> dropElseAt; // level -> pending true conditions
    bool skipping = false;
    bool skipElseToo = false;
    int32_t skipLevel = 0;
    for (size_t r = out.w; r < p.size(); ++r) {
        const Instruction &i = p[r];
        if (skipping) {
            if (i.level == skipLevel && (i.kind == tk::EndIf || (skipElseToo && i.kind == tk::Else)))
                skipping = false;
            continue;
        }
        if (i.kind == tk::If && !out.empty() && isConstantPush(out.back())) {
            const bool isTrue = out.back().value != 0;
            out.pop();
            out.changed = true;
            if (isTrue) {
                dropElseAt[i.level]++;
            } else {
                skipping = true;
                skipElseToo = true;
                skipLevel = i.level;
            }
            continue;
        }
        if ((i.kind == tk::Else || i.kind == tk::EndIf) && dropElseAt.value(i.level) > 0) {
            if (--dropElseAt[i.level] == 0) dropElseAt.remove(i.level);
            if (i.kind == tk::Else) {
                skipping = true;
                skipElseToo = false;
                skipLevel = i.level;
                continue;
            }
        }
        out.keep(r);
    }
    return out.finish();
}

// A handler that reaches its END before producing any byte is dropped with its label, so its
// event table entry stays 0xFFFF.
// The END that closes the handler whose label is at k, when no byte comes before it; else 0.
static size_t emptyHandlerEnd(const Program &p, size_t k)
{
    if (p[k].kind != tk::Event) return 0;
    size_t j = k + 1;
    while (j < p.size() && instructionSize(p[j]) == 0 && p[j].kind != tk::Event && p[j].kind != tk::Procedure)
        ++j;
    return j < p.size() && p[j].kind == tk::End && p[j].level == 0 ? j : 0;
}

static bool dropEmptyHandlers(Program &p)
{
    Compactor out{
        p, firstWhere(p, 0, [&](size_t r) { return p[r].kind == tk::Event && emptyHandlerEnd(p, r) != 0; })};
    for (size_t k = out.w; k < p.size(); ++k) {
        if (const size_t end = emptyHandlerEnd(p, k)) {
            k = end;
            out.changed = true;
            continue;
        }
        out.keep(k);
    }
    return out.finish();
}

// A result copied from the response frame straight into a buffer needs no trip over the stack.
static bool copyResponsesDirectly(Program &p)
{
    Compactor out{p, firstWhere(p, 0, [&](size_t r) { return p[r].kind == tk::MsgCall; })};
    bool inCall = false;
    long pending = -1;
    for (size_t r = out.w; r < p.size(); ++r) {
        Instruction &i = p[r];
        if (i.kind == tk::MsgCall) {
            inCall = true;
            pending = -1;
        } else if (i.kind == tk::MsgFin) {
            inCall = false;
            pending = -1;
        } else if (inCall && i.kind == tk::FrameToStackBuffer) {
            pending = long(out.w);
        } else if (inCall && i.kind == tk::StackToVar) {
            pending = -1;
        } else if (inCall && i.kind == tk::StackToVarBuffer && pending >= 0) {
            // Drop the pending copy: shift the few instructions kept after it.
            for (size_t k = size_t(pending); k + 1 < out.w; ++k)
                p[k] = std::move(p[k + 1]);
            out.pop();
            i.setKind(tk::FrameToVarBuffer);
            pending = -1;
            out.changed = true;
        }
        out.keep(r);
    }
    return out.finish();
}

// The rewrites run in their order, round after round, until a whole round changes nothing. A
// round may stop early: once every rewrite has in turn found nothing since the last change, the
// rest of the round would find nothing either.
static void optimise(Program &p)
{
    using Rewrite = bool (*)(Program &);
    static const Rewrite rewrites[] = {foldConstants,  narrowConstants,   mergeConstants,
                                       foldConditions, dropEmptyHandlers, copyResponsesDirectly};
    const size_t count = sizeof(rewrites) / sizeof(rewrites[0]);
    for (size_t i = 0, unchanged = 0; unchanged < count; i = (i + 1) % count)
        unchanged = rewrites[i](p) ? 0 : unchanged + 1;
}

void ScriptCompiler::numberLevels()
{
    int32_t level = 0;
    for (Instruction &i : m_program) {
        if (i.kind == tk::If) ++level;
        i.level = level;
        if (i.kind == tk::EndIf) --level;
    }
}

// Handlers of the same event (for example one in an imported file) run one after the other:
// each handler's END becomes a jump to the next handler's label.
void ScriptCompiler::chainEvents()
{
    QHash<QByteArray, size_t> previous;
    for (size_t k = 0; k < m_program.size(); ++k) {
        if (m_program[k].kind != tk::Event) continue;
        const auto it = previous.find(m_program[k].text);
        if (it != previous.end()) {
            const size_t label = *it;
            for (size_t j = label + 1; j < k; ++j) {
                const Instruction &i = m_program[j];
                if (i.kind == tk::Event || i.kind == tk::Procedure) break;
                if (i.kind == tk::End && i.level == m_program[label].level) {
                    const int32_t level = i.level;
                    m_program[j].setKind(tk::Goto);
                    m_program[j].value = m_program[k].sequence;
                    m_program[j].level = level;
                    break;
                }
            }
        }
        previous.insert(m_program[k].text, k);
    }
}

bool ScriptCompiler::finishProgram()
{
    gen(tk::End);
    numberLevels();
    optimise(m_program);
    chainEvents();
    if (m_bankSize != 0 && m_endAddress != 0 && !padBanks(m_program, m_bankSize, m_endAddress, &m_sequence))
        return false;
    assignAddresses(m_program);
    return resolveTargets(m_program, m_sequence) && checkProgramSize(m_program, m_endAddress);
}
