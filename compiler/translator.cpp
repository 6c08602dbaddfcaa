// Statement translation: a line that passed the parser is read again from its tokens, names
// are resolved and checked, and instructions are emitted.
#include "scriptcompiler.h"

using namespace tollan;

static const int kMaxImportDepth = 1000;

bool ScriptCompiler::translateLine()
{
    m_pos = 0;
    m_export = false;
    genCopy(take()); // the line's DEBUG marker
    for (;;) {
        if (peek().kind == tk::Eol) {
            genCopy(take());
            return true;
        }
        if (!translateStatement()) return false;
    }
}

bool ScriptCompiler::translateStatement()
{
    switch (peek().kind) {
    case tk::Export:
        take();
        m_export = true;
        return true;
    case tk::Dim:
        return translateDim();
    case tk::Constant:
        return translateConst();
    case tk::Event:
        return translateEvent();
    case tk::Procedure:
        return translateProcedure();
    case tk::End:
        return translateEnd();
    case tk::Return:
        return translateReturn();
    case tk::MsgCall:
        return translateCall();
    case tk::Let:
        take();
        return translateAssignment();
    case tk::Id:
        return translateAssignment();
    case tk::Memcpy:
    case tk::Memset:
        return translateMemory(peek().kind);
    case tk::If:
    case tk::While:
        return translateCondition(peek().kind);
    case tk::Then:
        take();
        gen(tk::Then);
        return true;
    case tk::Else:
        take();
        gen(tk::Else);
        return true;
    case tk::Import:
        return translateImport();
    case tk::Invalid:
        return fail("syntax");
    default:
        return fail("syntax error");
    }
}

bool ScriptCompiler::translateDim()
{
    // sourceElement ::= exports DIM declarations EOL.
    return translateGlobals("only global variables or buffers are supported", &ScriptCompiler::readVariable);
}

bool ScriptCompiler::translateConst()
{
    // sourceElement ::= exports CONSTANT const_declarations EOL.
    return translateGlobals("only global constants are supported", &ScriptCompiler::readConstant);
}

// A comma-separated list of globals: each name is visible from every file after "export",
// else from its own file only, and is checked for collisions before the rest is read.
bool ScriptCompiler::translateGlobals(const char *insideBody, bool (ScriptCompiler::*readRest)(Symbol &))
{
    if (m_scope.open) return fail(insideBody);
    take();
    for (;;) {
        if (peek().kind != tk::Id) return need(tk::Id);
        Symbol s;
        s.name = take().text;
        s.file = m_export ? QString() : m_currentFile;
        if (!checkCollision(s.name) || !(this->*readRest)(s) || !appendGlobal(s)) return false;
        if (peek().kind != tk::Comma) return true;
        take();
    }
}

// declaration ::= IDENTIFIER | IDENTIFIER LEFT_P INTEGER RIGHT_P (after the name).
bool ScriptCompiler::readVariable(Symbol &s)
{
    s.type = ty::Int32;
    s.size = 4;
    if (peek().kind != tk::LeftP) return true;
    take();
    if (peek().kind != tk::Int32) return need(tk::Int32);
    const int32_t size = take().value;
    if (size < 0)
        return fail("buffer size out of range",
                    s.name + " cannot have a size of " + QByteArray::number(size));
    s.type = ty::Uint8Array;
    s.buffer = true;
    s.size = uint32_t(size);
    return need(tk::RightP);
}

// const_declaration ::= IDENTIFIER EQ INTEGER | IDENTIFIER LEFT_P RIGHT_P EQ ISTRING (after the name).
bool ScriptCompiler::readConstant(Symbol &s)
{
    s.constant = true;
    if (peek().kind == tk::LeftP) {
        take();
        if (!need(tk::RightP) || !need(tk::Eq)) return false;
        if (peek().kind != tk::IString) return need(tk::IString);
        s.type = ty::Uint8Array;
        s.buffer = true;
        s.text = take().text;
        s.size = uint32_t(s.text.size());
        // String constants are data inside the code, placed where they are declared.
        gen(tk::ConstMemory, 0, s.text);
        return true;
    }
    if (!need(tk::Eq)) return false;
    if (peek().kind != tk::Int32) return need(tk::Int32);
    s.type = ty::Int32;
    s.value = take().value;
    s.size = 0;
    return true;
}

bool ScriptCompiler::translateEvent()
{
    // sourceElement ::= EVENT IDENTIFIER LEFT_P declarations RIGHT_P EOL commands END.
    if (m_scope.open) return fail("expecting end before event");
    take();
    if (peek().kind != tk::Id) return need(tk::Id);
    const QByteArray name = take().text;
    const ApiMessage *event = m_api.findEvent(name);
    if (!event) return fail("Unknown event", name + " is not defined event");
    if (!need(tk::LeftP)) return false;
    m_scope.params.clear();
    m_scope.open = true;
    m_scope.isEvent = true;
    for (int i = 0; i < event->params.size(); ++i) {
        if (i > 0 && peek().kind != tk::RightP && !need(tk::Comma)) return false;
        if (peek().kind != tk::Id) return need(tk::Id);
        Symbol s;
        s.name = take().text;
        s.file = m_currentFile;
        s.type = event->params.at(i).type;
        s.size = apiTypeSize(s.type);
        s.buffer = apiTypeIsBuffer(s.type);
        if (!declareParameter(s)) return false;
    }
    if (!need(tk::RightP)) return false;
    gen(tk::Event, 0, name);
    return true;
}

