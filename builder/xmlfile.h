#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>

class QFile;

class Console;

// Reading of the builder's input files with the messages every caller shares.
namespace XmlFile
{

enum Result { Loaded, OpenFailed, ParseFailed, WrongRoot };
// How a root element of another name is reported: "Expected <root> tag as root of " and the path, or
// (the project file) "Do not know how to parse document type:" and the name found.
enum RootMessage { ExpectedTag, DocumentType };

// Deeper documents are refused before the DOM is built: it recurses once per level, and real files
// nest a handful of levels.
const int MaxDepth = 1000;
// No input file can be larger than the program flash it is placed in.
const qint64 MaxInputSize = 512000;

// Loads the file into doc and checks that its root element is named root (case-sensitive). On failure
// prints, to standard error, "Unable to open:" with the path, the parser's error line with path, line
// and column, or the root message.
Result load(const QString &path, const QString &root, QDomDocument &doc, Console &console,
            RootMessage message = ExpectedTag);
// The same for text already read; path names it in the error line.
Result parse(const QByteArray &text, const QString &path, QDomDocument &doc, Console &console);

// Opens, for reading, the file named by the element's "path" attribute. On failure prints "Expected path for
// file" or "Unable to open file:" with the path, to standard error.
bool openPath(const QDomElement &element, QFile &file, Console &console);

// Reads an open file whole; false after "file too large:" and its name (standard error) when it holds
// more than MaxInputSize bytes.
bool readAll(QFile &file, QByteArray &content, Console &console);

} // namespace XmlFile
