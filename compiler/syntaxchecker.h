// Feeds tokens to the parser generated from grammar.y and records its "expecting" lists.
#pragma once

#include <QByteArray>
#include <QVector>

class SyntaxChecker
{
public:
    SyntaxChecker();
    ~SyntaxChecker();
    SyntaxChecker(const SyntaxChecker &) = delete;
    SyntaxChecker &operator=(const SyntaxChecker &) = delete;

    // Advances the parser by one terminal. A syntax error is recorded, not returned: the
    // caller looks at hasError() once the line is complete.
    void feed(int terminal, int lineNumber);

    bool hasError() const { return m_error; }
    int errorLine() const { return m_errorLine; }
    const QVector<int> &expected() const { return m_expected; }
    // "expecting a, b or c" built from the token table's display names; empty when none.
    QByteArray expectingText() const;

private:
    static void onSyntaxError(void *context, const int *expected, int count);

    void *m_parser = nullptr;
    bool m_error = false;
    int m_errorLine = 0;
    int m_currentLine = 0;
    QVector<int> m_expected;
};
