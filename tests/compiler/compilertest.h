// Shared helpers of the compiler tests: a compiler that records its error reports instead of
// printing them, and small files written into a temporary directory.
#pragma once

#include "scriptcompiler.h"
#include "smallapi.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

struct ReportedError {
    QByteArray message;
    int line = 0;
    QByteArray detail;
};

class RecordingCompiler : public ScriptCompiler
{
public:
    QVector<ReportedError> errors;

protected:
    void reportError(const QByteArray &message, int line, const QByteArray &detail) override
    {
        errors.append({message, line, detail});
    }
};

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return QString();
    f.write(content);
    return path;
}

