#include "scriptcompiler.h"

#include "consoleoutput.h"
#include "tokentable.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <sys/mman.h>

using namespace tollan;

ScriptCompiler::ScriptCompiler() = default;
ScriptCompiler::~ScriptCompiler() = default;

void ScriptCompiler::setMemoryLimits(uint32_t bankSize, uint32_t endAddress)
{
    m_bankSize = bankSize;
    m_endAddress = endAddress;
}

bool ScriptCompiler::loadApiDefinitions(const QString &apiPath, const QString &constantsPath)
{
    m_api.clear();
    m_globals.clear();
    m_procedures.clear();
    m_program.clear();
    m_apiRefused = false;
    m_parser = std::make_unique<SyntaxChecker>();

    if (!m_api.load(apiPath)) return false;
    if (!constantsPath.isEmpty()) m_api.loadConstants(constantsPath);

    const QMap<QByteArray, int32_t> &constants = m_api.constants();
    for (auto it = constants.constBegin(); it != constants.constEnd(); ++it) {
        Symbol s;
        s.name = it.key();
        s.type = ty::Int32;
        s.constant = true;
        s.value = it.value();
        s.size = 0;
        if (!declareGlobal(s)) return false;
    }

    // Every event table entry is reached through a 16-bit address, and entry n stands for script
    // id n: an id the table cannot reach would only make a table that no program can hold.
    const QVector<ApiClass> &classes = m_api.classes();
    const int64_t maxEntries = (kAddressSpace - 2 * int64_t(classes.size())) / 2;
    int64_t entries = 0;
    for (const ApiClass &cls : classes) {
        for (const ApiMessage &event : cls.events) {
            entries = std::max<int64_t>(entries, event.script) + 1;
            if (entries > maxEntries) {
                printLine(apiPath.toLocal8Bit() + ": event " + event.name + " has script id " +
                          QByteArray::number(event.script) + ", beyond the event table");
                m_apiRefused = true;
                return false;
            }
        }
    }

    // Class table: offset of each class's event table, counted from the start of this table.
    int32_t offset = 2 * classes.size();
    for (const ApiClass &cls : classes) {
        gen(tk::Cls, cls.events.isEmpty() ? 0xFFFF : offset);
        offset += 2 * cls.events.size();
    }
    // Event tables: entry n belongs to script id n; fillers stand in for missing ids.
    int32_t counter = 0;
    for (const ApiClass &cls : classes) {
        for (const ApiMessage &event : cls.events) {
            for (; counter < event.script; ++counter)
                gen(tk::Evt, 0, event.name);
            gen(tk::Evt, 0, event.name);
            ++counter;
        }
    }
    return true;
}

// Asks the kernel to back the whole 2 MiB pages inside a large, still untouched buffer with huge
// pages: a program of a few megabytes then costs a handful of page faults instead of thousands.
static void adviseHugePages(void *data, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    const uintptr_t huge = uintptr_t(2) << 20;
    const uintptr_t begin = (uintptr_t(data) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (uintptr_t(data) + bytes) & ~(huge - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}

// A script is read whole into memory; none whose code fits the byte code's 64 KiB comes near
// this size, and a larger file is refused before it fills the memory.
static const qint64 kMaxScriptBytes = qint64(64) << 20;

// Appends the line without leading and trailing white space, ended by a single "\n".
static void appendTrimmedLine(QByteArray &lines, const char *begin, const char *end)
{
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    const char *const stop = end;
    while (begin < end && isSpace(*begin))
        ++begin;
    while (end > begin && isSpace(end[-1]))
        --end;
    // One append when the line's own "\n" follows the kept part.
    if (end < stop && *end == '\n') {
        lines.append(begin, int(end - begin) + 1);
        return;
    }
    lines.append(begin, int(end - begin));
    lines.append('\n');
}

// The length a line counts with towards the size limit: its bytes as text-mode line reads have
// always returned them, with a final "\r\n" as "\n". Kept so that the same files pass the limit.
static qint64 countedLength(const char *begin, qint64 length)
{
    const bool crlf = length >= 2 && begin[length - 1] == '\n' && begin[length - 2] == '\r';
    return crlf ? length - 1 : length;
}

// Reads the file in large blocks and keeps its lines trimmed, each ended by "\n"; `ends` holds
// where each line ends. False when the lines would pass the size limit.
static bool readTrimmedLines(QFile &file, QByteArray &lines, std::vector<int> &ends)
{
    const qint64 blockSize = 1 << 16;
    QByteArray block(int(blockSize), Qt::Uninitialized);
    QByteArray pending; // the start of a line that runs on into the next block
    const auto addLine = [&](const char *begin, const char *end) {
        if (lines.size() + countedLength(begin, end - begin) > kMaxScriptBytes) return false;
        appendTrimmedLine(lines, begin, end);
        ends.push_back(lines.size());
        return true;
    };
    for (;;) {
        const qint64 n = file.read(block.data(), blockSize);
        if (n <= 0) break;
        const char *next = block.constData();
        const char *const stop = next + n;
        while (next < stop) {
            const char *newline = static_cast<const char *>(std::memchr(next, '\n', size_t(stop - next)));
            if (!newline) {
                pending.append(next, int(stop - next));
                if (lines.size() + pending.size() > kMaxScriptBytes) return false;
                break;
            }
            const char *end = newline + 1;
            if (pending.isEmpty()) {
                if (!addLine(next, end)) return false;
            } else {
                pending.append(next, int(end - next));
                if (!addLine(pending.constData(), pending.constData() + pending.size())) return false;
                pending.resize(0);
            }
            next = end;
        }
    }
    return pending.isEmpty() || addLine(pending.constData(), pending.constData() + pending.size());
}

bool ScriptCompiler::compileFile(const QString &path)
{
    m_compiledFiles.append(path);
    // The file is read whole and closed before its first line is compiled, so that a chain of
    // imports holds one open file at a time.
    QByteArray lines; // trimmed lines, each ended by "\n"
    std::vector<int> ends;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            printLine("Failed to open:" + path.toLocal8Bit());
            return false;
        }
        lines.reserve(int(std::min<qint64>(file.size() + 1, kMaxScriptBytes)));
        if (!readTrimmedLines(file, lines, ends)) {
            printLine(path.toLocal8Bit() + " file too large");
            return false;
        }
    }
    // Scripts make about one instruction for every two bytes, before optimisation. Reserving one
    // per byte at once spares the moves and first page touches of repeated growth, and capacity
    // left unused is never touched.
    const size_t expected = std::min<size_t>(size_t(lines.size()), 1 << 22);
    m_program.reserve(m_program.size() + expected);
    adviseHugePages(m_program.data(), m_program.capacity() * sizeof(Instruction));
    const QString previousFile = m_currentFile;
    m_currentFile = path;
    bool ok = true;
    int begin = 0;
    for (size_t k = 0; ok && k < ends.size(); ++k) {
        // The lexer copies what it keeps, so the line can view the buffer.
        ok = compileLine(lines.constData() + begin, ends[k] - begin, int(k) + 1);
        begin = ends[k];
    }
    m_currentFile = previousFile;
    return ok;
}

