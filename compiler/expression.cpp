// Expressions by operator precedence, variable loads and stores, and buffer slices.
#include "scriptcompiler.h"

using namespace tollan;

static const int kMaxExpressionDepth = 1000;

// Smaller numbers bind tighter; 255 never pops anything (and is what "(" has).
static int priority(int32_t kind)
{
    switch (kind) {
    case tk::Mul:
    case tk::Div:
        return 3;
    case tk::Sum:
    case tk::Dec:
        return 4;
    case tk::Shl:
    case tk::Shr:
        return 5;
    case tk::Lt:
    case tk::Gt:
    case tk::Lte:
    case tk::Gte:
        return 6;
    case tk::Eq:
    case tk::Ne:
        return 7;
    case tk::And:
        return 8;
    case tk::Xor:
        return 9;
    case tk::Or:
        return 10;
    case tk::LogicalAnd:
        return 11;
    case tk::LogicalOr:
        return 12;
    default:
        return 255;
    }
}

ScriptCompiler::Parsed ScriptCompiler::parseExpression()
{
    // expr ::= LEFT_P expr RIGHT_P | expr <operator> expr | INTEGER | variable | func | ISTRING.
    // Nested expressions (slices, function arguments) stack their operators above ours.
    std::vector<int32_t> &operators = m_operators;
    const size_t base = operators.size();
    int openParens = 0;
    bool wantOperand = true;
    bool readAny = false;
    for (;;) {
        const Instruction &t = peek();
        if (wantOperand) {
            if (t.kind == tk::LeftP) {
                take();
                operators.push_back(tk::LeftP);
                ++openParens;
                readAny = true;
                continue;
            }
            const Parsed r = parseOperand();
            if (r == Parsed::Failed) return dropOperators(base, r);
            if (r == Parsed::Empty) {
                if (!readAny) return dropOperators(base, Parsed::Empty);
                fail("Parsing expression failed");
                return dropOperators(base, Parsed::Failed);
            }
            readAny = true;
            wantOperand = false;
            continue;
        }
        const int p = priority(t.kind);
        if (p != 255) {
            take();
            while (operators.size() > base && priority(operators.back()) <= p)
                gen(operators.back()), operators.pop_back();
            operators.push_back(t.kind);
            wantOperand = true;
            continue;
        }
        if (t.kind == tk::RightP && openParens > 0) {
            take();
            while (operators.back() != tk::LeftP)
                gen(operators.back()), operators.pop_back();
            operators.pop_back();
            --openParens;
            continue;
        }
        break;
    }
    while (operators.size() > base) {
        if (operators.back() == tk::LeftP) {
            fail("expecting right parentheses");
            return dropOperators(base, Parsed::Failed);
        }
        gen(operators.back());
        operators.pop_back();
    }
    return Parsed::Ok;
}

ScriptCompiler::Parsed ScriptCompiler::dropOperators(size_t base, Parsed result)
{
    m_operators.resize(base);
    return result;
}

bool ScriptCompiler::expression()
{
    // Function arguments and buffer slices are read by recursion, one level per nesting.
    if (m_expressionDepth >= kMaxExpressionDepth) return fail("expression nested too deeply");
    ++m_expressionDepth;
    const Parsed r = parseExpression();
    --m_expressionDepth;
    if (r == Parsed::Empty) return fail("Parsing expression failed");
    return r == Parsed::Ok;
}

ScriptCompiler::Parsed ScriptCompiler::parseOperand()
{
    const Instruction &t = peek();
    switch (t.kind) {
    case tk::Int32:
        gen(tk::Int32, take().value);
        return Parsed::Ok;
    case tk::IString:
        // The inline form has a one-byte length: longer strings cannot be encoded.
        if (t.text.size() > 255) {
            fail("string too long", "a string value holds at most 255 bytes");
            return Parsed::Failed;
        }
        gen(tk::IString, 0, take().text);
        return Parsed::Ok;
    case tk::Float:
    case tk::SFloat:
    case tk::Memcmp:
        return parseFunction(t.kind) ? Parsed::Ok : Parsed::Failed;
    case tk::Id:
        return loadVariable() ? Parsed::Ok : Parsed::Failed;
    default:
        return Parsed::Empty;
    }
}

bool ScriptCompiler::parseFunction(int32_t kind)
{
    // func ::= FLOAT|SFLOAT LEFT_P expr COMMA expr RIGHT_P | MEMCMP LEFT_P expr COMMA expr COMMA expr
    // RIGHT_P.
    take();
    if (!need(tk::LeftP)) return false;
    if (kind == tk::Memcmp) {
        if (!bufferArgument(false) || !need(tk::Comma) || !bufferArgument(false) || !need(tk::Comma))
            return false;
    } else if (!expression() || !need(tk::Comma)) {
        return false;
    }
    if (!expression() || !need(tk::RightP)) return false;
    gen(kind);
    return true;
}

const Symbol *ScriptCompiler::findNamed(bool *parenthesised)
{
    return findNamed(parenthesised, lookupVariable(peek().text));
}

