#include "commandparser.h"

#include "packet.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QFile>
#include <QRegularExpression>

namespace
{

// Arguments are separated by blanks, tabs and closing brackets.
const QRegularExpression &separators()
{
    static const QRegularExpression re(QStringLiteral("[] \\t]+"));
    return re;
}

// "script" and "index": 0x for hexadecimal, a leading 0 for octal, else decimal.
qint32 autoBaseNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 0);
    return ok ? value : 0;
}

// Define and enum values are hexadecimal when they contain an x.
qint32 constantValue(const QString &text)
{
    bool ok = false;
    const bool hex = text.contains(QLatin1Char('x'), Qt::CaseInsensitive);
    const int value = text.toInt(&ok, hex ? 16 : 10);
    return ok ? value : 0;
}

QDomElement firstDescendant(const QDomElement &parent, const QString &tag)
{
    return parent.elementsByTagName(tag).item(0).toElement();
}

QList<ApiParam> readParams(const QDomElement &holder)
{
    QList<ApiParam> params;
    if (holder.isNull()) return params;
    const QDomNodeList list = holder.elementsByTagName(QStringLiteral("param"));
    for (int i = 0; i < list.size(); ++i) {
        const QDomElement e = list.item(i).toElement();
        params.append(ApiParam(e.attribute(QStringLiteral("name")),
                               ApiParam::type_code(e.attribute(QStringLiteral("type")))));
    }
    return params;
}

ApiMessage readMessage(const QDomElement &e, qint32 classId)
{
    ApiMessage m;
    m.script = autoBaseNumber(e.attribute(QStringLiteral("script")));
    m.index = autoBaseNumber(e.attribute(QStringLiteral("index")));
    m.class_id = classId;
    m.name = e.attribute(QStringLiteral("name"));
    return m;
}

// Each group numbers its members on from the last value, starting at 0.
void readConstants(const QDomElement &cls, const QString &className, const QString &groupTag,
                   const QString &itemTag, bool upperCase, QMap<QString, qint32> &constants)
{
    const QDomNodeList groups = cls.elementsByTagName(groupTag);
    for (int g = 0; g < groups.size(); ++g) {
        qint32 running = -1;
        const QDomNodeList items = groups.item(g).toElement().elementsByTagName(itemTag);
        for (int i = 0; i < items.size(); ++i) {
            const QDomElement e = items.item(i).toElement();
            const QString text = e.attribute(QStringLiteral("value"));
            running = text.isEmpty() ? running + 1 : constantValue(text);
            QString key = className + QLatin1Char('_') + e.attribute(QStringLiteral("name"));
            if (upperCase) key = key.toUpper();
            constants.insert(key, running);
        }
    }
}

} // namespace

CommandParser::CommandParser(QObject *parent) : QObject(parent) {}

