#include "simdevice.h"

#include "messagetable.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace
{

enum ClassId {
    dfuClass = 0,
    systemClass = 1,
    configClass = 2,
    smeClass = 3,
    hardwareClass = 6,
    flashClass = 7,
    utilClass = 12
};

// The encoder hands over the fixed part and the array bytes separately; the module sends them as one.
void collect(void *target, uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
             const uint8_t *array)
{
    auto *packet = static_cast<QByteArray *>(target);
    packet->append(reinterpret_cast<const char *>(fixed), fixed_length);
    if (array_length) packet->append(reinterpret_cast<const char *>(array), array_length);
}

const MessageDescriptor *eventDescriptor(int classId, int eventId)
{
    const uint8_t header[4] = {0x88, 0, uint8_t(classId), uint8_t(eventId)};
    return find_message(header);
}

int commandIndex(int classId, int id)
{
    const uint8_t header[4] = {0x08, 0, uint8_t(classId), uint8_t(id)};
    const MessageDescriptor *response = find_message(header);
    return response ? int(response - message_table) - message_command_count : -1;
}

uint32_t le32(const QByteArray &bytes, int offset)
{
    return wire::u32(reinterpret_cast<const uint8_t *>(bytes.constData()) + offset);
}

QByteArray arrayArg(const std::vector<message_arg> &args, size_t lengthAt)
{
    return QByteArray(reinterpret_cast<const char *>(args[lengthAt + 1].pointer), int(args[lengthAt].value));
}

} // namespace

const std::vector<SimDevice::AccessPoint> &SimDevice::accessPoints()
{
    static const std::vector<AccessPoint> points = {
        {"Workshop", {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01}, 1, -41, 45, 1},
        {"Guest", {0x02, 0x00, 0x5e, 0x10, 0x00, 0x02}, 6, -58, 30, 0},
        {"Lab Bench", {0x02, 0x00, 0x5e, 0x10, 0x00, 0x03}, 11, -67, 22, 1},
        {"Neighbours", {0x02, 0x00, 0x5e, 0x10, 0x00, 0x04}, 6, -84, 8, 1},
    };
    return points;
}

hw_addr SimDevice::defaultMac()
{
    return hw_addr{{0x02, 0x4e, 0x57, 0x00, 0x00, 0x01}};
}

SimDevice::SimDevice(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_flash(flashSize, char(0xff)), m_mac(defaultMac()),
      m_update(options.startInUpdateState)
{
    if (options.mac.size() == 6) std::memcpy(m_mac.addr, options.mac.constData(), 6);
}

QByteArray SimDevice::connectedSsid() const
{
    return m_connected ? QByteArray(m_connected->ssid) : QByteArray();
}

bool SimDevice::imageValid(const QByteArray &image)
{
    if (image.size() < softwareRecordOffset + 12) return false;
    const uint64_t start = le32(image, softwareRecordOffset);
    const uint64_t length = le32(image, softwareRecordOffset + 4);
    const uint32_t crc = le32(image, softwareRecordOffset + 8);
    if (start + length > uint64_t(image.size())) return false;
    const auto *block = reinterpret_cast<const Bytef *>(image.constData() + start);
    return uint32_t(crc32(crc32(0, nullptr, 0), block, uInt(length))) == crc;
}

bool SimDevice::saveFlash(const QString &path, QString *error) const
{
    // Renaming a saved file over a device node would replace the node: a character device is written
    // in place, anything else that is not a regular file refused.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (!S_ISCHR(st.st_mode)) {
            if (error) *error = QStringLiteral("%1: not a regular file").arg(path);
            return false;
        }
        // Never as the controlling terminal, should the device be a terminal.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        QFile device;
        if (fd >= 0 &&
            device.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle) &&
            device.write(m_flash) == m_flash.size())
            return true;
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, fd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                                               : device.errorString());
        if (fd >= 0 && !device.isOpen()) ::close(fd);
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(m_flash) == m_flash.size() && file.commit())
        return true;
    if (error) *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

void SimDevice::receive(const QByteArray &packet)
{
    if (packet.size() < packet_header_size) return;
    const auto *bytes = reinterpret_cast<const uint8_t *>(packet.constData());
    if (bytes[0] & packet_event_bit) return;
    const int index = commandIndex(bytes[2], bytes[3]);
    if (index < 0) return;
    // The payload as the header announces it, no further than the bytes that came.
    const size_t payload = size_t(qMin(packet_payload_length(bytes), packet.size() - packet_header_size));
    Args args;
    if (!decode_message(message_table[index], bytes + packet_header_size, payload, args)) return;
    m_command = index;
    handle(index, args);
}

