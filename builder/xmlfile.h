#pragma once

#include <QDomDocument>
#include <QString>

class Console;

// Reading of the builder's XML files with the messages every caller shares.
namespace XmlFile
{

enum Result { Loaded, OpenFailed, ParseFailed };

// Loads the file into doc. On failure prints "Unable to open:" with the path, or the parser's
// error line with path, line and column, to standard error.
Result load(const QString &path, QDomDocument &doc, Console &console);

} // namespace XmlFile
