// nwctl, the console for scripts and CI: drives a module over a serial port from the command line,
// from script files or interactively, through the same parser, codec and link as velmo's command box.
// This folder is its library; main.cpp only calls Console::run.
#pragma once

#include "script.h"
#include "session.h"

#include <QString>
#include <QStringList>

class Console
{
public:
    // The whole program: arguments as given (without the program name); returns the exit status.
    static int run(const QStringList &args);

    // Parses the arguments into options and steps; false with the reason for a usage error.
    // `help` and `version` are set when those were asked for.
    struct Parsed {
        SessionOptions options;
        QString apiFile;
        bool help = false;
        bool version = false;
        bool stdinScript = false; // no step given: the steps come from standard input
    };
    static bool parse(const QStringList &args, Script &script, Parsed *parsed, QString *error);

    static QString usage();
};
