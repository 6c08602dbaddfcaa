// One parameter of a message in the API definition file, and its text-to-bytes encoding for the
// command line.
#pragma once

#include <QByteArray>
#include <QString>

class ApiParam
{
public:
    // Type codes as the definition file's loader numbers the type names; 0 marks an unusable type.
    enum Type {
        Invalid = 0,
        Uint8 = 1,
        Int8 = 2,
        Uint16 = 3,
        Int16 = 4,
        Uint32 = 5,
        Int32 = 6,
        Uint8Array = 7,
        Uint16Array = 8,
        HwAddr = 9,
        Ipv4 = 10,
    };

    ApiParam() = default;
    ApiParam(const QString &name, int type) : name(name), type(type) {}

    // Exact, case-sensitive match; missing or unknown names are uint8.
    static int type_code(const QString &type_name);
    // "invalid" for 0 and for codes outside the table.
    static QString type_name(int code);

    // The parameter's bytes for one typed argument; empty on failure, with the reason (if any)
    // appended to msg.
    QByteArray encode_argument(const QString &arg, QString &msg) const;

    QString name;
    int type = Uint8;
};
