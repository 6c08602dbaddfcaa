#include "symbols.h"

namespace tollan
{

Symbol &SymbolList::append(Symbol symbol)
{
    symbol.address = m_symbols.isEmpty() ? 0 : m_symbols.last().address + m_symbols.last().size;
    m_index[symbol.name].append(m_symbols.size());
    m_symbols.append(symbol);
    return m_symbols.last();
}

const Symbol *SymbolList::findVisible(const QByteArray &name, const QString &file) const
{
    const auto it = m_index.constFind(name);
    if (it == m_index.constEnd()) return nullptr;
    for (int i : *it) {
        const Symbol &s = m_symbols.at(i);
        if (s.file.isEmpty() || s.file == file) return &s;
    }
    return nullptr;
}

const Symbol *SymbolList::find(const QByteArray &name) const
{
    const auto it = m_index.constFind(name);
    return it == m_index.constEnd() ? nullptr : &m_symbols.at(it->first());
}

void SymbolList::clear()
{
    m_symbols.clear();
    m_index.clear();
}

void ProcedureTable::add(const Procedure &procedure)
{
    m_index[procedure.name].append(m_procedures.size());
    m_procedures.append(procedure);
}

const Procedure *ProcedureTable::findVisible(const QByteArray &name, const QString &file) const
{
    const auto it = m_index.constFind(name);
    if (it == m_index.constEnd()) return nullptr;
    for (int i : *it) {
        const Procedure &p = m_procedures.at(i);
        if (p.file.isEmpty() || p.file == file) return &p;
    }
    return nullptr;
}

void ProcedureTable::clear()
{
    m_procedures.clear();
    m_index.clear();
}

} // namespace tollan
