#include "xmlfile.h"

#include "console.h"

#include <QFile>

namespace
{

void parseError(Console &console, const QString &path, qint64 line, qint64 column, const QString &error)
{
    console.err(QStringLiteral("Parsing ") + path + ' ' + QString::number(line) + ':' +
                QString::number(column) + QStringLiteral(" xml failed:") + error);
}

// Skips past the next `end` after i; the text's end when there is none.
int skipPast(const QByteArray &text, int i, const char *end)
{
    const int k = text.indexOf(end, i);
    return k < 0 ? text.size() : k + int(qstrlen(end));
}

// Skips to the '>' that ends markup starting at i, stepping over quoted values and, in a document type
// declaration, over its bracketed internal subset.
int skipMarkup(const QByteArray &text, int i)
{
    int brackets = 0;
    for (const int n = text.size(); i < n; ++i) {
        const char c = text.at(i);
        if (c == '"' || c == '\'') {
            const int close = text.indexOf(c, i + 1);
            if (close < 0) return n;
            i = close;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            return i;
        }
    }
    return text.size();
}

// The offset of the first start tag nested deeper than MaxDepth, or -1. Counted over the raw text, so
// that it holds for text that is not well-formed too: the DOM parser recurses into the elements before
// it finds a fault further on.
int tooDeepAt(const QByteArray &text)
{
    const int n = text.size();
    int depth = 0;
    for (int i = text.indexOf('<'); i >= 0 && i < n; i = text.indexOf('<', i)) {
        const int start = i;
        const QByteArray rest = QByteArray::fromRawData(text.constData() + i, qMin(n - i, 9));
        if (rest.startsWith("<!--")) {
            i = skipPast(text, i + 4, "-->");
        } else if (rest.startsWith("<![CDATA[")) {
            i = skipPast(text, i + 9, "]]>");
        } else if (rest.startsWith("<?")) {
            i = skipPast(text, i + 2, "?>");
        } else if (rest.startsWith("<!")) {
            i = skipMarkup(text, i + 2) + 1;
        } else if (rest.startsWith("</")) {
            depth = qMax(0, depth - 1);
            i = skipMarkup(text, i + 2) + 1;
        } else {
            i = skipMarkup(text, i + 1);
            const bool empty = i < n && text.at(i - 1) == '/';
            ++i;
            if (!empty && ++depth > XmlFile::MaxDepth) return start;
        }
    }
    return -1;
}

} // namespace

XmlFile::Result XmlFile::parse(const QByteArray &text, const QString &path, QDomDocument &doc,
                               Console &console)
{
    const int deep = tooDeepAt(text);
    if (deep >= 0) {
        const int lineStart = text.lastIndexOf('\n', deep) + 1;
        parseError(console, path, text.left(deep).count('\n') + 1, deep - lineStart + 1,
                   QStringLiteral("elements nested deeper than %1 levels").arg(MaxDepth));
        return ParseFailed;
    }
    QString error;
    int domLine = 0;
    int domColumn = 0;
    if (!doc.setContent(text, &error, &domLine, &domColumn)) {
        parseError(console, path, domLine, domColumn, error);
        return ParseFailed;
    }
    return Loaded;
}

XmlFile::Result XmlFile::load(const QString &path, const QString &root, QDomDocument &doc, Console &console,
                              RootMessage message)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err(QStringLiteral("Unable to open:") + path);
        return OpenFailed;
    }
    QByteArray text;
    if (!readAll(file, text, console)) return ParseFailed;
    const Result parsed = parse(text, path, doc, console);
    if (parsed != Loaded) return parsed;
    const QString found = doc.documentElement().tagName();
    if (found == root) return Loaded;
    if (message == DocumentType)
        console.err(QStringLiteral("Do not know how to parse document type:") + found);
    else
        console.err(QStringLiteral("Expected ") + root + QStringLiteral(" tag as root of ") + path);
    return WrongRoot;
}

bool XmlFile::openPath(const QDomElement &element, QFile &file, Console &console)
{
    const QString path = element.attribute(QStringLiteral("path"));
    if (path.isEmpty()) {
        console.err(QStringLiteral("Expected path for file"));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err(QStringLiteral("Unable to open file:") + path);
        return false;
    }
    return true;
}

bool XmlFile::readAll(QFile &file, QByteArray &content, Console &console)
{
    // The size is checked first so that a huge file is not read at all; reading one byte more than
    // allowed also catches what has no size (a pipe, a device).
    if (file.size() <= MaxInputSize) content = file.read(MaxInputSize + 1);
    if (file.size() > MaxInputSize || content.size() > MaxInputSize) {
        content.clear();
        console.err(QStringLiteral("file too large:") + file.fileName());
        return false;
    }
    return true;
}
