#include "simtrace.h"

#include "logformat.h"
#include "messagenames.h"
#include "messagetable.h"

#include <QStringList>
#include <cstring>

namespace
{

QString bytesText(const uint8_t *bytes, int size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), size);
    bool printable = size > 0;
    for (const char c : data)
        printable = printable && c >= 0x20 && c < 0x7f && c != '"';
    if (printable) return QStringLiteral("\"%1\"").arg(QString::fromLatin1(data));
    return size ? QString::fromLatin1(data.toHex(' ')) : QStringLiteral("(empty)");
}

QString value(const message_param_name &param, const message_arg *arg)
{
    const char *type = param.type;
    const uint32_t v = arg->value;
    if (!std::strcmp(type, "hw_addr"))
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(arg->pointer), 6).toHex(':'));
    if (!std::strcmp(type, "ipv4"))
        return QStringLiteral("%1.%2.%3.%4")
            .arg(v & 0xff)
            .arg((v >> 8) & 0xff)
            .arg((v >> 16) & 0xff)
            .arg(v >> 24);
    if (!std::strcmp(type, "uint8array") || !std::strcmp(type, "uint16array"))
        return bytesText(arg[1].pointer, int(v));
    if (!std::strcmp(type, "uint16") &&
        (!std::strcmp(param.name, "result") || !std::strcmp(param.name, "reason"))) {
        const QString text = logformat::result_text(uint16(v));
        return QStringLiteral("0x%1%2")
            .arg(v, 4, 16, QLatin1Char('0'))
            .arg(text.isEmpty() ? QString() : " (" + text + ")");
    }
    if (!std::strcmp(type, "int8")) return QString::number(int8_t(v));
    if (!std::strcmp(type, "int16")) return QString::number(int16_t(v));
    if (!std::strcmp(type, "int32")) return QString::number(int32_t(v));
    return QString::number(v);
}

} // namespace

QString sim_describe(const QByteArray &packet, bool fromHost)
{
    logformat::init_result_texts();
    const auto *bytes = reinterpret_cast<const uint8_t *>(packet.constData());
    const MessageDescriptor *d = packet.size() >= packet_header_size ? find_message(bytes) : nullptr;
    if (!d) return QStringLiteral("unknown packet %1").arg(QString::fromLatin1(packet.toHex(' ')));
    // Packets with bit 7 clear look up as responses; from the host they are the commands of the same id.
    if (fromHost && !(bytes[0] & packet_event_bit)) d -= message_command_count;
    const message_names &names = message_name_table[d - message_table];
    QString line = QString::fromLatin1(names.full_name);
    std::vector<message_arg> args;
    const size_t payload = size_t(packet.size() - packet_header_size);
    if (!decode_message(*d, bytes + packet_header_size, payload, args))
        return line + QStringLiteral(" (short packet)");
    const message_arg *arg = args.data();
    for (int i = 0; i < names.param_count; ++i) {
        const message_param_name &param = names.params[i];
        line += QStringLiteral(" %1=%2").arg(QLatin1String(param.name), value(param, arg));
        arg += (!std::strcmp(param.type, "uint8array") || !std::strcmp(param.type, "uint16array")) ? 2 : 1;
    }
    return line;
}
