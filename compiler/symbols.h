// Named things a script can refer to: globals (variables, buffers, constants), the parameters
// of the open event or procedure, and procedures.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <cstdint>

namespace tollan
{

struct Symbol {
    QString file; // declaring file; empty when visible from every file
    QByteArray name;
    uint32_t address = 0;
    uint32_t size = 0;
    int type = 0;
    bool frame = false; // event or procedure parameter: lives in the call frame, read-only
    bool buffer = false;
    bool constant = false; // no storage of its own
    int32_t value = 0;
    QByteArray text; // bytes of a string constant
};

// Appends in declaration order; each address follows the previous symbol's address and size.
class SymbolList
{
public:
    Symbol &append(Symbol symbol);
    // The first symbol of that name that the given file can see.
    const Symbol *findVisible(const QByteArray &name, const QString &file) const;
    const Symbol *find(const QByteArray &name) const;
    const QVector<Symbol> &symbols() const { return m_symbols; }
    void clear();

private:
    QVector<Symbol> m_symbols;
    QHash<QByteArray, QVector<int>> m_index;
};

struct Procedure {
    QByteArray name;
    QString file; // empty when exported
    QVector<Symbol> params;
    int32_t labelSequence = -1;
};

class ProcedureTable
{
public:
    void add(const Procedure &procedure);
    const Procedure *findVisible(const QByteArray &name, const QString &file) const;
    void clear();

private:
    QVector<Procedure> m_procedures;
    QHash<QByteArray, QVector<int>> m_index;
};

// The open event or procedure body, if any.
struct Scope {
    bool open = false;
    bool isEvent = false;
    SymbolList params;
};

} // namespace tollan
