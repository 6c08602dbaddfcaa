#include "lexer.h"

#include "tokentable.h"

#include <algorithm>
#include <climits>
#include <cstring>

static bool isLetter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

static bool isHexDigit(int c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static bool isWordChar(int c)
{
    return isLetter(c) || isDigit(c) || c == '_';
}

static bool isOperatorStart(int c)
{
    return c == '<' || c == '!' || c == '>' || c == '&' || c == '|' || c == '=';
}

static bool isOperatorFollow(int c)
{
    return c == '=' || c == '>' || c == '<' || c == '&' || c == '|';
}

static int hexValue(char c)
{
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Converts digits without wrapping: out-of-range literals are refused, never truncated.
static bool convertDigits(const QByteArray &digits, bool hex, bool negative, int32_t &value)
{
    if (hex) {
        if (digits.size() > 8) return false;
        uint32_t v = 0;
        for (char c : digits)
            v = (v << 4) | uint32_t(hexValue(c));
        value = int32_t(negative ? 0u - v : v);
        return true;
    }
    uint64_t v = 0;
    for (char c : digits) {
        v = v * 10 + uint64_t(c - '0');
        if (v > uint64_t(INT32_MAX) + 1) return false;
    }
    if (!negative && v > uint64_t(INT32_MAX)) return false;
    value = negative ? int32_t(0u - uint32_t(v)) : int32_t(v);
    return true;
}

void Lexer::reset(const QByteArray &line, int lineNumber)
{
    m_line = line;
    reset(m_line.constData(), m_line.size(), lineNumber);
}

void Lexer::reset(const char *line, int size, int lineNumber)
{
    if (line != m_line.constData()) m_line.clear();
    m_data = line;
    m_size = size;
    const bool ended = size > 0 && line[size - 1] == '\n';
    m_text = QByteArray(line, ended ? size - 1 : size);
    m_pos = 0;
    m_lookahead.clear();
    m_lookaheadNext = 0;
    m_lineNumber = lineNumber;
    m_operandFollows = false;
    m_failed.clear();

    Instruction &marker = m_lookahead.emplace_back();
    marker.setKind(tk::Debug);
    marker.text = m_text;
}

// FNV-1a: words are short, and this is cheaper than a general string hash.
static uint32_t wordHash(const char *bytes, int length)
{
    uint32_t h = 2166136261u;
    for (int i = 0; i < length; ++i)
        h = (h ^ uint8_t(bytes[i])) * 16777619u;
    return h;
}

const Lexer::Word &Lexer::word(int start, int length)
{
    const char *bytes = m_data + start;
    const uint32_t hash = wordHash(bytes, length);
    if (m_wordCount * 2 >= m_slots.size()) growWordTable();
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot &slot = m_slots[i];
        if (!slot.word) {
            const QByteArray text(bytes, length);
            m_words.push_back({text, TokenTable::findSource(text.constData(), length)});
            ++m_wordCount;
            slot = {hash, length, &m_words.back()};
            return m_words.back();
        }
        if (slot.hash == hash && slot.length == length &&
            std::memcmp(slot.word->text.constData(), bytes, size_t(length)) == 0)
            return *slot.word;
    }
}

void Lexer::growWordTable()
{
    std::vector<Slot> slots(std::max<size_t>(256, m_slots.size() * 2));
    const size_t mask = slots.size() - 1;
    for (const Slot &old : m_slots) {
        if (!old.word) continue;
        size_t i = old.hash & mask;
        while (slots[i].word)
            i = (i + 1) & mask;
        slots[i] = old;
    }
    m_slots.swap(slots);
}

bool Lexer::next(Instruction &token)
{
    token = Instruction();
    return nextInto(token);
}

bool Lexer::nextInto(Instruction &token)
{
    if (m_lookaheadNext < m_lookahead.size()) {
        token = std::move(m_lookahead[m_lookaheadNext++]);
        if (m_lookaheadNext == m_lookahead.size()) {
            m_lookahead.clear();
            m_lookaheadNext = 0;
        }
        return true;
    }
    if (scan(token)) return true;
    token.setKind(tk::Invalid);
    return false;
}

bool Lexer::expect(Instruction &token, int32_t kind)
{
    const bool scanned = next(token);
    if (scanned && token.kind == kind) return true;
    m_lookahead.push_back(token);
    return false;
}

int Lexer::peekChar() const
{
    return m_pos < m_size ? static_cast<unsigned char>(m_data[m_pos]) : 0;
}

bool Lexer::scan(Instruction &token)
{
    // Locals, which the byte loads cannot alias.
    const char *const data = m_data;
    const int size = m_size;
    int pos = m_pos;
    while (pos < size && (data[pos] == ' ' || data[pos] == '\t'))
        ++pos;
    m_pos = pos;
    m_tokenStart = m_pos;
    if (m_pos >= m_size) {
        m_operandFollows = false;
        token.setKind(tk::Eol);
        return true;
    }
    const int c = peekChar();
    if (isDigit(c) || c == '$' || (c == '-' && !m_operandFollows)) {
        m_operandFollows = true;
        int32_t value = 0;
        QByteArray digits;
        if (!scanNumber(value, digits)) {
            m_failed = QByteArray(m_data + m_tokenStart, m_pos - m_tokenStart);
            return false;
        }
        token.setKind(tk::Int32);
        token.value = value;
        token.text = digits;
        return true;
    }
    m_operandFollows = false;
    if (c == '"') return scanString(token);
    return scanWord(token);
}

bool Lexer::scanNumber(int32_t &value, QByteArray &digits)
{
    // Dotted groups fill the low bytes first, as an IPv4 address lies in memory: group k lands
    // k bytes up, and groups from the fifth on are shifted out entirely. Read in a loop, so that
    // a line of any number of groups costs no stack.
    uint32_t combined = 0;
    digits.clear();
    for (int group = 0;; ++group) {
        bool negative = false;
        bool hex = false;
        if (peekChar() == '-') {
            negative = true;
            ++m_pos;
        }
        if (peekChar() == '$') {
            hex = true;
            ++m_pos;
        }
        const int start = m_pos;
        while (m_pos < m_size && (hex ? isHexDigit(peekChar()) : isDigit(peekChar())))
            ++m_pos;
        if (m_pos == start) return false;
        const QByteArray &groupDigits = word(start, m_pos - start).text;
        int32_t groupValue = 0;
        if (!convertDigits(groupDigits, hex, negative, groupValue)) return false;
        if (group < 4) combined |= uint32_t(groupValue) << (8 * group);
        if (group > 0) digits += '.';
        digits += groupDigits;
        if (peekChar() != '.') break;
        ++m_pos;
    }
    value = int32_t(combined);
    return true;
}

bool Lexer::scanString(Instruction &token)
{
    ++m_pos; // opening quote
    // The closing quote is found before escapes apply, so a backslash cannot escape it.
    const void *quote = std::memchr(m_data + m_pos, '"', size_t(m_size - m_pos));
    const int close = quote ? int(static_cast<const char *>(quote) - m_data) : -1;
    if (close < 0) {
        m_failed = QByteArray(m_data + m_tokenStart, m_size - m_tokenStart);
        if (m_failed.endsWith('\n')) m_failed.chop(1);
        m_pos = m_size;
        return false;
    }
    QByteArray text;
    for (int i = m_pos; i < close; ++i) {
        char c = m_data[i];
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i >= close) break;
        c = m_data[i];
        if (c == 'n') {
            text += '\n';
        } else if (c == 'r') {
            text += '\r';
        } else if (c == 'x') {
            // Two characters read as hex, but never past the closing quote.
            int v = 0;
            for (int k = 0; k < 2 && i + 1 < close; ++k) {
                const int h = hexValue(m_data[++i]);
                v = v * 16 + (h < 0 ? 0 : h);
            }
            text += char(v);
        } else {
            text += c;
        }
    }
    m_pos = close + 1;
    token.setKind(tk::IString);
    token.text = text;
    return true;
}