bool ScriptCompiler::compileLine(const QByteArray &text, int lineNumber)
{
    return compileLine(text.constData(), text.size(), lineNumber);
}

bool ScriptCompiler::compileLine(const char *text, int size, int lineNumber)
{
    if (!m_parser) m_parser = std::make_unique<SyntaxChecker>();
    m_lexer.reset(text, size, lineNumber);
    m_currentLine = m_lexer.lineText();

    m_tokens.clear();
    for (;;) {
        Instruction &token = newToken();
        if (!m_lexer.nextInto(token)) {
            m_tokens.pop_back();
            if (m_parser->hasError()) break;
            reportError("syntax error", m_lexer.lineNumber(), "Unable to parse " + m_lexer.failedText());
            return false;
        }
        const int terminal = TokenTable::row(token.kind).parserToken;
        if (terminal != 0) m_parser->feed(terminal, m_lexer.lineNumber());
        if (token.kind == tk::Eol) break;
    }
    if (m_parser->hasError()) {
        reportError("syntax error", m_parser->errorLine(), m_parser->expectingText());
        return false;
    }
    return translateLine();
}

void ScriptCompiler::reportError(const QByteArray &message, int line, const QByteArray &detail)
{
    printLine(QByteArray());
    printLine(m_currentFile.toLocal8Bit() + ":Error, " + message + " in line " + QByteArray::number(line));
    printLine("       \"" + m_currentLine + '"');
    if (!detail.isEmpty()) printLine("       " + detail);
    printLine(QByteArray());
}

const Instruction &ScriptCompiler::peek(int ahead) const
{
    const size_t i = m_pos + size_t(ahead);
    // The line always ends with its EOL token; reading past it yields that EOL again.
    return i < m_tokens.size() ? m_tokens[i] : m_tokens.back();
}

const Instruction &ScriptCompiler::take()
{
    const Instruction &t = peek();
    if (m_pos < m_tokens.size()) ++m_pos;
    return t;
}

bool ScriptCompiler::need(int32_t kind)
{
    if (peek().kind == kind) {
        take();
        return true;
    }
    return fail(QByteArray("expecting ") + TokenTable::row(kind).display);
}

bool ScriptCompiler::fail(const QByteArray &message, const QByteArray &detail)
{
    reportError(message, m_lexer.lineNumber(), detail);
    return false;
}

// Called for nearly every token and instruction: the vector's append is worth having inline.
#if defined(__GNUC__)
[[gnu::flatten]]
#endif
Instruction &ScriptCompiler::newToken()
{
    return m_tokens.emplace_back();
}

#if defined(__GNUC__)
[[gnu::flatten]]
#endif
Instruction &ScriptCompiler::gen(int32_t kind, int32_t value)
{
    Instruction &i = m_program.emplace_back();
    i.setKind(kind);
    i.value = value;
    i.sequence = m_sequence++;
    return i;
}

Instruction &ScriptCompiler::gen(int32_t kind, int32_t value, const QByteArray &text)
{
    Instruction &i = gen(kind, value);
    i.text = text;
    return i;
}

Instruction &ScriptCompiler::genCopy(const Instruction &token)
{
    Instruction &i = m_program.emplace_back(token);
    i.sequence = m_sequence++;
    return i;
}
