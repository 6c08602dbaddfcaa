#include "interactive.h"

#include "script.h"
#include "session.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <editline/readline.h>
#include <unistd.h>

Interactive *Interactive::instance = nullptr;
QStringList Interactive::offered;

namespace
{

const char prompt[] = "nwctl> ";
const char *const keywords[] = {"help", "wait", "sleep", "listen", "quit"};
constexpr int historySize = 1000;

} // namespace

Interactive::Interactive(const CommandHelp &help, Session &session, const QString &historyFile, FILE *out,
                         QObject *parent)
    : QObject(parent), help(help), session(session), historyFile(historyFile), out(out)
{
}

Interactive::~Interactive()
{
    end();
}

QString Interactive::defaultHistoryFile()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    // XDG base directories ignore relative paths.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/nw300/nwctl_history");
}

void Interactive::start()
{
    instance = this;
    rl_readline_name = "nwctl";
    rl_instream = stdin;
    // The editor draws a character at a time; nothing may wait in a buffer.
    std::setvbuf(out, nullptr, _IONBF, 0);
    rl_outstream = out;
    rl_attempted_completion_function = onComplete;
    using_history();
    stifle_history(historySize);
    QDir().mkpath(QFileInfo(historyFile).absolutePath());
    read_history(QFile::encodeName(historyFile).constData());
    rl_callback_handler_install(prompt, onLine);
    active = true;
    input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input, &QSocketNotifier::activated, this, [] { rl_callback_read_char(); });
}

void Interactive::end()
{
    if (!active) return;
    active = false;
    if (input) input->setEnabled(false);
    rl_callback_handler_remove();
    write_history(QFile::encodeName(historyFile).constData());
    if (instance == this) instance = nullptr;
}

void Interactive::print(bool diagnostic, const QByteArray &line)
{
    FILE *stream = diagnostic ? stderr : out;
    // While a typed line is handled the editor has already moved on and draws the next prompt itself.
    const bool redraw = active && !handlingLine;
    if (redraw) {
        // Clear the line being typed, print above it, draw it again.
        std::fputs("\r\033[K", out);
        std::fflush(out);
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    if (redraw) rl_forced_update_display();
}

void Interactive::onLine(char *line)
{
    Interactive *self = instance;
    if (!self) {
        std::free(line);
        return;
    }
    if (!line) { // end of input
        std::fputc('\n', self->out);
        self->end();
        emit self->quit();
        return;
    }
    const QString text = QString::fromLocal8Bit(line).trimmed();
    // Leaving is not worth recalling: Up in the next run brings back the last real command.
    if (!text.isEmpty() && text != QLatin1String("quit") && text != QLatin1String("exit")) {
        add_history(line);
        // Saved at once, so a run that is killed keeps what was typed.
        write_history(QFile::encodeName(self->historyFile).constData());
    }
    std::free(line);
    self->handlingLine = true;
    self->lineEntered(text);
    self->handlingLine = false;
    // A fresh install starts an empty line with its prompt; the editor leaves the old one otherwise.
    if (self->active) {
        rl_callback_handler_remove();
        rl_callback_handler_install(prompt, onLine);
    }
}

void Interactive::lineEntered(const QString &line)
{
    if (line.isEmpty()) return;
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.first() == QLatin1String("quit") || words.first() == QLatin1String("exit")) {
        end();
        emit quit();
        return;
    }
    if (words.first() == QLatin1String("help")) {
        if (words.size() < 2) {
            print(false,
                  "A command by name with its arguments (unsigned numbers in hexadecimal), a packet in "
                  "hexadecimal,\n\"wait EVENT [PARAM=VALUE ...]\", \"sleep SECONDS\", \"help NAME\" or "
                  "\"quit\". Tab completes names.");
            return;
        }
        const QString &name = words.at(1);
        if (const ApiMessage *m = help.command(name)) {
            const QString full = help.className(m->class_id) + QLatin1Char('_') + m->name;
            QString text = QStringLiteral("command ") + CommandHelp::usage(full, *m);
            if (const ApiMessage *r = help.response(m->class_id, m->index))
                text += QStringLiteral("\nresponse ") + CommandHelp::usage(full, *r);
            print(false, text.toUtf8());
        } else if (const ApiMessage *e = help.event(name)) {
            print(false, (QStringLiteral("event ") + CommandHelp::usage(e->name, *e)).toUtf8());
        } else {
            QStringList near = CommandHelp::nearest(name, help.commandNames() + help.eventNames());
            print(true,
                  QStringLiteral("no message '%1'%2")
                      .arg(name, near.isEmpty() ? QString()
                                                : QStringLiteral("; did you mean ") +
                                                      near.join(QStringLiteral(", ")) + QLatin1Char('?'))
                      .toUtf8());
        }
        return;
    }
    Script script(help);
    QString error;
    if (!script.addLine(line, &error)) {
        print(true, error.toUtf8());
        return;
    }
    session.run(script.steps);
}

QStringList Interactive::candidates(const QString &before, const QString &word) const
{
    const QStringList words = before.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList all;
    if (words.isEmpty()) {
        for (const char *k : keywords)
            all << QLatin1String(k);
        all << help.commandNames();
    } else if (words.first() == QLatin1String("help") && words.size() == 1) {
        all << help.commandNames() << help.eventNames();
    } else if (words.first() == QLatin1String("wait") && words.size() == 1) {
        all << help.eventNames();
    } else if (words.first() == QLatin1String("wait")) {
        if (const ApiMessage *e = help.event(words.at(1)))
            for (const ApiParam &p : e->params)
                all << p.name + QLatin1Char('=');
    }
    QStringList out;
    for (const QString &c : all)
        if (c.startsWith(word)) out << c;
    return out;
}

void Interactive::hint(const QString &before)
{
    const QStringList words = before.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    if (const ApiMessage *m = help.command(words.first()))
        print(false, CommandHelp::usage(words.first(), *m).toUtf8());
}

char **Interactive::onComplete(const char *text, int start, int)
{
    rl_attempted_completion_over = 1; // never file names
    if (!instance) return nullptr;
    const QString before = QString::fromLocal8Bit(rl_line_buffer, start);
    offered = instance->candidates(before, QString::fromLocal8Bit(text));
    // After a command name its parameters are positional: show them rather than complete anything.
    if (offered.isEmpty()) {
        instance->hint(before);
        return nullptr;
    }
    rl_completion_append_character = offered.first().endsWith(QLatin1Char('=')) ? '\0' : ' ';
    return rl_completion_matches(text, nextCandidate);
}

char *Interactive::nextCandidate(const char *, int state)
{
    static int at = 0;
    if (state == 0) at = 0;
    if (at >= offered.size()) return nullptr;
    return strdup(offered.at(at++).toLocal8Bit().constData());
}
