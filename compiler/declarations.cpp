// Declarations and name resolution: the collision check and the visibility rules.
#include "scriptcompiler.h"

bool ScriptCompiler::checkCollision(const QByteArray &name)
{
    const Symbol *existing = m_globals.findVisible(name, m_currentFile);
    if (!existing) return true;
    return fail("name collision", '"' + name + "\" is already defined as global " +
                                      (existing->constant ? "constant." : "variable."));
}

bool ScriptCompiler::declareGlobal(Symbol symbol)
{
    if (!checkCollision(symbol.name)) return false;
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