bool Lexer::scanWord(Instruction &token)
{
    const int start = m_pos;
    const int first = peekChar();
    ++m_pos;
    if (isWordChar(first)) {
        const char *const data = m_data;
        const int size = m_size;
        int pos = m_pos;
        while (pos < size && isWordChar(static_cast<unsigned char>(data[pos])))
            ++pos;
        m_pos = pos;
    } else if (isOperatorStart(first) && isOperatorFollow(peekChar())) {
        while (m_pos < m_size && isOperatorFollow(peekChar()))
            ++m_pos;
    }
    const int length = m_pos - start;
    const Word &w = word(start, length);
    const TokenRow *row = w.row;
    if (!row) {
        for (int i = start; i < m_pos; ++i) {
            if (!isWordChar(static_cast<unsigned char>(m_data[i]))) {
                m_failed = QByteArray(m_data + start, length);
                return false;
            }
        }
        token.setKind(tk::Id);
        token.text = w.text;
        m_operandFollows = true;
        return true;
    }
    if (row->kind == tk::Comment) {
        m_pos = m_size;
        token.setKind(tk::Eol);
        m_operandFollows = false;
        return true;
    }
    token.setKind(row->kind);
    token.text = w.text;
    m_operandFollows = row->valueFlag != 0;
    return true;
}
