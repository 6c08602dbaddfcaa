// Arbitrary received bytes, in arbitrary chunks, through the deframer and every handler, with the QML
// signals and log entries switched on.
#include "cls_wifi.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <algorithm>

namespace {

class Sink : public QObject
{
    Q_OBJECT
public:
    long hits = 0;
public slots:
    void hit() { ++hits; }
};

struct Harness {
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    cls_wifi wifi;
    Sink sink;
    qint64 consumed = 0;

    Harness()
    {
        QObject *objects[] = {&wifi.dfu,      &wifi.system,   &wifi.config, &wifi.sme, &wifi.tcpip,
                              &wifi.endpoint, &wifi.hardware, &wifi.flash,  &wifi.i2c, &wifi.https,
                              &wifi.ethernet, &wifi.sdhc,     &wifi.util};
        for (QObject *o : objects) {
            const QMetaObject *mo = o->metaObject();
            for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
                if (mo->method(i).methodType() == QMetaMethod::Signal && mo->method(i).name().startsWith("qml_"))
                    QObject::connect(o, mo->method(i), &sink,
                                     sink.metaObject()->method(sink.metaObject()->indexOfSlot("hit()")));
        }
        QObject::connect(&wifi, &cls_wifi::parsed_message_str, [this](const QStringList &l) { consumed += l.size(); });
        QObject::connect(&wifi, &cls_wifi::parsed_message_data,
                         [this](const QByteArray &p) { consumed += p.size(); });
    }
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

#include "fuzz_api_rx.moc"
