#include "messagetable.h"

namespace
{

// Bytes that a signature code occupies in the fixed part of the payload.
int code_size(unsigned code)
{
    switch (code) {
    case sig_uint8:
    case sig_int8:
    case sig_uint8array:
    case sig_uint8array_alt:
        return 1;
    case sig_uint16:
    case sig_int16:
    case sig_uint16array:
        return 2;
    case sig_uint32:
    case sig_int32:
        return 4;
    case sig_hw_addr:
        return 6;
    default:
        return 0;
    }
}

bool is_array(unsigned code)
{
    return code == sig_uint8array || code == sig_uint8array_alt || code == sig_uint16array;
}

const MessageDescriptor *lookup(const message_class_table *table, unsigned class_id, unsigned message_id)
{
    if (class_id >= message_class_count || message_id >= table[class_id].count) return nullptr;
    return table[class_id].messages[message_id];
}

} // namespace

const MessageDescriptor *find_message(const uint8_t *header)
{
    const message_class_table *table = (header[0] & 0x80) ? message_event_lookup : message_response_lookup;
    return lookup(table, header[2], header[3]);
}

bool payload_fits(const MessageDescriptor &descriptor, const uint8_t *payload, size_t size)
{
    const size_t fixed = descriptor.header[1];
    if (size < fixed) return false;
    size_t offset = 0;
    for (uint32_t sig = descriptor.signature; sig != 0; sig >>= 4) {
        const unsigned code = sig & 0xf;
        if (is_array(code)) {
            const size_t n = code == sig_uint16array ? wire::u16(payload + offset) : payload[offset];
            return fixed + n <= size;
        }
        offset += code_size(code);
    }
    return true;
}

send_status send_message(transmit_callback callback, void *target, int index,
                         std::initializer_list<message_arg> args)
{
    if (index < 0 || index >= message_command_count) return send_status::bad_index;
    return encode_message(callback, target, message_table[index], args.begin(), args.size());
}

send_status encode_message(transmit_callback callback, void *target, const MessageDescriptor &d,
                           const message_arg *args, size_t count)
{
    uint8_t buffer[packet_header_size + 256];
    std::memcpy(buffer, d.header, packet_header_size);
    uint8_t *out = buffer + packet_header_size;
    uint16_t array_length = 0;
    const uint8_t *array = nullptr;

    const message_arg *arg = args;
    const message_arg *const end = args + count;
    auto next = [&](const message_arg **a) {
        if (arg == end) return false;
        *a = arg++;
        return true;
    };
    for (uint32_t sig = d.signature; sig != 0; sig >>= 4) {
        const unsigned code = sig & 0xf;
        const message_arg *a = nullptr;
        if (code_size(code) == 0) continue;
        if (!next(&a)) return send_status::missing_argument;
        switch (code) {
        case sig_uint8:
        case sig_int8:
            *out++ = uint8_t(a->value);
            break;
        case sig_uint16:
        case sig_int16:
            *out++ = uint8_t(a->value);
            *out++ = uint8_t(a->value >> 8);
            break;
        case sig_uint32:
        case sig_int32:
            for (int i = 0; i < 4; ++i)
                *out++ = uint8_t(a->value >> (8 * i));
            break;
        case sig_hw_addr:
            if (!a->pointer) return send_status::missing_argument;
            std::memcpy(out, a->pointer, 6);
            out += 6;
            break;
        default: { // arrays: the length, then a pointer to the bytes
            const message_arg *bytes = nullptr;
            if (!next(&bytes)) return send_status::missing_argument;
            if (code != sig_uint16array && a->value > 255) return send_status::array_too_long;
            if (a->value > packet_max_payload) return send_status::payload_too_long;
            array_length = uint16_t(a->value);
            array = bytes->pointer;
            if (array_length && !array) return send_status::missing_argument;
            *out++ = uint8_t(array_length);
            if (code == sig_uint16array) *out++ = uint8_t(array_length >> 8);
            break;
        }
        }
    }
    if (d.header[1] + array_length > packet_max_payload) return send_status::payload_too_long;
    // The array's bytes count in the header's length field too.
    packet_set_payload_length(buffer, d.header[1] + array_length);
    callback(target, uint8_t(packet_header_size + d.header[1]), buffer, array_length, array);
    return send_status::sent;
}

bool decode_message(const MessageDescriptor &d, const uint8_t *payload, size_t size,
                    std::vector<message_arg> &args)
{
    if (!payload_fits(d, payload, size)) return false;
    args.clear();
    const uint8_t *p = payload;
    for (uint32_t sig = d.signature; sig != 0; sig >>= 4) {
        const unsigned code = sig & 0xf;
        switch (code) {
        case sig_uint8:
        case sig_int8:
            args.emplace_back(wire::u8(p));
            break;
        case sig_uint16:
        case sig_int16:
            args.emplace_back(wire::u16(p));
            break;
        case sig_uint32:
        case sig_int32:
            args.emplace_back(wire::u32(p));
            break;
        case sig_hw_addr:
            args.emplace_back(static_cast<const void *>(p));
            break;
        case sig_uint8array:
        case sig_uint8array_alt:
            args.emplace_back(wire::u8(p));
            args.emplace_back(static_cast<const void *>(payload + d.header[1]));
            break;
        case sig_uint16array:
            args.emplace_back(wire::u16(p));
            args.emplace_back(static_cast<const void *>(payload + d.header[1]));
            break;
        default:
            break;
        }
        p += code_size(code);
    }
    return true;
}
