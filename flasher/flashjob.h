// Console flasher: loads a firmware image into one or more modules at once, each through its own serial
// port, with the same upload engine and link as the window, and reports progress and results as text.
#pragma once

#include "cls_wifi.h"
#include "firmwareupload.h"
#include "uarthvconnection.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class CaptureFile;

struct FlashOptions {
    QString image;
    int baud = 115200;
    bool flowcontrol = true; // four chunks in flight, else one
    bool enterDfu = false;   // reset the module into its update state first
    bool eraseKeys = false;
    int timeoutMs = FirmwareUpload::defaultResponseTimeoutMs;
    std::shared_ptr<CaptureFile> capture; // shared by every port's job; null records nothing
};

// One module on one port: open, optionally reset into the update state, upload, wait for the boot.
class FlashJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Opening, EnteringDfu, Uploading, Booting, Done, Failed };
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

private:
    void beginUpload();
    void setPhase(Phase p);
    void finish(bool ok, const QString &reason);

    FlashOptions options;
    UartHVConnection comm;
    cls_wifi wifi;
    FirmwareUpload upload{wifi};
    QTimer dfuTimer;
    QString lastLinkError;
    Phase m_phase = Phase::Opening;
    QString m_reason;
    int m_bytes = 0;
    int m_total = 0;
    int m_elapsedMs = 0;
};