int CommandParser::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        emit log_message(
            QStringLiteral("%1 %2 %3").arg(path, QStringLiteral("file open failed")).arg(int(file.error())));
        return -1;
    }
    QDomDocument doc;
    if (!doc.setContent(&file)) {
        emit log_message(QStringLiteral("%1 %2").arg(path, QStringLiteral("file read failed")));
        return -1;
    }

    const QDomElement root = doc.documentElement();
    m_deviceName = root.attribute(QStringLiteral("device_name"));
    bool ok = false;
    const int deviceId = root.attribute(QStringLiteral("device_id")).toInt(&ok, 10);
    m_deviceId = quint8((ok ? deviceId : 0) << 3);

    // A class's id is its position among all classes of the file, however deeply nested.
    const QDomNodeList classes = root.elementsByTagName(QStringLiteral("class"));
    for (int c = 0; c < classes.size(); ++c) {
        const QDomElement ce = classes.item(c).toElement();
        ApiClass cls;
        cls.name = ce.attribute(QStringLiteral("name"));

        const QDomNodeList events = ce.elementsByTagName(QStringLiteral("event"));
        for (int i = 0; i < events.size(); ++i) {
            const QDomElement e = events.item(i).toElement();
            ApiMessage event = readMessage(e, c);
            event.name = cls.name + QLatin1Char('_') + event.name;
            event.params = readParams(firstDescendant(e, QStringLiteral("params")));
            cls.events.append(event);
        }

        const QDomNodeList commands = ce.elementsByTagName(QStringLiteral("command"));
        for (int i = 0; i < commands.size(); ++i) {
            const QDomElement e = commands.item(i).toElement();
            ApiMessage command = readMessage(e, c);
            command.full_name = QStringLiteral("wifi_cmd_%1_%2").arg(cls.name, command.name);
            ApiMessage response = command;
            command.params = readParams(firstDescendant(e, QStringLiteral("params")));
            response.params = readParams(firstDescendant(e, QStringLiteral("returns")));
            cls.commands.append(command);
            cls.responses.append(response);
        }

        readConstants(ce, cls.name, QStringLiteral("defines"), QStringLiteral("define"), true, m_constants);
        readConstants(ce, cls.name, QStringLiteral("enums"), QStringLiteral("enum"), false, m_constants);
        m_classes.append(cls);
    }
    return 0;
}

int CommandParser::loadDefault(const QString &programDir)
{
    const QString local = QStringLiteral("wifi.xml");
    {
        QFile probe(local);
        if (probe.open(QIODevice::ReadOnly)) return load(local);
    }
    return load(programDir + QStringLiteral("/../api/wifiapi.xml"));
}

QByteArray CommandParser::parse(const QString &line, QString &msg) const
{
    QString text = line;

    // wifi_cmd_sme_wifi_on and sme_wifi_on name the same command.
    if (text.section(QLatin1Char('_'), 0, 0) == m_deviceName &&
        text.section(QLatin1Char('_'), 1, 1) == QLatin1String("cmd"))
        text.remove(0, m_deviceName.size() + 5);

    QString className = text;
    QString rest;
    const int underscore = text.indexOf(QLatin1Char('_'));
    if (underscore >= 0) {
        className = text.left(underscore);
        rest = text.mid(underscore + 1);
    }

    // Empty items are kept: a trailing blank is an (empty) argument.
    QStringList args = rest.split(separators());
    const QString commandName = args.takeFirst();

    for (const ApiClass &cls : m_classes) {
        if (cls.name != className) continue;
        QByteArray packet = cls.find_command(commandName, args, msg);
        if (!packet.isEmpty()) {
            auto *header = reinterpret_cast<uint8_t *>(packet.data());
            header[0] = m_deviceId;
            packet_set_payload_length(header, packet.size() - packet_header_size);
            return packet;
        }
        break;
    }
    return parseHex(line, msg);
}

QByteArray CommandParser::parseHex(const QString &line, QString &msg) const
{
    QString digits = line;
    digits.remove(separators());
    const QByteArray packet = QByteArray::fromHex(digits.toLatin1());
    // Only clean lower-case hex pairs count as a packet; anything else is silently no packet.
    if (QString::fromLatin1(packet.toHex()) != digits) return {};

    if (packet.size() < 2) {
        msg += QStringLiteral("Length of hex string must be at least two bytes");
        return {};
    }
    if (quint8(packet.at(0)) != m_deviceId) {
        msg += QStringLiteral("First byte must be correct device_id %1=%2").arg(m_deviceName).arg(m_deviceId);
        return {};
    }
    if (packet.size() < packet_header_size) {
        msg += QStringLiteral("Packet length invalid must be at least 4");
        return {};
    }
    // Only byte 1 counts: byte 0 already had to be the bare device id, without high length bits.
    if (packet.size() != quint8(packet.at(1)) + packet_header_size) {
        msg +=
            QStringLiteral("Packet length field invalid expected:%1").arg(packet.size() - packet_header_size);
        return {};
    }
    return packet;
}
