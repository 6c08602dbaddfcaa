// Console flasher: loads a firmware image into one or more modules at once, each through its own serial
// port, with the same upload engine and link as the window, and reports progress and results as text.
#pragma once

#include "cls_wifi.h"
#include "firmwareupload.h"
#include "uarthvconnection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <memory>

class CaptureFile;

struct FlashOptions {
    QString image;
    QByteArray imageData; // read once at start, so every module gets the same bytes
    int baud = 115200;
    bool flowcontrol = true; // four chunks in flight, else one
    bool enterDfu = false;   // reset the module into its update state first
    bool eraseKeys = false;
    int timeoutMs = FirmwareUpload::defaultResponseTimeoutMs;
    int retries = 0; // further attempts after a failed upload
    std::shared_ptr<CaptureFile> capture; // shared by every port's job; null records nothing
};

// One module on one port: open, optionally reset into the update state, upload, wait for the boot.
class FlashJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Waiting, Opening, EnteringDfu, Uploading, Booting, Assigning, Done, Failed };
    Q_ENUM(Phase)

    FlashJob(const QString &port, const FlashOptions &options, QObject *parent = nullptr);
    ~FlashJob() override;

    const QString port;
    Phase phase() const { return m_phase; }
    const QString &reason() const { return m_reason; }
    int bytes() const { return m_bytes; }
    int total() const { return m_total; }
    int elapsedMs() const { return m_elapsedMs; }
    bool erasesKeys() const { return options.eraseKeys; }
    int retriesUsed() const { return m_retries; }
    qint64 durationMs() const { return m_duration.isValid() ? m_duration.elapsed() : 0; }
    // The module's address before and after the run ("" when never read), and the one it was given.
    const QString &macBefore() const { return m_macBefore; }
    const QString &macAfter() const { return m_macAfter; }
    std::optional<quint64> assignedMac() const { return m_assigned; }
    bool macMismatch() const { return m_macMismatch; }
    // Set before start: after the module has booted its new firmware it gets the address this hands out
    // (empty with the reason: the module is flashed but refused an address).
    std::function<std::optional<quint64>(QString *why)> macSource;

public slots:
    void start();

signals:
    void changed();
    void done(bool ok);

private slots:
    void moduleBooted();
    void dfuTimedOut();
    void linkError(const QString &message);
    void linkClosed();
    void macReported(uint8 hw_interface, hw_addr mac);
    void macSet(uint16 result, uint8 hw_interface);

private:
    void beginUpload();
    void setPhase(Phase p);
    void finish(bool ok, const QString &reason);
    void uploadEnded(bool ok, const QString &why);
    void startAssigning();
    // A failure before the module has its new firmware: another attempt while retries are left.
    void fail(const QString &reason);

    FlashOptions options;
    UartHVConnection comm;
    cls_wifi wifi;
    FirmwareUpload upload{wifi};
    QTimer dfuTimer;
    QString lastLinkError;
    Phase m_phase = Phase::Waiting;
    QString m_reason;
    int m_bytes = 0;
    int m_total = 0;
    int m_elapsedMs = 0;
    int m_retries = 0;
    QElapsedTimer m_duration;
    enum class MacStep { None, ReadingBefore, Setting, Confirming };
    MacStep m_macStep = MacStep::None;
    QTimer macTimer;
    QString m_macBefore;
    QString m_macAfter;
    std::optional<quint64> m_assigned;
    bool m_macMismatch = false;
};