bool ScriptCompiler::translateProcedure()
{
    // sourceElement ::= exports PROCEDURE IDENTIFIER LEFT_P declarations RIGHT_P EOL commands END.
    if (m_scope.open) return fail("expecting end before procedure");
    take();
    if (peek().kind != tk::Id) return need(tk::Id);
    Procedure procedure;
    procedure.name = take().text;
    procedure.file = m_export ? QString() : m_currentFile;
    if (!need(tk::LeftP)) return false;
    m_scope.params.clear();
    m_scope.open = true;
    m_scope.isEvent = false;
    if (peek().kind != tk::RightP) {
        for (;;) {
            if (peek().kind != tk::Id) return need(tk::Id);
            Symbol s;
            s.name = take().text;
            s.file = m_currentFile;
            s.type = ty::Int32;
            bool isBuffer = false;
            if (peek().kind == tk::LeftP) {
                take();
                if (!need(tk::RightP)) return false;
                s.type = ty::Uint8Array;
                isBuffer = true;
            }
            s.size = apiTypeSize(s.type);
            s.buffer = isBuffer;
            if (!declareParameter(s)) return false;
            procedure.params.append(m_scope.params.symbols().last());
            // A buffer parameter takes the rest of the frame, so it must come last.
            if (isBuffer && peek().kind != tk::RightP) return need(tk::RightP);
            if (peek().kind != tk::Comma) break;
            take();
        }
    }
    if (!need(tk::RightP)) return false;
    procedure.labelSequence = gen(tk::Procedure, 0, procedure.name).sequence;
    m_procedures.add(procedure);
    return true;
}

bool ScriptCompiler::translateEnd()
{
    // command ::= IF ... END IF | WHILE ... END WHILE; sourceElement ::= ... commands END.
    take();
    if (peek().kind == tk::If) {
        take();
        gen(tk::EndIf);
        return true;
    }
    if (peek().kind == tk::While) {
        take();
        gen(tk::EndWhile);
        return true;
    }
    if (!m_scope.open) return fail("syntax error");
    gen(m_scope.isEvent ? tk::End : tk::Return);
    m_scope.open = false;
    m_scope.params.clear();
    return true;
}

bool ScriptCompiler::translateReturn()
{
    // "return" has no rule: the parser never sees it, so the line reads as command ::= EOL.
    take();
    if (!m_scope.open) return fail("syntax error");
    gen(m_scope.isEvent ? tk::End : tk::Return);
    return true;
}

bool ScriptCompiler::translateCall()
{
    // command ::= CALL IDENTIFIER LEFT_P parameters RIGHT_P [LEFT_P parameters RIGHT_P] EOL.
    take();
    if (peek().kind != tk::Id) return need(tk::Id);
    const QByteArray name = take().text;
    const ApiMessage *command = m_api.findCommand(name);
    const Procedure *procedure = command ? nullptr : m_procedures.findVisible(name, m_currentFile);
    if (!command && !procedure) return fail("message or procedure not defined", name + " is not defined");
    QVector<int> types;
    if (command) {
        for (const ApiParam &p : command->params)
            types.append(p.type);
    } else {
        for (const Symbol &p : procedure->params)
            types.append(p.type);
    }
    if (!need(tk::LeftP)) return false;
    gen(tk::MsgBegin);
    for (int i = 0; i < types.size(); ++i) {
        if (i > 0 && !need(tk::Comma)) return false;
        if (!translateArgument(types.at(i))) return false;
    }
    if (!need(tk::RightP)) return false;
    if (command)
        gen(tk::MsgCall, command->script, name);
    else
        gen(tk::Gosub, procedure->labelSequence, name);
    if (peek().kind == tk::LeftP) {
        const ApiMessage *response = command ? m_api.findResponse(name) : nullptr;
        if (!response) return fail("response not defined", name + " does not have any response defined");
        take();
        if (!translateResults(*response)) return false;
    }
    gen(tk::MsgFin);
    return true;
}

