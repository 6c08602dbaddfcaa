// Small helpers shared by the builder tests: XML snippets as elements, files in a scratch folder,
// little-endian reads, and a bitwise CRC-32 written here so that the image records are checked
// against something other than the library the builder uses.
#pragma once

#include "crc32ref.h"

#include <QByteArray>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace fixtures
{

// The document must outlive the element; keep both.
struct Xml {
    explicit Xml(const QString &text) { doc.setContent(text); }
    QDomElement root() const { return doc.documentElement(); }
    QDomDocument doc;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline quint32 word(const QByteArray &bytes, int offset)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(bytes.at(offset + i));
    return v;
}

inline quint32 half(const QByteArray &bytes, int offset)
{
    return quint8(bytes.at(offset)) | (quint32(quint8(bytes.at(offset + 1))) << 8);
}

// Runs the test body in a scratch folder as working directory and goes back afterwards.
class ScratchDir
{
public:
    ScratchDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScratchDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

} // namespace fixtures
