#include "cls_wifi.h"

#include "logformat.h"
#include "messagetable.h"

#include <QMetaMethod>

void wifi_register_metatypes()
{
    qRegisterMetaType<uint8>("uint8");
    qRegisterMetaType<int8>("int8");
    qRegisterMetaType<uint16>("uint16");
    qRegisterMetaType<int16>("int16");
    qRegisterMetaType<uint32>("uint32");
    qRegisterMetaType<int32>("int32");
}

cls_wifi::cls_wifi(QObject *parent)
    : QObject(parent), dfu(this), system(this), config(this), sme(this), tcpip(this), endpoint(this),
      hardware(this), flash(this), i2c(this), https(this), ethernet(this), sdhc(this), util(this)
{
    logformat::init_result_texts();
}

void cls_wifi::transmit(uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
                        const uint8_t *array)
{
    QByteArray packet;
    packet.reserve(fixed_length + array_length);
    packet.append(reinterpret_cast<const char *>(fixed), fixed_length);
    if (array_length) packet.append(reinterpret_cast<const char *>(array), array_length);
    emit tx_data(packet);
}

void cls_wifi::transmit_to(void *wifi, uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
                           const uint8_t *array)
{
    static_cast<cls_wifi *>(wifi)->transmit(fixed_length, fixed, array_length, array);
}

bool cls_wifi::logging() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&cls_wifi::parsed_message_str);
    return isSignalConnected(signal);
}

QObject *cls_wifi::class_object(int class_id)
{
    QObject *const objects[message_class_count] = {&dfu,      &system,   &config, &sme,   &tcpip,
                                                   &endpoint, &hardware, &flash,  &i2c,   &https,
                                                   &ethernet, &sdhc,     &util};
    return class_id >= 0 && class_id < message_class_count ? objects[class_id] : nullptr;
}

void cls_wifi::rx_data(QByteArray data)
{
    rx_buffer.append(data);
    // A receiver may feed bytes back in from a handler (a loopback); the nested call only appends and
    // consumes through the members, and only the outermost call compacts the buffer.
    ++rx_depth;
    while (rx_buffer.size() - rx_pos >= packet_header_size) {
        const auto *p = reinterpret_cast<const uint8_t *>(rx_buffer.constData()) + rx_pos;
        // Not a Wi-Fi packet of device id 1: resynchronise one byte at a time.
        if ((p[0] & 0x78) != 0x08) {
            ++rx_pos;
            continue;
        }
        const int payload = ((p[0] & 0x07) << 8) | p[1];
        const int length = payload + packet_header_size;
        if (rx_buffer.size() - rx_pos < length) break;
        const QByteArray packet = rx_buffer.mid(rx_pos, length);
        rx_pos += length;
        const auto *bytes = reinterpret_cast<const uint8_t *>(packet.constData());
        const MessageDescriptor *d = find_message(bytes);
        // A packet too short for its message's fields is passed on undecoded rather than read past its end.
        if (d && payload_fits(*d, bytes + packet_header_size, size_t(payload)))
            d->handler(this, bytes + packet_header_size);
        emit parsed_message_data(packet);
    }
    if (--rx_depth == 0 && rx_pos > 0) {
        rx_buffer.remove(0, rx_pos);
        rx_pos = 0;
    }
}
