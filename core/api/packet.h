// Framing of the module's packets: a 4-byte header, then 0 to 2047 payload bytes. The payload length
// has 11 bits, the high 3 in the low bits of byte 0 and the low 8 in byte 1. Plain C++, so the serial
// worker can cut packets with the same rules without linking the API core.
#pragma once

#include <cstdint>

constexpr int packet_header_size = 4;
constexpr int packet_max_payload = 2047;
constexpr int packet_max_size = packet_header_size + packet_max_payload;

// Byte 0: bit 7 marks an event, bits 6..3 the device id (1 for Wi-Fi), bits 2..0 the high length bits.
constexpr uint8_t packet_event_bit = 0x80;
constexpr uint8_t packet_device_mask = 0x78;
constexpr uint8_t packet_wifi_device = 0x08;

// Whether byte 0 can start a Wi-Fi packet; the deframer drops bytes one at a time until it can.
constexpr bool packet_is_wifi(uint8_t byte0)
{
    return (byte0 & packet_device_mask) == packet_wifi_device;
}

constexpr int packet_payload_length(const uint8_t *header)
{
    return ((header[0] & 0x07) << 8) | header[1];
}

// Writes a payload length (at most packet_max_payload) into bytes 0 and 1, keeping byte 0's other bits.
inline void packet_set_payload_length(uint8_t *header, int length)
{
    header[0] = uint8_t((header[0] & ~0x07) | ((length >> 8) & 0x07));
    header[1] = uint8_t(length);
}
