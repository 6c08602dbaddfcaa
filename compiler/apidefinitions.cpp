#include "apidefinitions.h"

#include "consoleoutput.h"

#include <QDomDocument>
#include <QFile>

struct TypeRow {
    const char *name;
    int code;
    uint32_t size;
};

static const TypeRow kTypes[] = {
    {"uint8", ty::Uint8, 1},           {"int8", ty::Int8, 1},     {"uint16", ty::Uint16, 2},
    {"int16", ty::Int16, 2},           {"uint32", ty::Uint32, 4}, {"int32", ty::Int32, 4},
    {"uint8array", ty::Uint8Array, 0}, {"string", ty::String, 0}, {"hw_addr", ty::HwAddr, 6},
    {"bd_addr", ty::HwAddr, 6},        {"ipv4", ty::Ipv4, 4},     {"uint16array", ty::Uint16Array, 0},
};

int apiTypeCode(const QByteArray &baseName, bool *known)
{
    for (const TypeRow &t : kTypes) {
        if (baseName == t.name) {
            *known = true;
            return t.code;
        }
    }
    *known = false;
    return ty::Uint8;
}

uint32_t apiTypeSize(int typeCode)
{
    for (const TypeRow &t : kTypes) {
        if (t.code == typeCode) return t.size;
    }
    return 0;
}

bool apiTypeIsBuffer(int typeCode)
{
    return typeCode == ty::Uint8Array || typeCode == ty::String || typeCode == ty::HwAddr ||
           typeCode == ty::Uint16Array;
}

// "script" ids: automatic base, 0 when missing or not a number.
static int32_t autoBaseValue(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 0);
    return ok ? int32_t(v) : 0;
}

// Define and enum values: hexadecimal when the text holds an x, else decimal; 0 when invalid.
static int32_t defineValue(const QString &text)
{
    const bool hex = text.contains(QLatin1Char('x'), Qt::CaseInsensitive);
    QString digits = text.trimmed();
    if (hex && digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
    bool ok = false;
    const qlonglong v = digits.toLongLong(&ok, hex ? 16 : 10);
    if (!ok || v < INT32_MIN || v > qlonglong(UINT32_MAX)) return 0;
    return int32_t(uint32_t(v));
}

static QDomElement firstDescendant(const QDomElement &parent, const QString &tag)
{
    return parent.elementsByTagName(tag).item(0).toElement();
}

static QVector<ApiParam> readParams(const QDomElement &holder, const QHash<QByteArray, QByteArray> &types)
{
    QVector<ApiParam> params;
    if (holder.isNull()) return params;
    const QDomNodeList list = holder.elementsByTagName(QStringLiteral("param"));
    for (int i = 0; i < list.size(); ++i) {
        const QDomElement p = list.item(i).toElement();
        const QByteArray base = types.value(p.attribute(QStringLiteral("type")).toUtf8());
        bool known = false;
        const int code = apiTypeCode(base, &known);
        if (!known) printLine("unknown type:" + base);
        const QByteArray name = p.attribute(QStringLiteral("name")).toUtf8();
        // Variable-size values carry their length as a parameter of their own, just before them.
        if (code == ty::Uint8Array || code == ty::String || code == ty::Uint16Array)
            params.append({name + "_len", code == ty::Uint16Array ? int(ty::Uint16) : int(ty::Uint8)});
        params.append({name, code});
    }
    return params;
}

static ApiMessage readMessage(const QByteArray &className, const QDomElement &e, const QString &paramsTag,
                              const QHash<QByteArray, QByteArray> &types)
{
    ApiMessage m;
    m.name = className + '_' + e.attribute(QStringLiteral("name")).toUtf8();
    m.script = autoBaseValue(e.attribute(QStringLiteral("script")));
    m.params = readParams(firstDescendant(e, paramsTag), types);
    return m;
}

static void readValues(const QDomElement &cls, const QString &groupTag, const QString &itemTag, bool upper,
                       QMap<QByteArray, int32_t> &constants)
{
    const QByteArray className = cls.attribute(QStringLiteral("name")).toUtf8();
    const QDomNodeList groups = cls.elementsByTagName(groupTag);
    for (int g = 0; g < groups.size(); ++g) {
        const QDomNodeList items = groups.item(g).toElement().elementsByTagName(itemTag);
        int32_t running = -1;
        for (int i = 0; i < items.size(); ++i) {
            const QDomElement item = items.item(i).toElement();
            const QString text = item.attribute(QStringLiteral("value"));
            running = text.isEmpty() ? int32_t(uint32_t(running) + 1) : defineValue(text);
            QByteArray name = className + '_' + item.attribute(QStringLiteral("name")).toUtf8();
            if (upper) name = name.toUpper();
            constants.insert(name, running);
        }
    }
}

void ApiDefinitions::clear()
{
    m_types.clear();
    m_constants.clear();
    m_classes.clear();
    m_commandIndex.clear();
    m_eventIndex.clear();
}

bool ApiDefinitions::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        printLine(path.toLocal8Bit() + " file open failed");
        return false;
    }
    QDomDocument doc;
    if (!doc.setContent(&file)) {
        printLine(path.toLocal8Bit() + " file read failed");
        return false;
    }
    const QDomElement root = doc.documentElement();

    const QDomNodeList typeGroups = root.elementsByTagName(QStringLiteral("types"));
    for (int g = 0; g < typeGroups.size(); ++g) {
        const QDomNodeList list = typeGroups.item(g).toElement().elementsByTagName(QStringLiteral("type"));
        for (int i = 0; i < list.size(); ++i) {
            const QDomElement t = list.item(i).toElement();
            m_types.insert(t.attribute(QStringLiteral("name")).toUtf8(),
                           t.attribute(QStringLiteral("datatype")).toUtf8());
        }
    }
    const QDomNodeList dataTypeGroups = root.elementsByTagName(QStringLiteral("datatypes"));
    for (int g = 0; g < dataTypeGroups.size(); ++g) {
        const QDomNodeList list =
            dataTypeGroups.item(g).toElement().elementsByTagName(QStringLiteral("datatype"));
        for (int i = 0; i < list.size(); ++i) {
            const QDomElement t = list.item(i).toElement();
            m_types.insert(t.attribute(QStringLiteral("name")).toUtf8(),
                           t.attribute(QStringLiteral("base")).toUtf8());
        }
    }

    const QDomNodeList classes = root.elementsByTagName(QStringLiteral("class"));
    for (int c = 0; c < classes.size(); ++c) {
        const QDomElement e = classes.item(c).toElement();
        ApiClass cls;
        cls.name = e.attribute(QStringLiteral("name")).toUtf8();
        const QDomNodeList events = e.elementsByTagName(QStringLiteral("event"));
        for (int i = 0; i < events.size(); ++i)
            cls.events.append(
                readMessage(cls.name, events.item(i).toElement(), QStringLiteral("params"), m_types));
        const QDomNodeList commands = e.elementsByTagName(QStringLiteral("command"));
        for (int i = 0; i < commands.size(); ++i) {
            const QDomElement cmd = commands.item(i).toElement();
            cls.commands.append(readMessage(cls.name, cmd, QStringLiteral("params"), m_types));
            cls.responses.append(readMessage(cls.name, cmd, QStringLiteral("returns"), m_types));
        }
        readValues(e, QStringLiteral("defines"), QStringLiteral("define"), true, m_constants);
        readValues(e, QStringLiteral("enums"), QStringLiteral("enum"), false, m_constants);
        m_classes.append(cls);
    }
    buildIndexes();
    return true;
}

