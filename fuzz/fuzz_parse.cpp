// Feeds arbitrary lines to the command line parser and to the MAC address validator. Besides crashes
// it checks that every packet produced carries length fields that describe its bytes. Inputs that start
// with "<" are API definition files for the loader instead; "<#N" in front wraps the rest in N elements,
// so nesting far beyond the loader's limit is a few bytes away.
#include "hwaddress.h"
#include "commandparser.h"
#include "packet.h"

#include <QString>
#include <QTemporaryFile>
#include <cctype>
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
    if (packet.size() < packet_header_size) std::abort();
    const auto *header = reinterpret_cast<const uint8_t *>(packet.constData());
    if (!packet_is_wifi(header[0]) || (header[0] & packet_event_bit) ||
        packet_payload_length(header) + packet_header_size != packet.size())
        std::abort();
}

void checkDefinitionFile(const QByteArray &input)
{
    static QTemporaryFile *file = [] {
        auto *f = new QTemporaryFile;
        if (!f->open()) std::abort();
        return f;
    }();
    QByteArray document = input;
    if (document.startsWith("<#")) {
        int digits = 2;
        while (digits < document.size() && digits < 8 && std::isdigit(uchar(document.at(digits))))
            ++digits;
        const int levels = document.mid(2, digits - 2).toInt();
        const QByteArray rest = document.mid(digits);
        document = "<api>" + QByteArray("<w>").repeated(levels) + rest + QByteArray("</w>").repeated(levels) +
                   "</api>";
    }
    file->resize(0);
    file->seek(0);
    if (file->write(document) != document.size() || !file->flush()) std::abort();

    CommandParser parser;
    const int result = parser.load(file->fileName());
    // A refused file leaves the model empty.
    if (result != 0 && (result != -1 || !parser.classes().isEmpty() || !parser.constants().isEmpty()))
        std::abort();
    for (const ApiClass &cls : parser.classes())
        if (cls.commands.size() != cls.responses.size()) std::abort();
}

void checkValidator(QString text, int pos)
{
    const QString before = text;
    const int posBefore = pos;
    const hwaddress::State state = hwaddress::normalize(text, pos);
    if (state == hwaddress::State::Invalid && text == before && pos == posBefore) return;
    for (const QChar c : text) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) && c != QLatin1Char(':'))
            std::abort();
    }
    if (text.size() > 17 || (state == hwaddress::State::Acceptable && text.size() != 17)) std::abort();
    // An empty text is left as it is, cursor included.
    if (!before.isEmpty() && state != hwaddress::State::Invalid && (pos < 0 || pos > text.size())) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == '<') {
        checkDefinitionFile(QByteArray(reinterpret_cast<const char *>(data), int(size)));
        return 0;
    }
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QString msg;
    checkPacket(parser().parse(line, msg));
    checkValidator(line, size ? data[0] % 24 : 0);
    return 0;
}
