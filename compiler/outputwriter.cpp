// The byte-code file, the listing and the variable memory report.
#include "consoleoutput.h"
#include "encoder.h"
#include "scriptcompiler.h"
#include "tokentable.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
            if (i.text.size() < 16) text.append(16 - i.text.size(), ' ');
            text += i.text;
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

// Writes all of the data to the descriptor; the system's reason when it cannot (a full disk, a
// file size limit), also after part of it was written.
bool writeAll(int fd, const QByteArray &data, QString *reason)
{
    const char *next = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *reason = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO));
            return false;
        }
        next += n;
        left -= n;
    }
    return true;
}

// Writes the whole file through a temporary file beside it that is renamed over the target on
// success, so that a failed or partial write leaves the earlier file as it was. A character device
// named as the target is written in place, never renamed over; a FIFO or socket is refused (nothing
// may read it, and the write would wait for ever). No sync to disk: this is a
// build output that is read back at once, and a sync per file would cost more than the whole
// compile of a small script.
Written writeWhole(const QString &path, const QByteArray &data, QString *reason)
{
    // A symbolic link is written through: the file it leads to is replaced, not the link.
    const QFileInfo named(path);
    const QFileInfo info(named.isSymLink() && named.exists() ? named.canonicalFilePath() : path);
    if (info.isDir()) {
        *reason = QString::fromLocal8Bit(std::strerror(EISDIR));
        return Written::OpenFailed;
    }
    struct stat node;
    if (::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &node) == 0 &&
        !S_ISREG(node.st_mode)) {
        if (!S_ISCHR(node.st_mode)) {
            *reason = QStringLiteral("not a regular file");
            return Written::OpenFailed;
        }
        // Never as the controlling terminal, should the device be a terminal.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return Written::OpenFailed;
        }
        const bool written = writeAll(fd, data, reason);
        ::close(fd);
        return written ? Written::Ok : Written::WriteFailed;
    }
    QTemporaryFile file(info.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!file.open()) {
        *reason = file.errorString();
        return Written::OpenFailed;
    }
    // A replaced file keeps its permissions; a new one gets the usual 0666 less the umask.
    struct stat existing;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const mode_t mode =
        ::stat(target.constData(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
    if (!writeAll(file.handle(), data, reason)) return Written::WriteFailed;
    if (::fchmod(file.handle(), mode) != 0 ||
        ::rename(QFile::encodeName(file.fileName()).constData(), target.constData()) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return Written::WriteFailed;
    }
    file.setAutoRemove(false);
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
