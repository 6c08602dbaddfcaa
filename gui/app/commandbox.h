#pragma once

#include "commandhelp.h"

#include <QObject>
#include <QStringList>

class QCompleter;
class QLineEdit;
class QSettings;

// What the command line adds to typing: completion of command names from the API definition, the
// parameters of a named command as a hint, and Up/Down through the commands sent, kept across runs.
class CommandBox : public QObject
{
    Q_OBJECT
public:
    CommandBox(QLineEdit *line, const CommandParser &parser, QSettings &settings, QObject *parent = nullptr);

    // A command went out: it becomes the newest history entry, stored at once.
    void remember(const QString &command);
    // "name param:type …" when the line's first word names a command with parameters, else empty.
    QString hint(const QString &text) const;
    // For a line that gives no packet: the parser's reason and the nearest command names, plain text.
    QString refusal(const QString &text) const;

    QCompleter *completer() const { return m_completer; }
    QStringList history() const { return m_history; }

    static constexpr int historySize = 200;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step(int direction);

    QLineEdit *line;
    CommandHelp help;
    QSettings &settings;
    QCompleter *m_completer;
    QStringList m_history;
    int position = 0; // in m_history; its size while on the line being typed
    QString draft;    // the line being typed, kept while stepping through the history
};