// `s` is what the name of the next token resolves to, when the caller has looked it up already.
const Symbol *ScriptCompiler::findNamed(bool *parenthesised, const Symbol *s)
{
    const QByteArray name = take().text;
    *parenthesised = peek().kind == tk::LeftP;
    if (!s) {
        if (*parenthesised)
            fail("expecting buffer or function", name + " is not declared");
        else
            fail("variable not defined", name + " is not defined as variable");
    } else if (!s->buffer && *parenthesised) {
        fail("expecting buffer or function", name + " is not declared");
        return nullptr;
    } else if (s->buffer && !*parenthesised) {
        fail("expected buffer index", name + " is a buffer");
        return nullptr;
    }
    return s;
}

bool ScriptCompiler::loadVariable()
{
    // expr ::= variable.
    bool parenthesised = false;
    const Symbol *found = findNamed(&parenthesised);
    if (!found) return false;
    const Symbol &s = *found;
    if (s.constant && !s.buffer) {
        gen(tk::Int32, s.value);
        return true;
    }
    if (s.constant) {
        if (!slice(s, true)) return false;
        gen(tk::ConstToStackBuffer, 0, s.text);
        return true;
    }
    gen(tk::Id, int32_t(s.address));
    if (s.buffer) {
        if (!slice(s, false)) return false;
        gen(s.frame ? tk::FrameToStackBuffer : tk::VarToStackBuffer);
        return true;
    }
    if (s.frame) {
        const bool sign = s.type == ty::Int8 || s.type == ty::Int16;
        gen(sign ? tk::FrameToStackSigned : tk::FrameToStack, int32_t(s.size));
    } else {
        gen(tk::VarToStack);
    }
    return true;
}

bool ScriptCompiler::storeTarget(bool isResult)
{
    // The target of command ::= variable EQ expr EOL, or of a call's result list.
    if (peek().kind != tk::Id)
        return fail("variable not defined", peek().text + " is not defined as variable");
    const QByteArray name = peek().text;
    const Symbol *visible = lookupVariable(name);
    if (visible && visible->frame) {
        if (isResult)
            return fail("parameter variable are read only",
                        name + " is read only parameter variable and cannot be used as return value");
        return fail("assignment to parameter", name + " is a constant read only parameter.");
    }
    if (visible && visible->constant) return fail("assignment to constant", name + " is a constant.");
    bool parenthesised = false;
    const Symbol *found = findNamed(&parenthesised, visible);
    if (!found) return false;
    const Symbol &s = *found;
    m_lastTargetIsBuffer = s.buffer;
    gen(tk::Id, int32_t(s.address));
    if (s.buffer) {
        if (!slice(s, false)) return false;
        gen(tk::StackToVarBuffer);
    } else {
        gen(tk::StackToVar);
    }
    return true;
}

// After the buffer's address push: "(i)" 4 bytes at i, "(i:n)", "(:n)", "(i:)" and "(:)" up to
// the declared size. Constant data has no address push, so its offset is always pushed.
bool ScriptCompiler::slice(const Symbol &symbol, bool constantData)
{
    // variable ::= IDENTIFIER LEFT_P expr|COLON expr|expr COLON expr|COLON RIGHT_P.
    if (!need(tk::LeftP)) return false;
    if (peek().kind == tk::Colon) {
        take();
        if (constantData) gen(tk::Int32, 0);
    } else {
        if (!expression()) return false;
        if (!constantData) gen(tk::Sum);
        if (peek().kind == tk::RightP) {
            take();
            gen(tk::Int32, 4);
            return true;
        }
        if (!need(tk::Colon)) return false;
    }
    if (peek().kind == tk::RightP) {
        take();
        gen(tk::Int32, int32_t(symbol.size));
        return true;
    }
    return expression() && need(tk::RightP);
}

// memcpy, memset and memcmp take a buffer with a position: the address plus the index.
bool ScriptCompiler::bufferArgument(bool destination)
{
    const QByteArray name = peek().text;
    if (peek().kind != tk::Id) return fail("expecting buffer", name + " is not a buffer");
    take();
    const Symbol *found = lookupVariable(name);
    if (!found) return fail("variable not defined", name + " is not defined as variable");
    const Symbol &s = *found;
    if (!s.buffer) return fail("expecting buffer", name + " is not a buffer");
    if (destination && s.constant) return fail("assignment to constant", name + " is a constant.");
    if (peek().kind != tk::LeftP)
        return fail("expected buffer index", name + " need buffer position definition in parentheses.");
    take();
    if (peek().kind == tk::Colon)
        return fail("buffer size not allowed", name + " does not need size of buffer to be defined");
    if (s.constant)
        gen(tk::ConstAddress, 0, s.text);
    else
        gen(tk::Id, int32_t(s.frame ? (s.address | 0x80000000u) : s.address));
    if (!expression()) return false;
    if (peek().kind == tk::Colon)
        return fail("buffer size not allowed", name + " does not need size of buffer to be defined");
    if (!need(tk::RightP)) return false;
    gen(tk::Sum);
    return true;
}
