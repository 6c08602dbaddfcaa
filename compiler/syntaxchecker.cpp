#include "syntaxchecker.h"

#include "grammarparser.h"
#include "tokentable.h"

#include <cstdlib>

SyntaxChecker::SyntaxChecker() : m_parser(ScriptParseAlloc(std::malloc)) {}

SyntaxChecker::~SyntaxChecker()
{
    ScriptParseFree(m_parser, std::free);
}

void SyntaxChecker::feed(int terminal, int lineNumber)
{
    m_currentLine = lineNumber;
    ScriptParseSink sink{this, &SyntaxChecker::onSyntaxError};
    ScriptParse(m_parser, terminal, 0, &sink);
}

void SyntaxChecker::onSyntaxError(void *context, const int *expected, int count)
{
    auto *self = static_cast<SyntaxChecker *>(context);
    self->m_error = true;
    self->m_errorLine = self->m_currentLine;
    self->m_expected.clear();
    for (int i = 0; i < count; ++i)
        self->m_expected.append(expected[i]);
}

QByteArray SyntaxChecker::expectingText() const
{
    QVector<QByteArray> names;
    for (int terminal : m_expected) {
        const TokenRow *row = TokenTable::findParserToken(terminal);
        if (row && row->display[0] != '\0') names.append(row->display);
    }
    if (names.isEmpty()) return QByteArray();
    QByteArray text = "expecting ";
    for (int i = 0; i < names.size(); ++i) {
        if (i > 0) text += (i == names.size() - 1) ? " or " : ", ";
        text += names.at(i);
    }
    return text;
}
