// One packet of the line decoded by the API definition: its message, every parameter by name with a
// typed value, and its result code; written as one JSON object for scripts.
#pragma once

#include "commandhelp.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

struct PacketField {
    QString name;
    int type = ApiParam::Uint8;
    // qint64 for integers, quint32 for an ipv4 (first octet in the low byte), QByteArray otherwise.
    QVariant value;
};

struct DecodedPacket {
    enum Kind { Command, Response, Event, Unknown };
    Kind kind = Unknown;
    bool sent = false;
    int classId = -1;
    int index = -1;
    QString className;
    QString message;  // "wifi_on", without the class
    QString fullName; // "wifi_rsp_sme_wifi_on"
    QList<PacketField> fields;
    // The packet ended before the message's parameters did; fields holds those that fit.
    bool truncated = false;
    // From a uint16 parameter named result or reason.
    bool hasResult = false;
    quint16 result = 0;
    QByteArray bytes;

    // The value of a parameter as a user writes it in a condition: decimal integers, a MAC as
    // 02:00:00:00:00:01, an IPv4 address dotted, arrays as lower-case hexadecimal.
    static QString text(const PacketField &field);
};

class PacketView
{
public:
    explicit PacketView(const CommandHelp &help) : help(help) {}

    DecodedPacket decode(const QByteArray &packet, bool sent) const;
    // One line of compact JSON without its line feed; `time` as ISO 8601 with milliseconds.
    QByteArray json(const DecodedPacket &packet, const QString &time) const;

private:
    const CommandHelp &help;
};
