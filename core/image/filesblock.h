#pragma once

#include <QByteArray>
#include <QStringList>
#include <QVector>

// The files section read back: its entries in order, each with the name as stored (after the leading
// "/") and where its content lies in the block. Reading stops at the first entry that does not fit.
struct StoredFile {
    QByteArray name;
    qint64 offset = 0; // of the content within the block
    quint32 size = 0;
    // Why the name may not be written below a folder ("..", an absolute path, control characters,
    // nothing at all), or empty when it may.
    QString unsafeReason;
};

struct FilesBlock {
    QVector<StoredFile> files;
    QStringList problems;

    static FilesBlock read(const QByteArray &block);
    static QString unsafeReason(const QByteArray &name);
    // The name as text safe to print: control characters, backslashes and bytes that are not UTF-8 as \\xNN.
    static QString printable(const QByteArray &name);
};
