#include "apiparam.h"

#include "hwaddress.h"

#include <QHostAddress>

namespace
{

const char *const typeNames[] = {"invalid", "uint8",      "int8",        "uint16",  "int16", "uint32",
                                 "int32",   "uint8array", "uint16array", "hw_addr", "ipv4"};
constexpr int typeCount = int(sizeof typeNames / sizeof typeNames[0]);

void appendLittleEndian(QByteArray &out, quint64 value, int size)
{
    for (int i = 0; i < size; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

QString parseError(const QString &arg, int type)
{
    return QStringLiteral("unable parse argument '%1' as %2").arg(arg, ApiParam::type_name(type));
}

} // namespace

int ApiParam::type_code(const QString &type_name)
{
    for (int code = 0; code < typeCount; ++code) {
        if (type_name == QLatin1String(typeNames[code])) return code;
    }
    return Uint8;
}

QString ApiParam::type_name(int code)
{
    if (code < 0 || code >= typeCount) return QString::fromLatin1(typeNames[Invalid]);
    return QString::fromLatin1(typeNames[code]);
}

QByteArray ApiParam::encode_argument(const QString &arg, QString &msg) const
{
    QByteArray out;
    bool ok = false;
    switch (type) {
    case Uint8:
    case Uint16:
    case Uint32: {
        // Hexadecimal, so "10" is sixteen; the value is cut to the field without a range check.
        const quint64 value = arg.toULongLong(&ok, 16);
        if (!ok) {
            msg += parseError(arg, type);
            return {};
        }
        appendLittleEndian(out, value, type == Uint8 ? 1 : type == Uint16 ? 2 : 4);
        return out;
    }
    case Int8:
    case Int16:
    case Int32: {
        const qint64 value = arg.toLongLong(&ok, 10);
        if (!ok) {
            msg += parseError(arg, type);
            return {};
        }
        appendLittleEndian(out, quint64(value), type == Int8 ? 1 : type == Int16 ? 2 : 4);
        return out;
    }
    case Ipv4: {
        quint64 value = arg.toULongLong(&ok, 16);
        if (!ok) {
            QHostAddress address;
            if (!address.setAddress(arg) || address.protocol() != QAbstractSocket::IPv4Protocol) {
                msg += parseError(arg, type);
                return {};
            }
            // Held with the first octet in the least significant byte, so it goes out first.
            const quint32 host = address.toIPv4Address();
            value = ((host >> 24) & 0xff) | ((host >> 8) & 0xff00) | ((host << 8) & 0xff0000) |
                    ((host << 24) & 0xff000000u);
        }
        appendLittleEndian(out, value, 4);
        return out;
    }
    case HwAddr: {
        QString text = arg;
        int pos = 0;
        if (hwaddress::normalize(text, pos) != hwaddress::State::Acceptable) {
            msg += QStringLiteral("unable parse argument '%1' as address").arg(text);
            return {};
        }
        return QByteArray::fromHex(text.toLatin1()).left(6);
    }
    case Uint8Array:
    case Uint16Array: {
        const QByteArray bytes = QByteArray::fromHex(arg.toLatin1());
        // The length prefix must describe the bytes that follow it; a cut length would make the
        // module read the rest of the array as further parameters.
        const int limit = type == Uint8Array ? 0xff : 0xffff;
        if (bytes.size() > limit) {
            msg += QStringLiteral("argument too long for %1").arg(type_name(type));
            return {};
        }
        appendLittleEndian(out, quint64(bytes.size()), type == Uint8Array ? 1 : 2);
        out.append(bytes);
        return out;
    }
    default:
        return {};
    }
}
