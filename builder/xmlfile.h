#pragma once

#include <QDomDocument>
#include <QString>

class QFile;

class Console;

// Reading of the builder's XML files with the messages every caller shares.
namespace XmlFile
{

enum Result { Loaded, OpenFailed, ParseFailed };

// Loads the file into doc. On failure prints "Unable to open:" with the path, or the parser's
// error line with path, line and column, to standard error.
Result load(const QString &path, QDomDocument &doc, Console &console);

// Opens, for reading, the file named by the element's "path" attribute. On failure prints "Expected path for
// file" or "Unable to open file:" with the path, to standard error.
bool openPath(const QDomElement &element, QFile &file, Console &console);

} // namespace XmlFile