bool ScriptCompiler::translateArgument(int type)
{
    // parameter ::= expr | . (an empty argument stands for the next one's length)
    if (type < ty::Uint8 || type > ty::Uint16Array) return fail("parameter not supported");
    const Instruction &first = peek();
    if (first.kind == tk::Comma || first.kind == tk::RightP) {
        // An empty argument stands for the length of the argument that follows it.
        const Instruction &following = peek(1);
        if (first.kind == tk::Comma && following.kind == tk::Id) {
            const Symbol *s = lookupVariable(following.text);
            if (!s) return fail("variable not defined", following.text + " is not defined as variable");
            gen(tk::Int32, int32_t(s->size));
        } else if (first.kind == tk::Comma && following.kind == tk::IString) {
            gen(tk::Int32, following.text.size());
        } else {
            return fail("Using empty parameter expects next parameter to be variable or string");
        }
    } else if ((type == ty::Uint8Array || type == ty::String || type == ty::Uint16Array) &&
               first.kind == tk::IString) {
        if (parseOperand() != Parsed::Ok) return false;
    } else if (!expression()) {
        return false;
    }
    switch (type) {
    case ty::Uint8:
    case ty::Int8:
        gen(tk::Drop3);
        break;
    case ty::Uint16:
    case ty::Int16:
        gen(tk::Drop2);
        if (m_packMode) gen(tk::Pack, 1);
        break;
    case ty::Uint32:
    case ty::Int32:
        if (m_packMode) gen(tk::Pack, 2);
        break;
    default:
        break;
    }
    return true;
}

bool ScriptCompiler::translateResults(const ApiMessage &response)
{
    // The second parameter list of a call: the variables that receive the response.
    int32_t offset = 0;
    bool hasPrevious = false;
    bool previousIsBuffer = false;
    std::vector<Instruction> previousPush;
    for (int i = 0; i < response.params.size(); ++i) {
        // The list may name fewer targets than the response has values.
        if (peek().kind == tk::RightP) break;
        if (i > 0 && !need(tk::Comma)) return false;
        const uint32_t size = apiTypeSize(response.params.at(i).type);
        gen(tk::Int32, offset);
        if (size > 0) {
            gen(tk::Int32, int32_t(size));
        } else if (hasPrevious) {
            // A variable-size value is as long as the previous result says.
            for (const Instruction &push : previousPush)
                genCopy(push);
            gen(previousIsBuffer ? tk::VarToStackBuffer : tk::VarToStack);
        } else {
            gen(tk::Int32, 0);
        }
        gen(tk::FrameToStackBuffer);
        const size_t pushStart = m_program.size();
        if (!storeTarget(true)) return false;
        previousPush.assign(m_program.begin() + long(pushStart), m_program.end() - 1);
        previousIsBuffer = m_lastTargetIsBuffer;
        hasPrevious = true;
        offset += int32_t(size);
    }
    return need(tk::RightP);
}

bool ScriptCompiler::translateAssignment()
{
    // command ::= variable EQ expr EOL.
    // The target is resolved after the expression: skip over it first.
    const size_t target = m_pos;
    if (peek().kind != tk::Id) return need(tk::Id);
    take();
    if (peek().kind == tk::LeftP) {
        int depth = 0;
        do {
            const int32_t k = take().kind;
            if (k == tk::LeftP)
                ++depth;
            else if (k == tk::RightP)
                --depth;
            else if (k == tk::Eol)
                return fail("expecting )");
        } while (depth > 0);
    }
    if (!need(tk::Eq) || !expression()) return false;
    const size_t after = m_pos;
    m_pos = target;
    if (!storeTarget(false)) return false;
    m_pos = after;
    return true;
}

bool ScriptCompiler::translateMemory(int32_t kind)
{
    // command ::= MEMCPY|MEMSET LEFT_P expr COMMA expr COMMA expr RIGHT_P.
    take();
    if (!need(tk::LeftP) || !bufferArgument(true) || !need(tk::Comma)) return false;
    if (!(kind == tk::Memcpy ? bufferArgument(false) : expression())) return false;
    if (!need(tk::Comma) || !expression() || !need(tk::RightP)) return false;
    gen(kind);
    return true;
}

bool ScriptCompiler::translateCondition(int32_t kind)
{
    // command ::= IF expr THEN|EOL commands [ELSE commands] END IF | WHILE expr EOL commands END WHILE.
    take();
    if (kind == tk::While) gen(tk::BeginWhile);
    const Parsed r = parseExpression();
    if (r == Parsed::Failed) return false;
    if (r == Parsed::Empty) return fail("expecting parse_expression");
    gen(kind);
    return true;
}

bool ScriptCompiler::translateImport()
{
    // sourceElement ::= IMPORT ISTRING.
    take();
    if (peek().kind != tk::IString) return need(tk::IString);
    const QString path = QString::fromUtf8(take().text);
    if (m_compiledFiles.contains(path))
        return fail("import failed", "Script file \"" + path.toUtf8() + "\" is already imported");
    // Each nested import holds a few frames of this thread's stack until its file is done.
    if (m_importDepth >= kMaxImportDepth)
        return fail("import failed", "Script file \"" + path.toUtf8() + "\" is nested more than " +
                                         QByteArray::number(kMaxImportDepth) + " imports deep");
    // The imported file is compiled in place; this line's state is restored afterwards.
    std::vector<Instruction> tokens = std::move(m_tokens);
    const size_t pos = m_pos;
    const QByteArray line = m_currentLine;
    const bool exported = m_export;
    ++m_importDepth;
    const bool ok = compileFile(path);
    --m_importDepth;
    m_tokens = std::move(tokens);
    m_pos = pos;
    m_currentLine = line;
    m_export = exported;
    return ok;
}
