#include "apimessage.h"

#include "packet.h"

QString ApiMessage::signature_text() const
{
    QString text = QStringLiteral("<b>%1</b>").arg(full_name);
    for (const ApiParam &param : params)
        text += QStringLiteral(" <b>%1</b>:%2").arg(param.name, ApiParam::type_name(param.type));
    return text;
}

QByteArray ApiMessage::encode_command(QStringList args, QString &msg) const
{
    msg += QStringLiteral("<nobr>%1</nobr><br>").arg(signature_text());

    const int n = params.size();
    const bool trailingBytes = n > 0 && params.last().type == ApiParam::Uint8Array;
    // A trailing byte array may be left out and then goes out empty.
    if (trailingBytes && args.size() == n - 1) args.append(QString());
    if (args.size() != n) {
        if (trailingBytes)
            msg += QStringLiteral("Command requires %1 or %2 arguments").arg(n - 1).arg(n);
        else
            msg += QStringLiteral("Command requires exactly %1 arguments").arg(n);
        return {};
    }

    QByteArray payload;
    for (int i = 0; i < n; ++i) {
        const QByteArray bytes = params.at(i).encode_argument(args.at(i), msg);
        if (bytes.isEmpty()) return {};
        payload.append(bytes);
    }
    if (payload.size() > packet_max_payload) {
        msg += QStringLiteral("payload of %1 bytes too long for one packet").arg(payload.size());
        return {};
    }

    QByteArray packet(packet_header_size, '\0');
    packet[1] = char(payload.size() & 0xff);
    packet[2] = char(class_id & 0xff);
    packet[3] = char(index & 0xff);
    packet.append(payload);
    return packet;
}
