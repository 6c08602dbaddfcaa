// Images and packets for the upload tests, built from the wire format and the CRC-32 definition
// (reflected polynomial 0xEDB88320, initial value and final complement all ones), not from the code
// under test.
#pragma once

#include "crc32ref.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

namespace fixtures
{

inline void putLe32(QByteArray &data, int offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(v >> (8 * i));
}

// An image of `size` bytes (0xff, a firmware-like block at `start`), whose software section record at
// 511984 holds start, length and the block's CRC-32 (or `crc` when given).
inline QByteArray image(int size = 512000, uint32_t start = 0, uint32_t length = 300000, int64_t crc = -1)
{
    QByteArray data(size, char(0xff));
    uint32_t x = 0x2545f491u; // xorshift: every byte position differs, so a misplaced chunk shows
    for (uint32_t i = start; i < start + length && int(i) < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[int(i)] = char(x);
    }
    if (size >= 511996) {
        putLe32(data, 511984, start);
        putLe32(data, 511988, length);
        putLe32(data, 511992, crc >= 0 ? uint32_t(crc) : crc32Reference(data, int(start), int(length)));
    }
    return data;
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Packets by hand: byte 0 is 0x08 for commands and responses, 0x88 for events, plus length bits 10..8.
inline QByteArray packet(bool event, int cls, int msg, const QByteArray &payload)
{
    QByteArray p;
    p.append(char((event ? 0x88 : 0x08) | (payload.size() >> 8)));
    p.append(char(payload.size() & 0xff));
    p.append(char(cls));
    p.append(char(msg));
    return p + payload;
}

inline QByteArray u16(int v)
{
    return QByteArray(1, char(v & 0xff)) + QByteArray(1, char(v >> 8));
}

inline QByteArray rsp16(int cls, int msg, int result)
{
    return packet(false, cls, msg, u16(result));
}
inline QByteArray rspSetAddress(int result)
{
    return rsp16(0, 1, result);
}
inline QByteArray rspUpload(int result)
{
    return rsp16(0, 2, result);
}
inline QByteArray rspFinish(int result)
{
    return rsp16(0, 3, result);
}
inline QByteArray rspEraseAll(int result)
{
    return rsp16(7, 2, result);
}
inline QByteArray rspSetMac(int result)
{
    return packet(false, 2, 1, u16(result) + QByteArray(1, 0));
}
// System boot: seven uint16 version numbers.
inline QByteArray evtBoot()
{
    return packet(true, 1, 0, QByteArray::fromHex("0100020003000400050006000700"));
}
inline QByteArray evtMac(int hw, const QByteArray &mac)
{
    return packet(true, 2, 0, QByteArray(1, char(hw)) + mac);
}

inline QByteArray cmdSetAddress0()
{
    return QByteArray::fromHex("0804000100000000");
}
inline QByteArray cmdFinish()
{
    return QByteArray::fromHex("08000003");
}
inline QByteArray cmdReset0()
{
    return QByteArray::fromHex("0801000000");
}
inline QByteArray cmdGetMac0()
{
    return QByteArray::fromHex("0801020000");
}
inline QByteArray cmdEraseAll()
{
    return QByteArray::fromHex("08000702");
}
inline QByteArray cmdSetMac(int hw, const QByteArray &mac)
{
    return QByteArray::fromHex("08070201") + QByteArray(1, char(hw)) + mac;
}
// flash_upload: the array's length byte, then its bytes.
inline QByteArray cmdUpload(const QByteArray &chunk)
{
    return packet(false, 0, 2, QByteArray(1, char(chunk.size())) + chunk);
}
inline bool isUpload(const QByteArray &p)
{
    return p.size() > 5 && p[2] == 0 && p[3] == 2;
}

} // namespace fixtures
