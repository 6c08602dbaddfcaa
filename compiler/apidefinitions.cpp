#include "apidefinitions.h"

#include "consoleoutput.h"

#include <QFile>
#include <QXmlStreamReader>
#include <vector>

namespace tollan
{

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

// Files nest a handful of levels; anything far deeper is refused rather than read.
static const int kMaxXmlDepth = 1000;

namespace
{
enum class Tag {
    Types,
    Type,
    Datatypes,
    Datatype,
    Class,
    Event,
    Command,
    Params,
    Returns,
    Param,
    Defines,
    Define,
    Enums,
    Enum
};

// The elements that the API is read from, in document order. Elements of other names are left
// out: "inside" means any depth below, and dropping the levels between keeps that relation.
// Attributes are kept as the model uses them: names and type names as UTF-8, numbers as text.
struct Node {
    Tag tag;
    int end = 0;     // one past the last node inside this one
    QByteArray name; // the "name" attribute
    // The one other attribute the tag needs: a type name ("datatype", "base", "type") in
    // `typeName`, a number ("script", "value") in `number`.
    QByteArray typeName;
    QString number;
};

struct TagRow {
    QLatin1String name;
    Tag tag;
    QLatin1String valueAttribute; // empty when the tag needs none
    bool numeric;
};

#define NW_LATIN1(text) QLatin1String(text, int(sizeof(text)) - 1)
const TagRow kTags[] = {
    {NW_LATIN1("types"), Tag::Types, QLatin1String(), false},
    {NW_LATIN1("type"), Tag::Type, NW_LATIN1("datatype"), false},
    {NW_LATIN1("datatypes"), Tag::Datatypes, QLatin1String(), false},
    {NW_LATIN1("datatype"), Tag::Datatype, NW_LATIN1("base"), false},
    {NW_LATIN1("class"), Tag::Class, QLatin1String(), false},
    {NW_LATIN1("event"), Tag::Event, NW_LATIN1("script"), true},
    {NW_LATIN1("command"), Tag::Command, NW_LATIN1("script"), true},
    {NW_LATIN1("params"), Tag::Params, QLatin1String(), false},
    {NW_LATIN1("returns"), Tag::Returns, QLatin1String(), false},
    {NW_LATIN1("param"), Tag::Param, NW_LATIN1("type"), false},
    {NW_LATIN1("defines"), Tag::Defines, QLatin1String(), false},
    {NW_LATIN1("define"), Tag::Define, NW_LATIN1("value"), true},
    {NW_LATIN1("enums"), Tag::Enums, QLatin1String(), false},
    {NW_LATIN1("enum"), Tag::Enum, NW_LATIN1("value"), true},
};
const QLatin1String kNameAttribute = NW_LATIN1("name");
#undef NW_LATIN1

// Lengths first: most names differ in length, and that test needs no call.
bool sameName(const QStringRef &name, QLatin1String wanted)
{
    return name.size() == wanted.size() && name == wanted;
}

const TagRow *findTag(const QStringRef &name)
{
    for (const TagRow &row : kTags) {
        if (sameName(name, row.name)) return &row;
    }
    return nullptr;
}

using Nodes = std::vector<Node>;

// Reads every element below the root. False when the document is not well-formed or nests
// deeper than any real file.
bool readNodes(QIODevice *device, Nodes &nodes)
{
    QXmlStreamReader xml(device);
    xml.setNamespaceProcessing(false); // tags and attributes are matched by their written names
    std::vector<int> open;             // node index of each open element, -1 for others
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (open.size() >= size_t(kMaxXmlDepth)) return false;
            const TagRow *row = open.empty() ? nullptr : findTag(xml.qualifiedName());
            if (!row) {
                open.push_back(-1);
                continue;
            }
            Node node{row->tag, 0, QByteArray(), QByteArray(), QString()};
            // The first attribute of each name counts.
            bool nameFound = false;
            bool valueFound = row->valueAttribute.size() == 0;
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                const QStringRef written = attribute.qualifiedName();
                if (!nameFound && sameName(written, kNameAttribute)) {
                    node.name = attribute.value().toUtf8();
                    nameFound = true;
                } else if (!valueFound && sameName(written, row->valueAttribute)) {
                    if (row->numeric)
                        node.number = attribute.value().toString();
                    else
                        node.typeName = attribute.value().toUtf8();
                    valueFound = true;
                }
            }
            open.push_back(int(nodes.size()));
            nodes.push_back(std::move(node));
        } else if (token == QXmlStreamReader::EndElement) {
            if (open.back() >= 0) nodes[size_t(open.back())].end = int(nodes.size());
            open.pop_back();
        }
    }
    return !xml.hasError();
}

