// inspect: nwinspect, the image inspector: reads a program flash image or HEX file back into the
// project's terms (sections, hardware, USB, files, certificates, boot configuration) and the script's
// byte code into readable code; compares two images. QtCore only, over core/image.
#pragma once

#include "scripttables.h"

#include <QByteArray>
#include <QJsonArray>
#include <QStringList>
#include <QVector>

class ScriptApi;

// One line of a disassembly: a table entry, an instruction or a run of data bytes.
struct DisLine {
    enum Kind { Table, Code, Data };
    Kind kind = Code;
    quint32 address = 0;
    QByteArray bytes;
    QString mnemonic;
    QString operand;
    QString label;        // the label defined here, if any
    bool reached = false; // code reached from a handler (else found between reached code)
};

struct Disassembly {
    ScriptTables tables;
    QVector<DisLine> lines;
    QStringList problems;

    QStringList text() const;
    // One line per instruction without address and bytes, for comparing two builds.
    QStringList comparable() const;
    QJsonArray json() const;
};

// Byte code as the compiler writes it: the tables, then code from each handler on, following jumps and
// calls; what no path reaches is decoded where it decodes, else shown as data. Every byte is shown once,
// and each is decoded at most once, so hostile code cannot make it loop.
Disassembly disassemble(const QByteArray &code, const ScriptApi *api);
