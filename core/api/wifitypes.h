// Parameter types of the module API as they appear in signal and slot signatures. The typedef names are
// part of the normalised signatures ("rsp_flash_upload(uint16)"), so they live in the global namespace.
#pragma once

#include <cstdint>
#include <cstring>

typedef uint8_t uint8;
typedef int8_t int8;
typedef uint16_t uint16;
typedef int16_t int16;
typedef uint32_t uint32;
typedef int32_t int32;

// An IPv4 address held as a 32-bit value whose least significant byte is the first octet.
typedef uint32_t ipv4;

// A MAC address: exactly 6 bytes in wire order.
struct hw_addr {
    uint8_t addr[6];

    bool operator==(const hw_addr &o) const { return std::memcmp(addr, o.addr, sizeof addr) == 0; }
    bool operator!=(const hw_addr &o) const { return !(*this == o); }
};
static_assert(sizeof(hw_addr) == 6, "hw_addr travels as exactly 6 bytes");