bool ApiDefinitions::loadConstants(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        printLine(path.toLocal8Bit() + " file open failed");
        return false;
    }
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> pieces = line.split(' ');
        QList<QByteArray> words;
        for (const QByteArray &p : pieces) {
            if (!p.isEmpty()) words.append(p);
        }
        if (words.size() < 2) continue;
        m_constants.insert(words.at(0), words.at(1).toInt());
    }
    return true;
}

void ApiDefinitions::buildIndexes()
{
    m_commandIndex.clear();
    m_eventIndex.clear();
    for (int c = 0; c < m_classes.size(); ++c) {
        const ApiClass &cls = m_classes.at(c);
        for (int i = 0; i < cls.commands.size(); ++i) {
            if (!m_commandIndex.contains(cls.commands.at(i).name))
                m_commandIndex.insert(cls.commands.at(i).name, qMakePair(c, i));
        }
        for (int i = 0; i < cls.events.size(); ++i) {
            if (!m_eventIndex.contains(cls.events.at(i).name))
                m_eventIndex.insert(cls.events.at(i).name, qMakePair(c, i));
        }
    }
}

const ApiMessage *ApiDefinitions::findCommand(const QByteArray &name) const
{
    const auto it = m_commandIndex.constFind(name);
    return it == m_commandIndex.constEnd() ? nullptr : &m_classes.at(it->first).commands.at(it->second);
}

const ApiMessage *ApiDefinitions::findResponse(const QByteArray &name) const
{
    const auto it = m_commandIndex.constFind(name);
    return it == m_commandIndex.constEnd() ? nullptr : &m_classes.at(it->first).responses.at(it->second);
}

const ApiMessage *ApiDefinitions::findEvent(const QByteArray &name) const
{
    const auto it = m_eventIndex.constFind(name);
    return it == m_eventIndex.constEnd() ? nullptr : &m_classes.at(it->first).events.at(it->second);
}
