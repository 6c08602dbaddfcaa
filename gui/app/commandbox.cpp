#include "commandbox.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QStringListModel>
#include <QToolTip>

namespace
{

const char *const historyKey = "commandHistory";

} // namespace

CommandBox::CommandBox(QLineEdit *line, const CommandParser &parser, QSettings &settings, QObject *parent)
    : QObject(parent), line(line), help(parser), settings(settings)
{
    m_completer = new QCompleter(new QStringListModel(help.commandNames(), this), this);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setModelSorting(QCompleter::UnsortedModel);
    line->setCompleter(m_completer);
    // A chosen name is complete: show what it takes.
    connect(m_completer, qOverload<const QString &>(&QCompleter::activated), this,
            [this](const QString &name) {
                const QString text = hint(name);
                if (!text.isEmpty()) QToolTip::showText(this->line->mapToGlobal(QPoint(0, 0)), text);
            });

    m_history = settings.value(QLatin1String(historyKey)).toStringList();
    while (m_history.size() > historySize)
        m_history.removeFirst();
    position = m_history.size();
    line->installEventFilter(this);
}

void CommandBox::remember(const QString &command)
{
    if (!command.isEmpty() && (m_history.isEmpty() || m_history.last() != command)) {
        m_history.append(command);
        while (m_history.size() > historySize)
            m_history.removeFirst();
        settings.setValue(QLatin1String(historyKey), m_history);
    }
    position = m_history.size();
    draft.clear();
}

QString CommandBox::hint(const QString &text) const
{
    const QString name = text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    const ApiMessage *command = help.command(name);
    if (!command || command->params.isEmpty()) return QString();
    return CommandHelp::usage(name, *command);
}

QString CommandBox::refusal(const QString &text) const
{
    const CommandHelp::Check check = help.check(text);
    if (check.nearest.isEmpty()) return check.reason;
    return check.reason + QStringLiteral("; did you mean ") + check.nearest.join(QStringLiteral(", ")) +
           QLatin1Char('?');
}

bool CommandBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == line && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // While the completion list is open the keys are its own.
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && !m_completer->popup()->isVisible()) {
            step(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CommandBox::step(int direction)
{
    const int to = position + direction;
    if (to < 0 || to > m_history.size()) return;
    if (position == m_history.size()) draft = line->text();
    position = to;
    line->setText(position == m_history.size() ? draft : m_history.at(position));
}
