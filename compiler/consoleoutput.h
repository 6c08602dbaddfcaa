// Console output of the compiler: every line is flushed at once, so that a caller reading the
// output of a failed run sees all of it.
#pragma once

#include <QByteArray>

void printLine(const QByteArray &line);
