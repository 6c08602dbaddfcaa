#pragma once

#include <QByteArray>
#include <QDomElement>
#include <QStringList>

class Console;

// One section of a project turns into one byte block. The node may be null when the project has no
// such section; the parser then builds its default block or reports that the section is required.
// A parser that fails has printed its message and returns false; the build then ends with status 1.
class BaseParser
{
public:
    explicit BaseParser(Console &console) : console(console) {}
    virtual ~BaseParser();
    BaseParser(const BaseParser &) = delete;
    BaseParser &operator=(const BaseParser &) = delete;

    virtual bool parse(const QDomElement &node, QByteArray &out) = 0;

    // The files the last parse read or handed on, so that no output of the build can replace one.
    const QStringList &inputs() const { return m_inputs; }

protected:
    void addInput(const QString &path) { m_inputs.append(path); }
    // Appends the bytes behind their length as a little-endian 32-bit word.
    static void appendSized(QByteArray &block, const QByteArray &bytes);

    Console &console;

private:
    QStringList m_inputs;
};
