#include "commandhelp.h"

#include <QRegularExpression>
#include <QVector>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace
{

// The command box's separators: blanks, tabs and closing brackets.
const QRegularExpression &separators()
{
    static const QRegularExpression re(QStringLiteral("[] \\t]+"));
    return re;
}

// Edits (insert, delete, replace, swap of neighbours) between a and b, case ignored; three rows of the
// table are all it needs.
int distance(const QString &a, const QString &b)
{
    const QString s = a.toLower(), t = b.toLower();
    const int m = t.size();
    std::vector<int> before(m + 1), previous(m + 1), row(m + 1);
    for (int j = 0; j <= m; ++j)
        previous[j] = j;
    for (int i = 1; i <= s.size(); ++i) {
        row[0] = i;
        for (int j = 1; j <= m; ++j) {
            const int cost = s[i - 1] == t[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && s[i - 1] == t[j - 2] && s[i - 2] == t[j - 1])
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
        std::swap(before, previous);
        std::swap(previous, row);
    }
    return previous[m];
}

QString stripPrefix(const QString &name, const QString &prefix)
{
    return name.startsWith(prefix) ? name.mid(prefix.size()) : name;
}

} // namespace

QStringList CommandHelp::commandNames() const
{
    QStringList names;
    for (const ApiClass &cls : parser.classes())
        for (const ApiMessage &m : cls.commands)
            names << cls.name + QLatin1Char('_') + m.name;
    return names;
}

QStringList CommandHelp::eventNames() const
{
    QStringList names;
    for (const ApiClass &cls : parser.classes())
        for (const ApiMessage &m : cls.events)
            names << m.name; // the model already names events class_event
    return names;
}

const ApiMessage *CommandHelp::command(const QString &name) const
{
    const QString bare = stripPrefix(name, QStringLiteral("wifi_cmd_"));
    for (const ApiClass &cls : parser.classes()) {
        if (!bare.startsWith(cls.name + QLatin1Char('_'))) continue;
        const QString rest = bare.mid(cls.name.size() + 1);
        for (const ApiMessage &m : cls.commands)
            if (m.name == rest) return &m;
    }
    return nullptr;
}

const ApiMessage *CommandHelp::event(const QString &name) const
{
    const QString bare = stripPrefix(name, QStringLiteral("wifi_evt_"));
    for (const ApiClass &cls : parser.classes())
        for (const ApiMessage &m : cls.events)
            if (m.name == bare) return &m;
    return nullptr;
}

const ApiMessage *CommandHelp::response(int classId, int index) const
{
    if (classId < 0 || classId >= parser.classes().size()) return nullptr;
    for (const ApiMessage &m : parser.classes().at(classId).responses)
        if (m.index == index) return &m;
    return nullptr;
}

const ApiMessage *CommandHelp::eventById(int classId, int index) const
{
    if (classId < 0 || classId >= parser.classes().size()) return nullptr;
    for (const ApiMessage &m : parser.classes().at(classId).events)
        if (m.index == index) return &m;
    return nullptr;
}

QString CommandHelp::className(int classId) const
{
    if (classId < 0 || classId >= parser.classes().size()) return QString();
    return parser.classes().at(classId).name;
}

QString CommandHelp::usage(const QString &name, const ApiMessage &message)
{
    QString text = name;
    for (const ApiParam &p : message.params)
        text += QStringLiteral(" %1:%2").arg(p.name, ApiParam::type_name(p.type));
    return text;
}

QStringList CommandHelp::nearest(const QString &word, const QStringList &names, int max)
{
    if (word.isEmpty()) return {};
    struct Scored {
        int score;
        QString name;
    };
    QVector<Scored> scored;
    const int limit = std::max(2, int(word.size()) / 3);
    // Lengths further apart than the limit cannot be near: a long line costs no distance tables.
    auto near = [&word, limit](const QString &name, int extra) {
        if (std::abs(int(word.size()) - int(name.size())) + extra > limit) return limit + 1;
        return distance(word, name) + extra;
    };
    for (const QString &name : names) {
        int score = near(name, 0);
        // The class left out ("wifi_on" for sme_wifi_on) costs one edit.
        const int underscore = name.indexOf(QLatin1Char('_'));
        if (underscore > 0) score = std::min(score, near(name.mid(underscore + 1), 1));
        // A part of a name ("scan") finds the names holding it.
        if (word.size() >= 3 && name.contains(word, Qt::CaseInsensitive)) score = std::min(score, limit);
        if (score <= limit) scored.append({score, name});
    }
    // Among equals, a name that goes on from what was typed comes first, as completion would find it.
    std::stable_sort(scored.begin(), scored.end(), [&word](const Scored &a, const Scored &b) {
        if (a.score != b.score) return a.score < b.score;
        const bool aGoesOn = a.name.startsWith(word, Qt::CaseInsensitive);
        if (aGoesOn != b.name.startsWith(word, Qt::CaseInsensitive)) return aGoesOn;
        return a.name.size() < b.name.size();
    });
    QStringList out;
    for (int i = 0; i < scored.size() && i < max; ++i)
        out << scored.at(i).name;
    return out;
}

QString CommandHelp::plain(const QString &html)
{
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QString text = html;
    text.remove(tags);
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

QString CommandHelp::commandPart(const QString &line) const
{
    QString text = line;
    if (text.section(QLatin1Char('_'), 0, 0) == parser.deviceName() &&
        text.section(QLatin1Char('_'), 1, 1) == QLatin1String("cmd"))
        text.remove(0, parser.deviceName().size() + 5);
    return text;
}

QString CommandHelp::rangeProblem(const ApiMessage &command, const QString &line) const
{
    QStringList args = commandPart(line).split(separators());
    args.removeFirst();
    for (int i = 0; i < args.size() && i < command.params.size(); ++i) {
        const int type = command.params.at(i).type;
        const QString &arg = args.at(i);
        bool ok = false;
        switch (type) {
        case ApiParam::Uint8:
        case ApiParam::Uint16:
        case ApiParam::Uint32: {
            const quint64 top = type == ApiParam::Uint8    ? 0xff
                                : type == ApiParam::Uint16 ? 0xffff
                                                           : 0xffffffffu;
            if (arg.toULongLong(&ok, 16) > top || !ok)
                return QStringLiteral("argument '%1' out of range for %2 (0 to %3, in hexadecimal)")
                    .arg(arg, ApiParam::type_name(type))
                    .arg(top, 0, 16);
            break;
        }
        case ApiParam::Int8:
        case ApiParam::Int16:
        case ApiParam::Int32: {
            const int bits = type == ApiParam::Int8 ? 8 : type == ApiParam::Int16 ? 16 : 32;
            const qint64 low = -(qint64(1) << (bits - 1)), high = (qint64(1) << (bits - 1)) - 1;
            const qint64 value = arg.toLongLong(&ok, 10);
            if (!ok || value < low || value > high)
                return QStringLiteral("argument '%1' out of range for %2 (%3 to %4)")
                    .arg(arg, ApiParam::type_name(type))
                    .arg(low)
                    .arg(high);
            break;
        }
        case ApiParam::Ipv4: {
            const quint64 value = arg.toULongLong(&ok, 16);
            if (ok && value > 0xffffffffu)
                return QStringLiteral("argument '%1' out of range for ipv4").arg(arg);
            break;
        }
        case ApiParam::Uint8Array:
        case ApiParam::Uint16Array: {
            // The box skips what is not a hex digit; a script must not send half of what it meant.
            static const QRegularExpression hex(QStringLiteral("^([0-9a-fA-F]{2})*$"));
            if (!hex.match(arg).hasMatch())
                return QStringLiteral("argument '%1' is not an even number of hexadecimal digits").arg(arg);
            break;
        }
        default:
            break;
        }
    }
    return QString();
}

CommandHelp::Check CommandHelp::check(const QString &line, bool strictRange) const
{
    Check result;
    QString msg;
    const QString name = commandPart(line).split(separators()).first();
    result.command = command(name);
    result.packet = parser.parse(line, msg);

    if (!result.packet.isEmpty()) {
        if (strictRange && result.command) {
            result.reason = rangeProblem(*result.command, line);
            if (!result.reason.isEmpty()) result.packet.clear();
        }
        return result;
    }

    // The help line comes first in the parser's texts; what follows it is the reason.
    static const QRegularExpression helpLine(QStringLiteral("<nobr>.*</nobr><br>"),
                                             QRegularExpression::InvertedGreedinessOption);
    msg.remove(helpLine);
    // The rest is plain text, the user's own included, which may hold "<".
    result.reason = msg;
    if (result.command) {
        if (result.reason.isEmpty()) result.reason = QStringLiteral("the command cannot be encoded");
        return result;
    }
    if (line.trimmed().isEmpty()) {
        result.reason = QStringLiteral("empty line");
        return result;
    }
    // No command name holds a digit without an underscore: such a line was meant as a packet.
    static const QRegularExpression hexLine(
        QStringLiteral("^[0-9a-fA-FxX \\t\\]]*[0-9][0-9a-fA-FxX \\t\\]]*$"));
    if (!line.contains(QLatin1Char('_')) && hexLine.match(line).hasMatch()) {
        if (result.reason.isEmpty())
            result.reason =
                QStringLiteral("not a packet: write it as pairs of lower-case hexadecimal digits");
        return result;
    }
    if (result.reason.isEmpty()) result.reason = QStringLiteral("unknown command '%1'").arg(name);
    result.nearest = nearest(name, commandNames());
    return result;
}
