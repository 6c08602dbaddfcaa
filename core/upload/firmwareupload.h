// Firmware upload engine: checks a program-flash image and loads it into the module through the dfu,
// system, config and flash API objects, as a chain of commands driven by the module's responses. It has
// no widgets: the main window's upload slots and the console flasher drive it and show what it reports.
#pragma once

#include "imagelayout.h"
#include "wifitypes.h"

#include <QBuffer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class cls_wifi;

class FirmwareUpload : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool uploading READ uploading NOTIFY uploadingChanged)

public:
    enum class State {
        Idle,
        Addressing, // set-address sent
        Sending,    // chunks in flight
        Finishing,  // finish sent
        Booting,    // reset sent, waiting for the module to start the new firmware
        WaitingMac, // erase phase: MAC requested
        Erasing,    // erase phase: key store erase and MAC write sent
    };
    Q_ENUM(State)

    static constexpr int chunkSize = 128;
    static constexpr qint64 flashSize = imagelayout::flashSize;
    static constexpr qint64 softwareRecordOffset = imagelayout::softwareRecordOffset;
    // Longer than any answer a working module takes, including its start after the reset.
    static constexpr int defaultResponseTimeoutMs = 10000;

    explicit FirmwareUpload(cls_wifi &wifi, QObject *parent = nullptr);

    // Whether the file is an image the module takes: its software block lies inside the file and matches
    // the CRC-32 in its section record. `why`, when given, receives the reason for a refusal.
    static bool validateDfuFile(const QString &path, QString *why = nullptr);
    // The same check, keeping the bytes that passed it in `image`.
    static bool readDfuFile(const QString &path, QByteArray *image, QString *why = nullptr);

    // Connects the responses and events that drive the upload straight to this object, for owners that
    // do not route them through slots of their own.
    void connectApi();

    // Asked before anything is sent; an upload into a closed link is refused.
    void setLinkOpenQuery(std::function<bool()> query) { linkOpen = std::move(query); }

    bool flowcontrol() const { return m_flowcontrol; }
    void setFlowcontrol(bool on) { m_flowcontrol = on; }
    bool eraseKeys() const { return m_eraseKeys; }
    void setEraseKeys(bool on) { m_eraseKeys = on; }
    int responseTimeout() const { return responseTimer.interval(); }
    void setResponseTimeout(int ms) { responseTimer.setInterval(ms); }

    State state() const { return m_state; }
    bool uploading() const { return m_state != State::Idle; }
    int chunksInFlight() const { return m_chunksInFlight; }
    bool eraseKeysPending() const { return m_eraseKeysPending; }

public slots:
    void uploadFile(const QString &fname);
    // The same upload from bytes read earlier (checked again here); `name` names them in messages.
    void uploadImage(const QByteArray &image, const QString &name);
    void rsp_flash_set_address(uint16 result);
    void rsp_flash_upload(uint16 status);
    void rsp_flash_upload_finish(uint16 status);
    // Any start of the module, whatever its version numbers.
    void evt_boot();
    void evt_mac_address(uint8 hw_interface, hw_addr mac);
    // The port went away by itself (pulled, hung up, stalled): an upload under way has failed.
    void linkLost();
    // The user closed the port: an upload under way has failed.
    void linkClosed();

signals:
    // A line for the log, always shown (HTML, failures in red).
    void message(const QString &html);
    // Whether the traffic log may show commands and responses; off while the chunks go out.
    void trafficLogging(bool on);
    void upload_progress(int bytes, int total, int time);
    void uploadingChanged();
    // The end of an upload: ok once the module started the new firmware (and its key store was erased
    // when asked), otherwise the reason in plain words.
    void finished(bool ok, const QString &reason);

private slots:
    void responseTimedOut();
    void rsp_ps_erase_all(uint16 result);
    void rsp_set_mac(uint16 result, uint8 hw_interface);

private:
    void setState(State s);
    void fail(const QString &html, const QString &reason);
    void setTrafficLogging(bool on);
    void succeed();
    void sendChunk(const QByteArray &chunk);
    void emitProgress();

    cls_wifi &wifi;
    std::function<bool()> linkOpen;
    // The image as checked: what is sent is exactly what passed the check, even if the file is
    // rewritten meanwhile. Its read position is the number of bytes handed to the link.
    QBuffer dfuFile;
    int chunksSent = 0;
    QElapsedTimer uploadTimer;
    QTimer responseTimer;
    int m_chunksInFlight = 0;
    bool m_flowcontrol = true;
    bool m_eraseKeys = false;
    bool m_eraseKeysPending = false;
    bool keysErased = false;
    bool macWritten = false;
    bool trafficLogOff = false; // the upload switched the traffic log off and owes switching it on
    State m_state = State::Idle;
};