void SimDevice::handle(int index, const Args &args)
{
    const MessageDescriptor &d = message_table[index];
    const int id = d.header[3];
    bool answered = false;
    switch (d.header[2]) {
    case dfuClass:
        answered = handleDfu(id, args);
        break;
    case systemClass:
        answered = handleSystem(id, args);
        break;
    case configClass:
        answered = handleConfig(id, args);
        break;
    case smeClass:
        answered = handleSme(id, args);
        break;
    case flashClass:
        answered = handleFlash(id, args);
        break;
    case utilClass:
        answered = handleUtil(id, args);
        break;
    default:
        break;
    }
    // Everything else succeeds with zeroed outputs.
    if (!answered) respondZero(index);
}

bool SimDevice::handleDfu(int id, const Args &args)
{
    const int index = m_command;
    switch (id) {
    case 0: // reset
        respond(index, {});
        scheduleBoot(args[0].value != 0);
        return true;
    case 1: // flash_set_address
        if (!m_update) {
            respond(index, {resultWrongState});
        } else if (args[0].value >= uint32_t(flashSize)) {
            respond(index, {resultInvalidParameter});
        } else {
            m_flashAddress = args[0].value;
            respond(index, {0});
        }
        return true;
    case 2: { // flash_upload
        if (!m_update) {
            respond(index, {resultWrongState});
            return true;
        }
        ++m_uploads;
        const QByteArray data = arrayArg(args, 0);
        if (m_uploads == m_options.rejectUpload) {
            respond(index, {m_options.rejectResult});
        } else if (uint64_t(m_flashAddress) + uint64_t(data.size()) > uint64_t(flashSize)) {
            respond(index, {resultInvalidParameter});
        } else {
            m_flash.replace(int(m_flashAddress), data.size(), data);
            m_flashAddress += uint32_t(data.size());
            respond(index, {0});
        }
        return true;
    }
    case 3: // flash_upload_finish
        if (!m_update) {
            respond(index, {resultWrongState});
            return true;
        }
        saveIfWanted();
        respond(index, {imageValid(m_flash) ? 0 : resultInvalidParameter});
        return true;
    default:
        return false;
    }
}

bool SimDevice::handleSystem(int id, const Args &args)
{
    switch (id) {
    case 1: // reset
        respond(m_command, {});
        scheduleBoot(args[0].value != 0);
        return true;
    case 3: // set_max_power_saving_state
        respond(m_command, {0});
        event(systemClass, 3, {args[0].value});
        return true;
    default: // sync and hello answer with their empty responses
        return false;
    }
}

bool SimDevice::handleConfig(int id, const Args &args)
{
    const uint32_t interface = args[0].value;
    switch (id) {
    case 0: // get_mac
        respond(m_command, {0, interface});
        event(configClass, 0, {interface, m_mac.addr});
        return true;
    case 1: // set_mac
        if (m_options.refuseMacResult == 0 && !m_options.keepMac) std::memcpy(m_mac.addr, args[1].pointer, 6);
        respond(m_command, {m_options.refuseMacResult, interface});
        return true;
    default:
        return false;
    }
}

bool SimDevice::handleSme(int id, const Args &args)
{
    static const uint8_t noBssid[6] = {};
    switch (id) {
    case 0: // wifi_on
        m_wifiOn = true;
        respond(m_command, {0});
        event(smeClass, 0, {0}); // wifi_is_on
        return true;
    case 1: // wifi_off
        respond(m_command, {0});
        if (m_connected) event(smeClass, 6, {0, 0}); // disconnected
        m_connected = nullptr;
        m_wifiOn = false;
        event(smeClass, 1, {0}); // wifi_is_off
        return true;
    case 3: { // start_scan: the access points on the listed channels (all of them for an empty list)
        if (!m_wifiOn) {
            respond(m_command, {resultWrongState});
            return true;
        }
        respond(m_command, {0});
        const QByteArray channels = arrayArg(args, 1);
        for (const AccessPoint &ap : accessPoints()) {
            if (!channels.isEmpty() && !channels.contains(char(ap.channel))) continue;
            const int ssidLength = int(std::strlen(ap.ssid));
            event(smeClass, 2, {ap.bssid, ap.channel, ap.rssi, ap.snr, ap.secure, ssidLength, ap.ssid});
        }
        event(smeClass, 4, {0}); // scanned
        return true;
    }
    case 5: // set_password
        m_password = arrayArg(args, 0);
        respond(m_command, {0});
        return true;
    case 6:   // connect_bssid
    case 7: { // connect_ssid
        if (!m_wifiOn) {
            respond(m_command, {resultWrongState, 0, noBssid});
            return true;
        }
        const AccessPoint *found = nullptr;
        for (const AccessPoint &ap : accessPoints()) {
            const bool match = id == 6 ? std::memcmp(ap.bssid, args[0].pointer, 6) == 0
                                       : arrayArg(args, 0) == QByteArray(ap.ssid);
            if (match) found = &ap;
            if (match) break;
        }
        respond(m_command, {0, 0, found ? found->bssid : noBssid});
        connectTo(found);
        return true;
    }
    case 8: // disconnect
        respond(m_command, {0, 0});
        if (m_connected) event(smeClass, 6, {0, 0});
        m_connected = nullptr;
        return true;
    case 19: // get_signal_quality
        respond(m_command, {m_connected ? 0 : resultWrongState, 0});
        if (m_connected) event(smeClass, 22, {m_connected->rssi, 0});
        return true;
    default:
        return false;
    }
}

