// The tollan command line: positional arguments by raw position, then options and flag words.
#pragma once

#include <QStringList>

// Runs one compilation as the program does; returns the exit status (0 or -1).
int runTollan(const QStringList &arguments);
