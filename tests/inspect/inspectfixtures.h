// Helpers of the inspector tests: running the other programs, the example built in a scratch folder,
// and images put together by hand with a CRC-32 computed here bit by bit.
#pragma once

#include "crc32ref.h"
#include "imagelayout.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

namespace fixtures
{

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct Run {
    int status = -1;
    QByteArray out, err;
};

inline Run run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    QProcess p;
    if (!dir.isEmpty()) p.setWorkingDirectory(dir);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(120000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline void copyTree(const QString &from, const QString &to)
{
    QDir src(from);
    QDir().mkpath(to);
    for (const QFileInfo &i : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (i.isDir())
            copyTree(i.filePath(), to + QLatin1Char('/') + i.fileName());
        else
            QFile::copy(i.filePath(), to + QLatin1Char('/') + i.fileName());
    }
}

// The example project copied into `dir` and built there by kirrup; false when the build fails.
inline bool buildExample(const QString &dir, const QByteArray &scriptEdit = QByteArray())
{
    copyTree(QStringLiteral(NW_SOURCE_DIR "/sdk/example"), dir);
    if (!scriptEdit.isEmpty()) {
        QByteArray script = readFile(dir + QStringLiteral("/example.script"));
        script.replace("ticks = ticks + 1", scriptEdit);
        writeFile(dir + QStringLiteral("/example.script"), script);
    }
    const Run r =
        run(QStringLiteral(NW_KIRRUP),
            {QStringLiteral("project.xml"), QStringLiteral(NW_SDK_DIR), QStringLiteral(NW_TOLLAN)}, dir);
    return r.status == 0 && QFile::exists(dir + QStringLiteral("/wifi.dfu"));
}

inline void putLe32(QByteArray &b, qint64 at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[int(at + i)] = char(v >> (8 * i));
}

// A 512000-byte image with the blocks laid out from offset 0 in the builder's order, 4-byte aligned,
// and their records; the USB block (if any) directly below the table.
inline QByteArray makeImage(const QMap<imagelayout::Record, QByteArray> &blocks)
{
    using namespace imagelayout;
    QByteArray image(int(flashSize), char(0xFF));
    qint64 at = 0;
    for (Record r : {Software, Hardware, Script, Files, Certificates}) {
        const QByteArray b = blocks.value(r);
        image.replace(int(at), b.size(), b);
        putLe32(image, recordOffset(r), quint32(at));
        putLe32(image, recordOffset(r) + 4, quint32(b.size()));
        putLe32(image, recordOffset(r) + 8, crc32Reference(b));
        at = (at + b.size() + 3) & ~qint64(3);
    }
    for (int i = 0; i < 12; ++i)
        image[int(recordOffset(Usb) + i)] = 0;
    if (blocks.contains(Usb)) {
        const QByteArray b = blocks.value(Usb);
        const qint64 offset = tableOffset - b.size();
        image.replace(int(offset), b.size(), b);
        putLe32(image, recordOffset(Usb), quint32(0x9D000000 + offset));
        putLe32(image, recordOffset(Usb) + 4, quint32(b.size()));
        putLe32(image, recordOffset(Usb) + 8, crc32Reference(b));
    }
    putLe32(image, tableOffset + versionOffsetInTable, layoutVersion);
    return image;
}

} // namespace fixtures
