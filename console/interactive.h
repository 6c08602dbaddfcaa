// nwctl at a terminal: a line editor with history kept across runs and completion of message and
// parameter names, "help NAME", and packets printed above the line being typed.
#pragma once

#include "commandhelp.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdio>

class QSocketNotifier;
class Session;

class Interactive : public QObject
{
    Q_OBJECT
public:
    Interactive(const CommandHelp &help, Session &session, const QString &historyFile, FILE *out,
                QObject *parent = nullptr);
    ~Interactive() override;

    // Takes over the terminal; quit follows end of input or "quit".
    void start();
    // Restores the terminal and saves the history; also safe when start was never called.
    void end();
    bool isActive() const { return active; }
    // A line printed above the one being typed, which is then drawn again; to the output or, for a
    // diagnostic, to standard error.
    void print(bool diagnostic, const QByteArray &line);

    // $XDG_STATE_HOME/nw300/nwctl_history, with ~/.local/state when the variable is unset or relative.
    static QString defaultHistoryFile();

    // What completion offers for the word being typed, given the text before it.
    QStringList candidates(const QString &before, const QString &word) const;

signals:
    void quit();

private:
    void lineEntered(const QString &line);
    void hint(const QString &before);
    static void onLine(char *line);
    static char **onComplete(const char *text, int start, int end);
    static char *nextCandidate(const char *text, int state);

    const CommandHelp &help;
    Session &session;
    QString historyFile;
    FILE *out;
    QSocketNotifier *input = nullptr;
    bool active = false;
    bool handlingLine = false;
    static Interactive *instance;
    static QStringList offered;
};
