// Arbitrary received bytes, in arbitrary chunks, through the deframer and every handler, with every signal
// connected so the QML conversions and log entries run too.
#include "cls_wifi.h"
#include "wifisink.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

struct Harness {
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    cls_wifi wifi;
    WifiSink sink{wifi};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness *h = new Harness;
    // The first byte picks the chunk size, so fragments of every length reach the deframer.
    if (size == 0)
        return 0;
    const size_t chunk = size_t(data[0]) + 1;
    for (size_t pos = 1; pos < size; pos += chunk) {
        const size_t n = std::min(chunk, size - pos);
        h->wifi.rx_data(QByteArray(reinterpret_cast<const char *>(data + pos), int(n)));
    }
    return 0;
}
