// The simulated module: a device model of the NW300 on the far side of the serial line, answering every
// command of the catalogue through the project's own codec, and a transport (SimLine) that plays it on a
// pseudo-terminal or a serial device. Used by the nwsim program and by tests.
#pragma once

#include "simoptions.h"
#include "wifitypes.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <vector>

struct MessageDescriptor;
struct message_arg;

// The module's state and behaviour. Takes whole command packets and emits whole response and event
// packets; it knows nothing of the line.
class SimDevice : public QObject
{
    Q_OBJECT
public:
    // The simulator reads the image layout on its own, not through the shared one, so it checks the
    // builder and the upload rather than repeating their mistakes.
    static constexpr int flashSize = 512000;
    // The software block's section record: start, length, CRC-32, at the end of the image.
    static constexpr int softwareRecordOffset = 511984;

    // Version numbers of the boot events.
    static constexpr uint16_t bootMajor = 1, bootMinor = 3, bootPatch = 0, bootBuild = 17;
    static constexpr uint16_t bootloaderVersion = 2, tcpipVersion = 5, hardwareVersion = 3;

    // Results the model answers with.
    static constexpr uint16_t resultInvalidParameter = 0x0180;
    static constexpr uint16_t resultWrongState = 0x0181;
    static constexpr uint16_t resultApNotFound = 0x018b;
    static constexpr uint16_t resultPasswordMissing = 0x018c;
    static constexpr uint16_t resultAuthFailed = 0x018d;
    static constexpr uint16_t resultKeyNotFound = 0x0302;

    // The access points that a scan finds; the secure ones take the password accessPointPassword.
    struct AccessPoint {
        const char *ssid;
        uint8_t bssid[6];
        int8_t channel;
        int16_t rssi;
        int8_t snr;
        uint8_t secure;
    };
    static const std::vector<AccessPoint> &accessPoints();
    static constexpr const char *accessPointPassword = "nw300-demo";
    static hw_addr defaultMac();

    explicit SimDevice(const SimOptions &options = SimOptions(), QObject *parent = nullptr);

    const QByteArray &flash() const { return m_flash; }
    const QMap<uint16_t, QByteArray> &keys() const { return m_keys; }
    hw_addr mac() const { return m_mac; }
    bool inUpdateState() const { return m_update; }
    bool wifiOn() const { return m_wifiOn; }
    // The SSID of the network joined, empty while not connected.
    QByteArray connectedSsid() const;
    int uploadsReceived() const { return m_uploads; }

    // The check that flash_upload_finish makes: the software block's record lies in the image and its
    // CRC-32 matches.
    static bool imageValid(const QByteArray &image);
    // Writes the flash to a file atomically; false with the reason in *error.
    bool saveFlash(const QString &path, QString *error = nullptr) const;

    // Packets of the load streams: a hardware change_notification event whose timestamp counts up, and
    // scan_result events cycling through the access points.
    QByteArray floodPacket();
    QByteArray scanStreamPacket();

public slots:
    // One whole packet from the host. Packets that are no command of the catalogue, or too short for
    // their command's fields, are ignored.
    void receive(const QByteArray &packet);

signals:
    // One whole packet for the host.
    void output(QByteArray packet);
    // The flash was written to the file of the options (or could not be: ok false).
    void flashSaved(bool ok, QString error);

private:
    using Args = std::vector<message_arg>;

    void handle(int index, const Args &args);
    bool handleDfu(int id, const Args &args);
    bool handleSystem(int id, const Args &args);
    bool handleConfig(int id, const Args &args);
    bool handleSme(int id, const Args &args);
    bool handleFlash(int id, const Args &args);
    bool handleUtil(int id, const Args &args);
    void connectTo(const AccessPoint *ap);
    void scheduleBoot(bool update);
    void boot(bool update);
    void saveIfWanted();

    void respond(int index, const Args &args);
    void respondZero(int index);
    void event(int classId, int eventId, const Args &args);
    void emitEncoded(const MessageDescriptor &d, const Args &args);
    QByteArray encode(const MessageDescriptor &d, const Args &args);

    SimOptions m_options;
    QByteArray m_flash;
    QMap<uint16_t, QByteArray> m_keys;
    hw_addr m_mac;
    bool m_update = false;
    bool m_wifiOn = false;
    const AccessPoint *m_connected = nullptr;
    QByteArray m_password;
    uint32_t m_flashAddress = 0;
    int m_uploads = 0;
    uint32_t m_floodCount = 0;
    size_t m_scanStreamNext = 0;
    int m_command = -1; // index of the command being answered
};
