#include "packetview.h"

#include "logformat.h"
#include "packet.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace
{

int fixedSize(int type)
{
    switch (type) {
    case ApiParam::Uint8:
    case ApiParam::Int8:
        return 1;
    case ApiParam::Uint16:
    case ApiParam::Int16:
        return 2;
    case ApiParam::Uint32:
    case ApiParam::Int32:
    case ApiParam::Ipv4:
        return 4;
    case ApiParam::HwAddr:
        return 6;
    default:
        return 0;
    }
}

quint64 littleEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

qint64 signExtend(quint64 v, int size)
{
    const int shift = 64 - 8 * size;
    return qint64(v << shift) >> shift;
}

} // namespace

QString DecodedPacket::text(const PacketField &field)
{
    switch (field.type) {
    case ApiParam::HwAddr: {
        const QByteArray mac = field.value.toByteArray();
        return QString::fromLatin1(mac.toHex(':'));
    }
    case ApiParam::Ipv4: {
        const quint32 v = field.value.toUInt();
        return QStringLiteral("%1.%2.%3.%4")
            .arg(v & 0xff)
            .arg((v >> 8) & 0xff)
            .arg((v >> 16) & 0xff)
            .arg(v >> 24);
    }
    case ApiParam::Uint8Array:
    case ApiParam::Uint16Array:
        return QString::fromLatin1(field.value.toByteArray().toHex());
    default:
        return QString::number(field.value.toLongLong());
    }
}

DecodedPacket PacketView::decode(const QByteArray &packet, bool sent) const
{
    DecodedPacket d;
    d.sent = sent;
    d.bytes = packet;
    if (packet.size() < packet_header_size) return d;
    const auto *p = reinterpret_cast<const uchar *>(packet.constData());
    d.classId = p[2];
    d.index = p[3];
    d.className = help.className(d.classId);
    const bool event = p[0] & packet_event_bit;
    const ApiMessage *m = event ? help.eventById(d.classId, d.index) : help.response(d.classId, d.index);
    if (m && sent && !event) m = help.command(d.className + QLatin1Char('_') + m->name);
    if (!m) return d;

    d.kind = event ? DecodedPacket::Event : sent ? DecodedPacket::Command : DecodedPacket::Response;
    d.message = event ? m->name.mid(d.className.size() + 1) : m->name;
    d.fullName = QStringLiteral("wifi_%1_%2_%3")
                     .arg(QLatin1String(event  ? "evt"
                                        : sent ? "cmd"
                                               : "rsp"),
                          d.className, d.message);

    // Bounded by the packet as it came, whatever its length field says.
    const int end = std::min(int(packet.size()), packet_header_size + packet_payload_length(p));
    int at = packet_header_size;
    for (const ApiParam &param : m->params) {
        PacketField f;
        f.name = param.name;
        f.type = param.type;
        if (param.type == ApiParam::Uint8Array || param.type == ApiParam::Uint16Array) {
            const int prefix = param.type == ApiParam::Uint8Array ? 1 : 2;
            if (at + prefix > end) break;
            const int n = int(littleEndian(p + at, prefix));
            at += prefix;
            if (at + n > end) break;
            f.value = QByteArray(packet.constData() + at, n);
            at += n;
        } else {
            const int size = fixedSize(param.type);
            if (size == 0 || at + size > end) break;
            const quint64 raw = littleEndian(p + at, size);
            if (param.type == ApiParam::HwAddr)
                f.value = QByteArray(packet.constData() + at, 6);
            else if (param.type == ApiParam::Ipv4)
                f.value = quint32(raw);
            else if (param.type == ApiParam::Int8 || param.type == ApiParam::Int16 ||
                     param.type == ApiParam::Int32)
                f.value = signExtend(raw, size);
            else
                f.value = qint64(raw);
            at += size;
        }
        if ((f.name == QLatin1String("result") || f.name == QLatin1String("reason")) &&
            f.type == ApiParam::Uint16 && !d.hasResult) {
            d.hasResult = true;
            d.result = quint16(f.value.toLongLong());
        }
        d.fields.append(f);
    }
    d.truncated = d.fields.size() < m->params.size();
    return d;
}

QByteArray PacketView::json(const DecodedPacket &d, const QString &time) const
{
    static const char *const kinds[] = {"command", "response", "event", "unknown"};
    QJsonObject o;
    o.insert(QStringLiteral("time"), time);
    o.insert(QStringLiteral("direction"), d.sent ? QStringLiteral("tx") : QStringLiteral("rx"));
    o.insert(QStringLiteral("type"), QLatin1String(kinds[d.kind]));
    if (d.classId >= 0) o.insert(QStringLiteral("class_id"), d.classId);
    if (!d.className.isEmpty()) o.insert(QStringLiteral("class"), d.className);
    if (d.kind != DecodedPacket::Unknown) {
        o.insert(QStringLiteral("message"), d.message);
        o.insert(QStringLiteral("name"), d.fullName);
        QJsonObject params;
        for (const PacketField &f : d.fields) {
            if (f.value.type() == QVariant::LongLong)
                params.insert(f.name, double(f.value.toLongLong()));
            else
                params.insert(f.name, DecodedPacket::text(f));
        }
        o.insert(QStringLiteral("params"), params);
        if (d.truncated) o.insert(QStringLiteral("truncated"), true);
    } else if (d.index >= 0) {
        o.insert(QStringLiteral("message_id"), d.index);
    }
    if (d.hasResult) {
        o.insert(QStringLiteral("result"), int(d.result));
        o.insert(QStringLiteral("result_text"), logformat::result_text(d.result));
    }
    o.insert(QStringLiteral("bytes"), QString::fromLatin1(d.bytes.toHex()));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