// The nodes of a tag inside the node at `parent` (or anywhere, for -1), in document order.
template <typename F> void forEachInside(const Nodes &nodes, int parent, Tag tag, F f)
{
    const int begin = parent + 1;
    const int end = parent < 0 ? int(nodes.size()) : nodes[size_t(parent)].end;
    for (int i = begin; i < end; ++i) {
        if (nodes[size_t(i)].tag == tag) f(i);
    }
}

int firstInside(const Nodes &nodes, int parent, Tag tag)
{
    for (int i = parent + 1; i < nodes[size_t(parent)].end; ++i) {
        if (nodes[size_t(i)].tag == tag) return i;
    }
    return -1;
}
} // namespace

static QVector<ApiParam> readParams(const Nodes &nodes, int holder,
                                    const QHash<QByteArray, QByteArray> &types)
{
    QVector<ApiParam> params;
    if (holder < 0) return params;
    forEachInside(nodes, holder, Tag::Param, [&](int i) {
        const Node &p = nodes[size_t(i)];
        const QByteArray base = types.value(p.typeName);
        bool known = false;
        const int code = apiTypeCode(base, &known);
        if (!known) printLine("unknown type:" + base);
        const QByteArray &name = p.name;
        // Variable-size values carry their length as a parameter of their own, just before them.
        if (code == ty::Uint8Array || code == ty::String || code == ty::Uint16Array)
            params.append({name + "_len", code == ty::Uint16Array ? int(ty::Uint16) : int(ty::Uint8)});
        params.append({name, code});
    });
    return params;
}

static ApiMessage readMessage(const QByteArray &className, const Nodes &nodes, int e, Tag paramsTag,
                              const QHash<QByteArray, QByteArray> &types)
{
    ApiMessage m;
    m.name = className + '_' + nodes[size_t(e)].name;
    m.script = autoBaseValue(nodes[size_t(e)].number);
    m.params = readParams(nodes, firstInside(nodes, e, paramsTag), types);
    return m;
}

static void readValues(const Nodes &nodes, int cls, Tag groupTag, Tag itemTag, bool upper,
                       QMap<QByteArray, int32_t> &constants)
{
    const QByteArray &className = nodes[size_t(cls)].name;
    forEachInside(nodes, cls, groupTag, [&](int group) {
        int32_t running = -1;
        forEachInside(nodes, group, itemTag, [&](int i) {
            const Node &item = nodes[size_t(i)];
            running = item.number.isEmpty() ? int32_t(uint32_t(running) + 1) : defineValue(item.number);
            QByteArray name = className + '_' + item.name;
            if (upper) name = name.toUpper();
            constants.insert(name, running);
        });
    });
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
    Nodes nodes;
    if (!readNodes(&file, nodes)) {
        printLine(path.toLocal8Bit() + " file read failed");
        return false;
    }

    const auto addTypes = [&](Tag groupTag, Tag itemTag) {
        forEachInside(nodes, -1, groupTag, [&](int group) {
            forEachInside(nodes, group, itemTag, [&](int i) {
                m_types.insert(nodes[size_t(i)].name, nodes[size_t(i)].typeName);
            });
        });
    };
    addTypes(Tag::Types, Tag::Type);
    addTypes(Tag::Datatypes, Tag::Datatype);

    forEachInside(nodes, -1, Tag::Class, [&](int c) {
        ApiClass cls;
        cls.name = nodes[size_t(c)].name;
        forEachInside(nodes, c, Tag::Event, [&](int e) {
            cls.events.append(readMessage(cls.name, nodes, e, Tag::Params, m_types));
        });
        forEachInside(nodes, c, Tag::Command, [&](int e) {
            cls.commands.append(readMessage(cls.name, nodes, e, Tag::Params, m_types));
            cls.responses.append(readMessage(cls.name, nodes, e, Tag::Returns, m_types));
        });
        readValues(nodes, c, Tag::Defines, Tag::Define, true, m_constants);
        readValues(nodes, c, Tag::Enums, Tag::Enum, false, m_constants);
        m_classes.append(cls);
    });
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

} // namespace tollan
