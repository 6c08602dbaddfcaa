#include "flashjob.h"

#include "uartdev.h"

FlashJob::FlashJob(const QString &port, const FlashOptions &options, QObject *parent)
    : QObject(parent), port(port), options(options),
      // Ports come from the command line: no listing, no hot-plug monitor.
      comm(std::make_unique<SystemPortEnumerator>())
{
    connect(&wifi, &cls_wifi::tx_data, &comm, &UartHVConnection::TxData);
    connect(&comm, &HVConnection::RxData, &wifi, &cls_wifi::rx_data);
    connect(&comm, &HVConnection::LinkError, this, &FlashJob::linkError);
    connect(&comm, &HVConnection::DeviceClosed, this, &FlashJob::linkClosed);
    comm.setCapture(options.capture);

    upload.connectApi();
    upload.setFlowcontrol(options.flowcontrol);
    upload.setEraseKeys(options.eraseKeys);
    upload.setResponseTimeout(options.timeoutMs);
    upload.setLinkOpenQuery([this] { return comm.device() && comm.device()->isRunning(); });
    connect(&upload, &FirmwareUpload::upload_progress, this, [this](int bytes, int total, int time) {
        m_bytes = bytes;
        m_total = total;
        m_elapsedMs = time;
        // The last chunk has gone out: what is left is the module's finish, reset and start.
        if (bytes == total && m_phase == Phase::Uploading) setPhase(Phase::Booting);
        emit changed();
    });
    connect(&upload, &FirmwareUpload::finished, this, [this](bool ok, const QString &why) {
        // A lost port is told better by the link, which knows why.
        finish(ok, !ok && !lastLinkError.isEmpty() ? lastLinkError : why);
    });

    dfuTimer.setSingleShot(true);
    dfuTimer.setInterval(options.timeoutMs);
    connect(&dfuTimer, &QTimer::timeout, this, &FlashJob::dfuTimedOut);
    // In its update state the module announces itself with the dfu boot event; accept the system one too.
    connect(&wifi.dfu, &cls_wifi_dfu::evt_boot, this, &FlashJob::moduleBooted);
    connect(&wifi.system, &cls_wifi_system::evt_boot, this, &FlashJob::moduleBooted);
}

FlashJob::~FlashJob()
{
    // The port is closed by the members' destruction; nothing it says then concerns this job.
    comm.disconnect(this);
}

void FlashJob::start()
{
    if (!comm.OpenDevice(port, options.baud)) {
        finish(false,
               lastLinkError.isEmpty() ? QStringLiteral("could not open %1").arg(port) : lastLinkError);
        return;
    }
    if (!options.enterDfu) {
        beginUpload();
        return;
    }
    setPhase(Phase::EnteringDfu);
    dfuTimer.start();
    wifi.system.cmd_reset(1);
}

void FlashJob::moduleBooted()
{
    if (m_phase != Phase::EnteringDfu) return;
    dfuTimer.stop();
    beginUpload();
}

void FlashJob::dfuTimedOut()
{
    if (m_phase == Phase::EnteringDfu)
        finish(false, QStringLiteral("no response from the module after the reset into its update state"));
}

void FlashJob::linkError(const QString &message)
{
    lastLinkError = message;
}

void FlashJob::linkClosed()
{
    // While uploading the engine ends the upload itself and reports through finished.
    if (m_phase == Phase::Opening || m_phase == Phase::EnteringDfu) {
        dfuTimer.stop();
        finish(false, lastLinkError.isEmpty() ? QStringLiteral("the port was closed") : lastLinkError);
    } else {
        upload.linkLost();
    }
}

void FlashJob::beginUpload()
{
    setPhase(Phase::Uploading);
    upload.uploadFile(options.image);
}

void FlashJob::setPhase(Phase p)
{
    m_phase = p;
    emit changed();
}

void FlashJob::finish(bool ok, const QString &reason)
{
    if (m_phase == Phase::Done || m_phase == Phase::Failed) return;
    m_reason = reason;
    setPhase(ok ? Phase::Done : Phase::Failed);
    emit done(ok);
}
