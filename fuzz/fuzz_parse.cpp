// Feeds arbitrary lines to the command line parser and to the MAC address validator. Besides crashes
// it checks that every packet produced carries length fields that describe its bytes.
#include "addressvalidator.h"
#include "commandparser.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

namespace
{

const CommandParser &parser()
{
    static CommandParser *p = [] {
        auto *loaded = new CommandParser;
        if (loaded->load(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml")) != 0) std::abort();
        return loaded;
    }();
    return *p;
}

void checkPacket(const QByteArray &packet)
{
    if (packet.isEmpty()) return;
    if (packet.size() < 4) std::abort();
    const auto b0 = uint8_t(packet.at(0));
    const int length = ((b0 & 0x07) << 8) | uint8_t(packet.at(1));
    if ((b0 & 0x78) != 0x08 || (b0 & 0x80) || length + 4 != packet.size()) std::abort();
}

void checkValidator(QString text, int pos)
{
    const QString before = text;
    const int posBefore = pos;
    const QValidator::State state = AddressValidator().validate(text, pos);
    if (state == QValidator::Invalid && text == before && pos == posBefore) return;
    for (const QChar c : text) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) && c != QLatin1Char(':'))
            std::abort();
    }
    if (text.size() > 17 || (state == QValidator::Acceptable && text.size() != 17)) std::abort();
    // An empty text is left as it is, cursor included.
    if (!before.isEmpty() && state != QValidator::Invalid && (pos < 0 || pos > text.size())) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QString msg;
    checkPacket(parser().parse(line, msg));
    checkValidator(line, size ? data[0] % 24 : 0);
    return 0;
}
