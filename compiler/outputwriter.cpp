// The byte-code file, the listing and the variable memory report.
#include "consoleoutput.h"
#include "encoder.h"
#include "scriptcompiler.h"
#include "tokentable.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <climits>
#include <cstring>

QByteArray ScriptCompiler::programBytes() const
{
    uint64_t total = 0;
    for (const Instruction &i : m_program)
        total += instructionSize(i);
    QByteArray out(int(std::min<uint64_t>(total, INT_MAX)), Qt::Uninitialized);
    char *end = out.data();
    for (const Instruction &i : m_program)
        end = encodeInstruction(i, end);
    return out;
}

// Appends the number in the base, right-aligned with spaces in a field of the given width.
static void appendNumber(QByteArray &out, int64_t value, int base, int width = 0)
{
    char digits[24];
    int n = 0;
    uint64_t v = uint64_t(value < 0 ? -value : value);
    do {
        digits[n++] = "0123456789abcdef"[v % uint64_t(base)];
        v /= uint64_t(base);
    } while (v != 0);
    if (value < 0) digits[n++] = '-';
    if (width > n) out.append(width - n, ' ');
    while (n > 0)
        out += digits[--n];
}

QByteArray ScriptCompiler::listingText() const
{
    // Load addresses put the last instruction at the end address.
    const uint32_t base =
        (m_endAddress == 0 || m_program.empty()) ? 0 : m_endAddress - m_program.back().address;
    QByteArray text;
    text.reserve(int(std::min<size_t>(m_program.size() * 48, 1u << 30)));
    QByteArray bytes; // kept between instructions
    for (const Instruction &i : m_program) {
        bytes.resize(int(instructionSize(i)));
        encodeInstruction(i, bytes.data());
        appendNumber(text, i.sequence, 10);
        text += '\t';
        appendNumber(text, uint32_t(base + i.address), 16);
        if (i.kind == tk::Debug) {
            if (i.sourceLine.size() < 16) text.append(16 - i.sourceLine.size(), ' ');
            text += i.sourceLine;
        } else {
            const char *mnemonic = TokenTable::row(i.kind).mnemonic;
            const int length = int(std::strlen(mnemonic));
            if (length < 16) text.append(16 - length, ' ');
            text.append(mnemonic, length);
        }
        text += " (";
        appendNumber(text, i.kind, 16, 2);
        text += "):";
        for (char b : bytes) {
            appendNumber(text, uchar(b), 16, 2);
            text += ' ';
        }
        text += '\n';
    }
    return text;
}

namespace
{
enum class Written { Ok, OpenFailed, WriteFailed };

// A short write without an error of its own (a file size limit) is a failure too.
bool writeAll(QFileDevice &file, const QByteArray &data, QString *reason)
{
    const qint64 written = file.write(data);
    if (written == data.size()) return true;
    *reason = written < 0 ? file.errorString()
                          : QStringLiteral("%1 of %2 bytes written").arg(written).arg(data.size());
    return false;
}

// Writes the whole file through a temporary file that is renamed over the target on success,
// so that a failed or partial write leaves the earlier file as it was. A device or pipe named
// as the target cannot be renamed over and is written directly. Unbuffered, because a buffered
// flush that writes only part of the data (file size limit, full disk) still reports success.
Written writeWhole(const QString &path, const QByteArray &data, QString *reason)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile direct(path);
        if (!direct.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            *reason = direct.errorString();
            return Written::OpenFailed;
        }
        if (!writeAll(direct, data, reason)) return Written::WriteFailed;
        return Written::Ok;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *reason = file.errorString();
        return Written::OpenFailed;
    }
    if (!writeAll(file, data, reason)) return Written::WriteFailed;
    if (!file.commit()) {
        *reason = file.errorString();
        return Written::WriteFailed;
    }
    return Written::Ok;
}
} // namespace

bool ScriptCompiler::writeOutput(const QString &outputPath, const QString &listingPath)
{
    QString reason;
    const Written output = writeWhole(outputPath, programBytes(), &reason);
    if (output == Written::OpenFailed) {
        printLine("output file open failed:" + outputPath.toLocal8Bit());
        return false;
    }
    if (output == Written::WriteFailed) {
        printLine("output file write failed:" + outputPath.toLocal8Bit() + ": " + reason.toLocal8Bit());
        return false;
    }
    // The listing is an aid: the run goes on without it, but says so.
    if (!listingPath.isEmpty()) {
        const Written listing = writeWhole(listingPath, listingText(), &reason);
        if (listing != Written::Ok)
            printLine(listingPath.toLocal8Bit() +
                      (listing == Written::OpenFailed ? " file open failed: " : " file write failed: ") +
                      reason.toLocal8Bit());
    }
    return true;
}

bool ScriptCompiler::writeVariableUsage(const QString &path) const
{
    const QVector<tollan::Symbol> &globals = m_globals.symbols();
    const uint32_t total = globals.isEmpty() ? 0 : globals.last().address + globals.last().size;
    QByteArray text = QByteArray::number(total) + '\n';
    for (const tollan::Symbol &s : globals)
        text += QByteArray::number(s.address) + ':' + QByteArray::number(s.size) + '\t' + s.name + '\n';
    QString reason;
    const Written report = writeWhole(path, text, &reason);
    if (report == Written::OpenFailed) {
        printLine(path.toLocal8Bit() + " file open failed");
        return false;
    }
    if (report == Written::WriteFailed) {
        printLine(path.toLocal8Bit() + " file write failed: " + reason.toLocal8Bit());
        return false;
    }
    return true;
}