void SimDevice::connectTo(const AccessPoint *ap)
{
    if (!ap) {
        event(smeClass, 8, {resultApNotFound, 0}); // connect_failed
        return;
    }
    if (ap->secure && m_password != accessPointPassword) {
        event(smeClass, 8, {m_password.isEmpty() ? resultPasswordMissing : resultAuthFailed, 0});
        return;
    }
    m_connected = ap;
    event(smeClass, 5, {0, 0, ap->bssid}); // connected
}

bool SimDevice::handleFlash(int id, const Args &args)
{
    switch (id) {
    case 1: // ps_dump: the response, then one event per key
        respond(m_command, {0});
        for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
            event(flashClass, 0, {it.key(), it.value().size(), it.value().constData()});
        return true;
    case 2: // ps_erase_all
        m_keys.clear();
        respond(m_command, {0});
        return true;
    case 3: // ps_save
        m_keys.insert(uint16_t(args[0].value), arrayArg(args, 1));
        respond(m_command, {0});
        return true;
    case 4: { // ps_load
        const auto it = m_keys.constFind(uint16_t(args[0].value));
        if (it == m_keys.cend())
            respond(m_command, {resultKeyNotFound, 0, nullptr});
        else
            respond(m_command, {0, it.value().size(), it.value().constData()});
        return true;
    }
    case 5: // ps_erase
        respond(m_command, {m_keys.remove(uint16_t(args[0].value)) ? 0 : resultKeyNotFound});
        return true;
    default: // ps_defrag
        return false;
    }
}

bool SimDevice::handleUtil(int id, const Args &args)
{
    if (id == 0) { // atoi
        respond(m_command, {arrayArg(args, 0).trimmed().toInt()});
        return true;
    }
    if (id == 1) { // itoa
        const QByteArray text = QByteArray::number(int32_t(args[0].value));
        respond(m_command, {text.size(), text.constData()});
        return true;
    }
    return false;
}

void SimDevice::scheduleBoot(bool update)
{
    QTimer::singleShot(m_options.bootDelayMs, this, [this, update] { boot(update); });
}

void SimDevice::boot(bool update)
{
    m_update = update;
    m_wifiOn = false;
    m_connected = nullptr;
    m_password.clear();
    m_flashAddress = 0;
    if (update) {
        event(dfuClass, 0, {uint32_t(bootloaderVersion)});
    } else {
        event(systemClass, 0,
              {bootMajor, bootMinor, bootPatch, bootBuild, bootloaderVersion, tcpipVersion, hardwareVersion});
    }
}

void SimDevice::saveIfWanted()
{
    if (m_options.flashOut.isEmpty()) return;
    QString error;
    const bool ok = saveFlash(m_options.flashOut, &error);
    emit flashSaved(ok, error);
}

QByteArray SimDevice::floodPacket()
{
    const MessageDescriptor *d = eventDescriptor(hardwareClass, 1); // change_notification
    return encode(*d, {m_floodCount++});
}

QByteArray SimDevice::scanStreamPacket()
{
    const AccessPoint &ap = accessPoints()[m_scanStreamNext++ % accessPoints().size()];
    const int ssidLength = int(std::strlen(ap.ssid));
    return encode(*eventDescriptor(smeClass, 2),
                  {ap.bssid, ap.channel, ap.rssi, ap.snr, ap.secure, ssidLength, ap.ssid});
}

void SimDevice::respond(int index, const Args &args)
{
    emitEncoded(message_table[message_command_count + index], args);
}

// Result 0 and every output zero (empty arrays, a zero address).
void SimDevice::respondZero(int index)
{
    static const uint8_t zeros[6] = {};
    const MessageDescriptor &d = message_table[message_command_count + index];
    Args args;
    for (uint32_t sig = d.signature; sig != 0; sig >>= 4) {
        switch (sig & 0xf) {
        case sig_hw_addr:
            args.emplace_back(static_cast<const void *>(zeros));
            break;
        case sig_uint8array:
        case sig_uint8array_alt:
        case sig_uint16array:
            args.emplace_back(0);
            args.emplace_back(static_cast<const void *>(nullptr));
            break;
        default:
            args.emplace_back(0);
            break;
        }
    }
    emitEncoded(d, args);
}

void SimDevice::event(int classId, int eventId, const Args &args)
{
    if (const MessageDescriptor *d = eventDescriptor(classId, eventId)) emitEncoded(*d, args);
}

void SimDevice::emitEncoded(const MessageDescriptor &d, const Args &args)
{
    const QByteArray packet = encode(d, args);
    if (!packet.isEmpty()) emit output(packet);
}

QByteArray SimDevice::encode(const MessageDescriptor &d, const Args &args)
{
    QByteArray packet;
    encode_message(collect, &packet, d, args.data(), args.size());
    return packet;
}
