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

// The first entry of that name declared for every file (empty file) or for the given one.
template <typename T>
static const T *firstVisible(const QVector<T> &items, const QHash<QByteArray, QVector<int>> &index,
                             const QByteArray &name, const QString &file)
{
    const auto it = index.constFind(name);
    if (it == index.constEnd()) return nullptr;
    for (int i : *it) {
        const T &item = items.at(i);
        if (item.file.isEmpty() || item.file == file) return &item;
    }
    return nullptr;
}

const Symbol *SymbolList::findVisible(const QByteArray &name, const QString &file) const
{
    return firstVisible(m_symbols, m_index, name, file);
}

const Symbol *SymbolList::find(const QByteArray &name) const
{
    // A parameter list holds a few names: comparing them costs less than hashing the name.
    if (m_symbols.size() <= 8) {
        for (const Symbol &s : m_symbols) {
            if (s.name == name) return &s;
        }
        return nullptr;
    }
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
    return firstVisible(m_procedures, m_index, name, file);
}

void ProcedureTable::clear()
{
    m_procedures.clear();
    m_index.clear();
}

} // namespace tollan
