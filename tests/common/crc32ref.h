// CRC-32 straight from its definition (reflected polynomial 0xEDB88320, initial value and final
// complement all ones), bit by bit: the reference the tests hold the code's table-driven CRCs to.
#pragma once

#include <QByteArray>
#include <cstdint>

// Over `length` bytes from `start` (to the end when negative), as far as `data` has them.
inline uint32_t crc32Reference(const QByteArray &data, int start = 0, int length = -1)
{
    const int end = length < 0 ? data.size() : start + length;
    uint32_t crc = 0xffffffffu;
    for (int i = start; i < end && i < data.size(); ++i) {
        crc ^= uint8_t(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xedb88320u : crc >> 1;
    }
    return ~crc;
}
