// API protocol core of velmo: the module's packet format, the compiled-in table of its 282 messages,
// the command encoder and the decoding helpers of the receive side. This folder also holds the API root
// object `cls_wifi` and its 13 per-class objects (generated from api/wifiapi.xml), the log formatter, and the
// command line's API definition model and parser.
#pragma once

#include "message_counts.h"
#include "packet.h"
#include "wifitypes.h"

#include <QByteArray>
#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <vector>

class cls_wifi;

using message_handler = void (*)(cls_wifi *wifi, const uint8_t *payload);

// One compiled-in record per message.
struct MessageDescriptor {
    // byte 0: 0x08 command/response, 0x88 event; byte 1: length of the fixed part of the payload;
    // byte 2: class id; byte 3: message id.
    uint8_t header[4];
    // Signature codes of the parameters, 4 bits each, the first parameter in the least significant nibble.
    uint32_t signature;
    // Decoder of a response or event; a no-op for commands.
    message_handler handler;
};

// Signature codes of the parameter types.
enum : uint8_t {
    sig_uint8 = 2,
    sig_int8 = 3,
    sig_uint16 = 4,
    sig_int16 = 5,
    sig_uint32 = 6, // also ipv4
    sig_int32 = 7,
    sig_uint8array = 8,
    sig_uint8array_alt = 9,
    sig_hw_addr = 10,
    sig_uint16array = 11,
};

// First the commands, then the responses, then the events; each sorted by class id, then message id.
extern const MessageDescriptor message_table[message_count];

// Receive lookup: per class id, the number of messages and their descriptors indexed by message id.
struct message_class_table {
    unsigned count;
    const MessageDescriptor *const *messages;
};
extern const message_class_table message_response_lookup[message_class_count];
extern const message_class_table message_event_lookup[message_class_count];

// The descriptor for a received header, or null. Bit 7 of byte 0 selects events; anything else is looked up
// as a response (a received command decodes as the response with the same class and id).
const MessageDescriptor *find_message(const uint8_t *header);

// True when a payload of `size` bytes holds the message's fixed part and all of its array bytes, so the
// handler never reads past the packet.
bool payload_fits(const MessageDescriptor &descriptor, const uint8_t *payload, size_t size);

// One argument of send_message: an integer (only its low bytes are used) or a pointer (6 bytes of a hw_addr,
// or an array's bytes, which follow the array's length as a separate argument).
struct message_arg {
    template <typename T, typename = std::enable_if_t<std::is_integral<T>::value>>
    message_arg(T v) : value(uint32_t(v))
    {
    }
    message_arg(const void *p) : pointer(static_cast<const uint8_t *>(p)) {}

    uint32_t value = 0;
    const uint8_t *pointer = nullptr;
};

// Receives an encoded command: the fixed part (header included) and the array bytes.
using transmit_callback = void (*)(void *target, uint8_t fixed_length, const uint8_t *fixed,
                                   uint16_t array_length, const uint8_t *array);

enum class send_status { sent, bad_index, missing_argument, array_too_long, payload_too_long };

// Encodes command `index` (its position in message_table) with `args` in signature order and hands it to
// `callback`. A command whose length fields could not describe its bytes (a uint8array over 255 bytes, a
// payload over packet_max_payload bytes) is refused: nothing is sent.
send_status send_message(transmit_callback callback, void *target, int index,
                         std::initializer_list<message_arg> args);

// The same encoding for any message of the table (responses and events too, as the module side sends
// them), with `count` arguments in signature order.
send_status encode_message(transmit_callback callback, void *target, const MessageDescriptor &descriptor,
                           const message_arg *args, size_t count);

// The mirror of encode_message: the payload's values as arguments in signature order (an integer's raw
// bits, a pointer to a hw_addr's 6 bytes, an array's length and a pointer to its bytes). The pointers
// point into `payload`. False, with `args` untouched, when the payload does not hold the message.
bool decode_message(const MessageDescriptor &descriptor, const uint8_t *payload, size_t size,
                    std::vector<message_arg> &args);

// Little-endian field readers used by the generated handlers.
namespace wire
{
inline uint8 u8(const uint8_t *p)
{
    return p[0];
}
inline int8 i8(const uint8_t *p)
{
    return int8(p[0]);
}
inline uint16 u16(const uint8_t *p)
{
    return uint16(p[0] | (p[1] << 8));
}
inline int16 i16(const uint8_t *p)
{
    return int16(u16(p));
}
inline uint32 u32(const uint8_t *p)
{
    return uint32(p[0]) | uint32(p[1]) << 8 | uint32(p[2]) << 16 | uint32(p[3]) << 24;
}
inline int32 i32(const uint8_t *p)
{
    return int32(u32(p));
}
inline hw_addr mac(const uint8_t *p)
{
    hw_addr a;
    std::memcpy(a.addr, p, 6);
    return a;
}
inline QByteArray bytes(const uint8_t *p, int n)
{
    return QByteArray(reinterpret_cast<const char *>(p), n);
}
} // namespace wire
