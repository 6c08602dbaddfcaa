// Turns one source line at a time into tokens. Lines are independent; no token spans two lines.
#pragma once

#include "instruction.h"
#include "tokentable.h"

#include <QByteArray>
#include <deque>
#include <vector>

class Lexer
{
public:
    // Loads a line (trimmed, ended by "\n") and queues its leading DEBUG marker.
    void reset(const QByteArray &line, int lineNumber);
    // The same over bytes that the caller keeps unchanged until the line's last token is read.
    void reset(const char *line, int size, int lineNumber);
    // The next token: a pushed-back one first, else a newly scanned one. False when the input
    // cannot be scanned; failedText() then holds what was collected for that token.
    bool next(Instruction &token);
    // The same into a default-constructed token, which spares clearing it.
    bool nextInto(Instruction &fresh);
    // True when the next token has the given kind; otherwise it is pushed back.
    bool expect(Instruction &token, int32_t kind);

    int lineNumber() const { return m_lineNumber; }
    // The line as loaded, without its "\n".
    const QByteArray &lineText() const { return m_text; }
    QByteArray failedText() const { return m_failed; }

private:
    bool scan(Instruction &token);
    bool scanNumber(int32_t &value, QByteArray &digits);
    bool scanString(Instruction &token);
    bool scanWord(Instruction &token);
    int peekChar() const;
    struct Word {
        QByteArray text;
        const TokenRow *row; // the keyword or operator, null for any other text
    };
    // A word or number of the line; each distinct text is looked up and allocated once.
    const Word &word(int start, int length);
    void growWordTable();

    QByteArray m_line; // holds the bytes when the line came as an array
    const char *m_data = nullptr;
    int m_size = 0;
    QByteArray m_text;
    int m_pos = 0;
    int m_tokenStart = 0;
    // Pushed-back tokens, read from m_lookaheadNext on; one line holds a few at most.
    std::vector<Instruction> m_lookahead;
    size_t m_lookaheadNext = 0;
    int m_lineNumber = 0;
    bool m_operandFollows = false;
    QByteArray m_failed;
    // Words seen so far, found through an open-addressing table of (hash, index) slots: a
    // script repeats a few hundred distinct words, so nearly every lookup is one short hash and
    // one compare, with no allocation.
    struct Slot {
        uint32_t hash = 0;
        int length = 0;
        const Word *word = nullptr; // null when free
    };
    std::deque<Word> m_words; // stable addresses: callers hold a reference for one token
    size_t m_wordCount = 0;
    std::vector<Slot> m_slots;
};
