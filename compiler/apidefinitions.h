// The module API as the script sees it: commands, responses and events with their parameters,
// and integer constants, read from the API definition file and an optional constants file.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QVector>

namespace tollan
{

struct ApiParam {
    QByteArray name;
    int type = 1;
};

struct ApiMessage {
    QByteArray name; // class name + "_" + message name
    int32_t script = 0;
    QVector<ApiParam> params;
};

struct ApiClass {
    QByteArray name;
    QVector<ApiMessage> events;
    QVector<ApiMessage> commands;
    QVector<ApiMessage> responses; // one per command, same order
};

// Type codes shared by API parameters and script variables.
namespace ty
{
enum : int { Uint8 = 1, Int8, Uint16, Int16, Uint32, Int32, Uint8Array, String, HwAddr, Ipv4, Uint16Array };
}

int apiTypeCode(const QByteArray &baseName, bool *known);
uint32_t apiTypeSize(int typeCode);
bool apiTypeIsBuffer(int typeCode);

class ApiDefinitions
{
public:
    void clear();
    // Reads the API definition file; prints its failure and returns false.
    bool load(const QString &path);
    // Reads "name value" lines into the constant map; prints its failure and returns false.
    bool loadConstants(const QString &path);

    const ApiMessage *findCommand(const QByteArray &name) const;
    const ApiMessage *findResponse(const QByteArray &name) const;
    const ApiMessage *findEvent(const QByteArray &name) const;

    const QVector<ApiClass> &classes() const { return m_classes; }
    const QMap<QByteArray, int32_t> &constants() const { return m_constants; }

private:
    void buildIndexes();

    QHash<QByteArray, QByteArray> m_types;
    QMap<QByteArray, int32_t> m_constants; // byte-wise name order
    QVector<ApiClass> m_classes;
    QHash<QByteArray, QPair<int, int>> m_commandIndex;
    QHash<QByteArray, QPair<int, int>> m_eventIndex;
};

} // namespace tollan
