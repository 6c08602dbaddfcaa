// Inputs starting with a 0 byte are packets off the line for nwctl's decoder (as received, and the same
// bytes as if sent); the decoder must stay inside them and keep only whole fields. Anything else is a
// script line: a command it accepts must carry length fields that describe its bytes.
#include "packet.h"
#include "packetview.h"
#include "script.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace
{

const CommandHelp &help()
{
    static CommandParser *parser = [] {
        auto *loaded = new CommandParser;
        if (loaded->load(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml")) != 0) std::abort();
        return loaded;
    }();
    static CommandHelp h(*parser);
    return h;
}

void checkDecoded(const DecodedPacket &d, int size)
{
    // The array and address bytes kept fit in what follows the header.
    int bytes = 0;
    for (const PacketField &f : d.fields) {
        if (f.value.type() == QVariant::ByteArray) {
            bytes += f.value.toByteArray().size();
            if (f.type == ApiParam::HwAddr && f.value.toByteArray().size() != 6) std::abort();
        }
    }
    if (bytes > std::max(0, size - packet_header_size)) std::abort();
    if (d.kind == DecodedPacket::Unknown && !d.fields.isEmpty()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0) {
        const QByteArray packet(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
        PacketView view(help());
        for (bool sent : {false, true}) {
            const DecodedPacket d = view.decode(packet, sent);
            checkDecoded(d, packet.size());
            if (view.json(d, QStringLiteral("t")).isEmpty()) std::abort();
        }
        return 0;
    }
    Script script(help());
    QString error;
    const bool ok =
        script.addLine(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)), &error);
    if (ok == !error.isEmpty()) std::abort(); // a reason exactly when refused
    for (const Step &step : script.steps) {
        if (step.kind != Step::Send) continue;
        const auto *h = reinterpret_cast<const uint8_t *>(step.packet.constData());
        if (step.packet.size() < packet_header_size || !packet_is_wifi(h[0]) ||
            packet_payload_length(h) + packet_header_size != step.packet.size())
            std::abort();
    }
    return 0;
}
