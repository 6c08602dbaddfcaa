#include "script.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <cmath>

namespace
{

QString withSuggestions(const QString &reason, const QStringList &nearest)
{
    if (nearest.isEmpty()) return reason;
    return reason + QStringLiteral("; did you mean ") + nearest.join(QStringLiteral(", ")) + QLatin1Char('?');
}

// The expected value of an event parameter, written as decoded packets show it; empty if it does not fit
// the parameter's type.
QString normalise(const QString &value, int type)
{
    bool ok = false;
    switch (type) {
    case ApiParam::HwAddr: {
        QString digits = value.toLower();
        digits.remove(QLatin1Char(':'));
        digits.remove(QLatin1Char('-'));
        static const QRegularExpression mac(QStringLiteral("^[0-9a-f]{12}$"));
        if (!mac.match(digits).hasMatch()) return QString();
        return QString::fromLatin1(QByteArray::fromHex(digits.toLatin1()).toHex(':'));
    }
    case ApiParam::Ipv4: {
        QHostAddress address;
        if (!address.setAddress(value) || address.protocol() != QAbstractSocket::IPv4Protocol)
            return QString();
        return address.toString();
    }
    case ApiParam::Uint8Array:
    case ApiParam::Uint16Array: {
        static const QRegularExpression hex(QStringLiteral("^([0-9a-fA-F]{2})*$"));
        return hex.match(value).hasMatch() ? value.toLower() : QString();
    }
    default: {
        qint64 v = value.startsWith(QLatin1String("0x")) ? qint64(value.mid(2).toULongLong(&ok, 16))
                                                         : value.toLongLong(&ok, 10);
        return ok ? QString::number(v) : QString();
    }
    }
}

} // namespace

bool parseSeconds(const QString &text, int *ms)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400) return false;
    *ms = int(std::lround(seconds * 1000));
    return true;
}

void Script::place(Step &step) const
{
    step.file = file;
    step.line = line;
}

bool Script::addCommand(const QString &text, QString *error)
{
    const CommandHelp::Check check = help.check(text, true);
    if (check.packet.isEmpty()) {
        *error = withSuggestions(check.reason, check.nearest);
        return false;
    }
    Step step;
    step.kind = Step::Send;
    step.packet = check.packet;
    place(step);
    steps.append(step);
    return true;
}

bool Script::addWait(const QString &event, const QStringList &conditions, QString *error)
{
    const ApiMessage *m = help.event(event);
    if (!m) {
        *error = withSuggestions(QStringLiteral("unknown event '%1'").arg(event),
                                 CommandHelp::nearest(event, help.eventNames()));
        return false;
    }
    Step step;
    step.kind = Step::Wait;
    step.name = m->name;
    step.classId = m->class_id;
    step.index = m->index;
    place(step);
    for (const QString &condition : conditions) {
        const int eq = condition.indexOf(QLatin1Char('='));
        const QString name = condition.left(eq), value = condition.mid(eq + 1);
        const ApiParam *param = nullptr;
        QStringList names;
        for (const ApiParam &p : m->params) {
            names << p.name;
            if (p.name == name) param = &p;
        }
        if (eq <= 0 || !param) {
            *error = QStringLiteral("event %1 has no parameter '%2' (it has: %3)")
                         .arg(m->name, eq <= 0 ? condition : name,
                              names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", ")));
            return false;
        }
        const QString expected = normalise(value, param->type);
        if (expected.isEmpty() && !value.isEmpty()) {
            *error = QStringLiteral("'%1' is not a value of %2 (%3)")
                         .arg(value, name, ApiParam::type_name(param->type));
            return false;
        }
        step.conditions.append({name, expected});
    }
    steps.append(step);
    return true;
}

bool Script::addSleep(const QString &seconds, QString *error)
{
    Step step;
    step.kind = Step::Sleep;
    place(step);
    if (!parseSeconds(seconds, &step.ms)) {
        *error = QStringLiteral("not a number of seconds: '%1'").arg(seconds);
        return false;
    }
    steps.append(step);
    return true;
}

bool Script::addLine(const QString &typed, QString *error)
{
    const QString text = typed.trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) return true;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.split(blanks);
    const QString &first = words.first();
    if (first == QLatin1String("wait")) {
        if (words.size() < 2) {
            *error = QStringLiteral("wait needs an event name");
            return false;
        }
        return addWait(words.at(1), words.mid(2), error);
    }
    if (first == QLatin1String("sleep") || first == QLatin1String("listen")) {
        if (words.size() != 2) {
            *error = QStringLiteral("%1 needs one number of seconds").arg(first);
            return false;
        }
        return addSleep(words.at(1), error);
    }
    return addCommand(text, error);
}

bool Script::addFile(const QString &path, QString *error)
{
    QFile input;
    const bool stdinput = path == QLatin1String("-");
    const bool opened = stdinput ? input.open(stdin, QIODevice::ReadOnly)
                                 : (input.setFileName(path), input.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("%1: %2").arg(path, input.errorString());
        return false;
    }
    if (!stdinput && input.size() > maxFileSize) {
        *error = QStringLiteral("%1: larger than %2 bytes; not a script").arg(path).arg(maxFileSize);
        return false;
    }
    const QString shown = stdinput ? QStringLiteral("(standard input)") : path;
    const int kept = steps.size();
    qint64 total = 0;
    constexpr qint64 maxLine = 64 * 1024;
    for (int number = 1;; ++number) {
        const QByteArray raw = input.readLine(maxLine);
        if (raw.isEmpty()) {
            if (input.error() != QFileDevice::NoError) {
                *error = QStringLiteral("%1: %2").arg(shown, input.errorString());
                steps.erase(steps.begin() + kept, steps.end());
                file.clear();
                line = 0;
                return false;
            }
            break;
        }
        total += raw.size();
        QString why;
        file = shown;
        line = number;
        if (total > maxFileSize)
            why = QStringLiteral("larger than %1 bytes; not a script").arg(maxFileSize);
        else if (raw.size() >= maxLine - 1 && !raw.endsWith('\n'))
            why = QStringLiteral("line longer than any command");
        else
            addLine(QString::fromUtf8(raw), &why);
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(shown).arg(number).arg(why);
            file.clear();
            line = 0;
            steps.erase(steps.begin() + kept, steps.end());
            return false;
        }
    }
    file.clear();
    line = 0;
    return true;
}
