// Declarations and name resolution: the collision check and the visibility rules.
#include "scriptcompiler.h"

using namespace tollan;

bool ScriptCompiler::checkCollision(const QByteArray &name)
{
    const Symbol *existing = m_globals.findVisible(name, m_currentFile);
    if (!existing) return true;
    return fail("name collision", '"' + name + "\" is already defined as global " +
                                      (existing->constant ? "constant." : "variable."));
}

bool ScriptCompiler::declareGlobal(Symbol symbol)
{
    return checkCollision(symbol.name) && appendGlobal(symbol);
}

// Globals are laid out one after the other with 32-bit addresses: one that would end past
// them is refused rather than wrapped onto the others.
bool ScriptCompiler::appendGlobal(const Symbol &symbol)
{
    const QVector<Symbol> &globals = m_globals.symbols();
    const uint64_t start = globals.isEmpty() ? 0 : uint64_t(globals.last().address) + globals.last().size;
    if (start + symbol.size > UINT32_MAX)
        return fail("variable memory overflow", symbol.name + " does not fit in the 32-bit variable memory");
    m_globals.append(symbol);
    return true;
}

bool ScriptCompiler::declareParameter(Symbol symbol)
{
    if (!checkCollision(symbol.name)) return false;
    symbol.frame = true;
    m_scope.params.append(symbol);
    return true;
}

const Symbol *ScriptCompiler::lookupVariable(const QByteArray &name) const
{
    if (m_scope.open) {
        if (const Symbol *p = m_scope.params.find(name)) return p;
    }
    return m_globals.findVisible(name, m_currentFile);
}
