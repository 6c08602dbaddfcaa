#pragma once

#include <QtGlobal>

// Block, option and link-type numbers of the capture format, shared by the writer and the reader.
namespace pcapng
{

constexpr quint32 sectionHeaderBlock = 0x0A0D0D0A;
constexpr quint32 interfaceBlock = 0x00000001;
constexpr quint32 simplePacketBlock = 0x00000003;
constexpr quint32 enhancedPacketBlock = 0x00000006;
constexpr quint32 byteOrderMagic = 0x1A2B3C4D;

constexpr quint16 optEnd = 0;
constexpr quint16 optComment = 1;
constexpr quint16 ifName = 2;
constexpr quint16 ifDescription = 3;
constexpr quint16 ifTsresol = 9;
constexpr quint16 ifTsoffset = 14;
constexpr quint16 shbUserAppl = 4;
constexpr quint16 epbFlags = 2;

// No registered link type fits the module's serial API, so captures use the first private one.
constexpr quint16 linkTypeUser0 = 147;

// Block header and trailing length; every block is a multiple of 4 bytes long.
constexpr int blockOverhead = 12;
// Larger than any block a sane capture holds; a longer length is corruption, not data.
constexpr quint32 maxBlockLength = 16 * 1024 * 1024;

} // namespace pcapng
