#include "commandparser.h"

#include "packet.h"

#include <QFile>
#include <QPair>
#include <QRegularExpression>
#include <QVector>
#include <QXmlStreamReader>
#include <algorithm>

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

// Deeper than any real definition file; a document nested further is refused, not read.
constexpr int maxDepth = 256;

// One pass over the file with the semantics of a search by element name at any depth: an element counts
// for every enclosing element that collects it (an event nested in a second class belongs to both), and a
// message takes the first "params" (or "returns") below it, whatever its depth.
class DefinitionReader
{
public:
    explicit DefinitionReader(QIODevice *device) : xml(device) { xml.setNamespaceProcessing(false); }

    bool read();

    QString deviceName;
    int deviceId = 0;
    QList<ApiClass> classes;
    // In insertion order: class by class, defines before enums, group by group, members in file order.
    QList<QPair<QString, qint32>> constants;

private:
    enum GroupKind { Defines = 0, Enums = 1 };

    // An event or command being read, in one of the classes around it.
    struct OpenMessage {
        int depth;
        int classIndex;
        bool event;
        int index;        // in the class's events or commands
        int params = -1;  // depth of its "params" element while that is open
        int returns = -1; // the same for "returns"
        bool hasParams = false;
        bool hasReturns = false;
    };
    struct OpenClass {
        int depth;
        int index;
    };
    struct OpenGroup {
        int depth;
        int classIndex;
        GroupKind kind;
        int order;
        qint32 running = -1;
    };
    struct Constant {
        int classIndex;
        GroupKind kind;
        int group;
        int order;
        QString key;
        qint32 value;
    };

    void start(int depth);
    void end(int depth);
    QString attribute(const char *name) const
    {
        return xml.attributes().value(QLatin1String(name)).toString();
    }
    ApiMessage message(int classIndex) const;
    void addParam(const OpenMessage &open);

    QXmlStreamReader xml;
    QVector<OpenClass> openClasses;
    QVector<OpenMessage> openMessages;
    QVector<OpenGroup> openGroups;
    QVector<Constant> found;
    int order = 0;
};

bool DefinitionReader::read()
{
    int depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > maxDepth) {
                xml.raiseError(QStringLiteral("nested too deeply"));
                return false;
            }
            start(depth);
            break;
        case QXmlStreamReader::EndElement:
            end(depth--);
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) return false;

    std::stable_sort(found.begin(), found.end(), [](const Constant &a, const Constant &b) {
        if (a.classIndex != b.classIndex) return a.classIndex < b.classIndex;
        if (a.kind != b.kind) return a.kind < b.kind;
        if (a.group != b.group) return a.group < b.group;
        return a.order < b.order;
    });
    for (const Constant &c : found)
        constants.append({c.key, c.value});
    return true;
}

ApiMessage DefinitionReader::message(int classIndex) const
{
    ApiMessage m;
    m.script = autoBaseNumber(attribute("script"));
    m.index = autoBaseNumber(attribute("index"));
    m.class_id = classIndex;
    m.name = attribute("name");
    return m;
}

void DefinitionReader::start(int depth)
{
    const QStringRef tag = xml.qualifiedName();
    if (depth == 1) { // the root, whatever its name
        deviceName = attribute("device_name");
        bool ok = false;
        const int id = attribute("device_id").toInt(&ok, 10);
        deviceId = ok ? id : 0;
        return;
    }
    if (tag == QLatin1String("class")) {
        ApiClass cls;
        cls.name = attribute("name");
        openClasses.append({depth, classes.size()});
        classes.append(cls);
    } else if (tag == QLatin1String("event") || tag == QLatin1String("command")) {
        const bool event = tag == QLatin1String("event");
        for (const OpenClass &open : openClasses) {
            ApiClass &cls = classes[open.index];
            ApiMessage m = message(open.index);
            if (event) {
                m.name = cls.name + QLatin1Char('_') + m.name;
                openMessages.append({depth, open.index, true, cls.events.size()});
                cls.events.append(m);
            } else {
                m.full_name = QStringLiteral("wifi_cmd_%1_%2").arg(cls.name, m.name);
                openMessages.append({depth, open.index, false, cls.commands.size()});
                cls.commands.append(m);
                cls.responses.append(m);
            }
        }
    } else if (tag == QLatin1String("params") || tag == QLatin1String("returns")) {
        // Only the first one below a message counts.
        const bool params = tag == QLatin1String("params");
        for (OpenMessage &m : openMessages) {
            if (params && !m.hasParams) {
                m.hasParams = true;
                m.params = depth;
            } else if (!params && !m.event && !m.hasReturns) {
                m.hasReturns = true;
                m.returns = depth;
            }
        }
    } else if (tag == QLatin1String("param")) {
        for (const OpenMessage &m : openMessages)
            addParam(m);
    } else if (tag == QLatin1String("defines") || tag == QLatin1String("enums")) {
        const GroupKind kind = tag == QLatin1String("defines") ? Defines : Enums;
        const int group = order++;
        for (const OpenClass &open : openClasses)
            openGroups.append({depth, open.index, kind, group});
    } else if (tag == QLatin1String("define") || tag == QLatin1String("enum")) {
        const GroupKind kind = tag == QLatin1String("define") ? Defines : Enums;
        const QString text = attribute("value");
        const QString name = attribute("name");
        const int at = order++;
        // Each group numbers its members on from its last value, starting at 0.
        for (OpenGroup &g : openGroups) {
            if (g.kind != kind) continue;
            g.running = text.isEmpty() ? g.running + 1 : constantValue(text);
            QString key = classes.at(g.classIndex).name + QLatin1Char('_') + name;
            if (kind == Defines) key = key.toUpper();
            found.append({g.classIndex, kind, g.order, at, key, g.running});
        }
    }
}

void DefinitionReader::addParam(const OpenMessage &open)
{
    ApiClass &cls = classes[open.classIndex];
    if (open.params >= 0) {
        const ApiParam param(attribute("name"), ApiParam::type_code(attribute("type")));
        (open.event ? cls.events : cls.commands)[open.index].params.append(param);
    }
    if (open.returns >= 0)
        cls.responses[open.index].params.append(
            ApiParam(attribute("name"), ApiParam::type_code(attribute("type"))));
}

void DefinitionReader::end(int depth)
{
    for (OpenMessage &m : openMessages) {
        if (m.params == depth) m.params = -1;
        if (m.returns == depth) m.returns = -1;
    }
    auto closes = [depth](const auto &open) { return open.depth == depth; };
    openMessages.erase(std::remove_if(openMessages.begin(), openMessages.end(), closes), openMessages.end());
    openGroups.erase(std::remove_if(openGroups.begin(), openGroups.end(), closes), openGroups.end());
    openClasses.erase(std::remove_if(openClasses.begin(), openClasses.end(), closes), openClasses.end());
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
    DefinitionReader reader(&file);
    if (!reader.read()) {
        emit log_message(QStringLiteral("%1 %2").arg(path, QStringLiteral("file read failed")));
        return -1;
    }

    m_deviceName = reader.deviceName;
    m_deviceId = quint8(reader.deviceId << 3);
    // A later constant of the same name replaces the earlier one.
    for (const auto &constant : reader.constants)
        m_constants.insert(constant.first, constant.second);
    m_classes.append(reader.classes);
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
