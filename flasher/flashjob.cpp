#include "flashjob.h"

#include "recordstore.h"
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
        emit changed();
        // The last chunk has gone out: what is left is the module's finish, reset and start.
        if (bytes == total && m_phase == Phase::Uploading) setPhase(Phase::Booting);
    });
    connect(&upload, &FirmwareUpload::finished, this, &FlashJob::uploadEnded);

    dfuTimer.setSingleShot(true);
    dfuTimer.setInterval(options.timeoutMs);
    connect(&dfuTimer, &QTimer::timeout, this, &FlashJob::dfuTimedOut);
    // In its update state the module announces itself with the dfu boot event; accept the system one too.
    connect(&wifi.dfu, &cls_wifi_dfu::evt_boot, this, &FlashJob::moduleBooted);
    connect(&wifi.system, &cls_wifi_system::evt_boot, this, &FlashJob::moduleBooted);

    macTimer.setSingleShot(true);
    macTimer.setInterval(options.timeoutMs);
    connect(&macTimer, &QTimer::timeout, this, [this] {
        m_macStep = MacStep::None;
        finish(false, QStringLiteral("no response from the module while its MAC address was set"));
    });
    connect(&wifi.config, &cls_wifi_config::evt_mac_address, this, &FlashJob::macReported);
    connect(&wifi.config, &cls_wifi_config::rsp_set_mac, this, &FlashJob::macSet);
}

FlashJob::~FlashJob()
{
    // The port is closed by the members' destruction; nothing it says then concerns this job.
    comm.disconnect(this);
}

void FlashJob::start()
{
    if (!m_duration.isValid()) m_duration.start();
    lastLinkError.clear();
    m_phase = Phase::Opening;
    if (!comm.OpenDevice(port, options.baud)) {
        fail(lastLinkError.isEmpty() ? QStringLiteral("could not open %1").arg(port) : lastLinkError);
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
        fail(QStringLiteral("no response from the module after the reset into its update state"));
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
        fail(lastLinkError.isEmpty() ? QStringLiteral("the port was closed") : lastLinkError);
    } else if (m_phase == Phase::Assigning) {
        macTimer.stop();
        m_macStep = MacStep::None;
        finish(false, lastLinkError.isEmpty() ? QStringLiteral("the port was closed") : lastLinkError);
    } else {
        upload.linkLost();
    }
}

void FlashJob::beginUpload()
{
    setPhase(Phase::Uploading);
    if (options.imageData.isEmpty()) upload.uploadFile(options.image);
    else upload.uploadImage(options.imageData, options.image);
}

void FlashJob::uploadEnded(bool ok, const QString &why)
{
    if (ok) {
        if (macSource) startAssigning();
        else finish(true, QString());
        return;
    }
    if (m_phase == Phase::Done || m_phase == Phase::Failed) return;
    // A lost port is told better by the link, which knows why.
    fail(!lastLinkError.isEmpty() ? lastLinkError : why);
}

void FlashJob::fail(const QString &reason)
{
    if (m_phase == Phase::Done || m_phase == Phase::Failed) return;
    if (m_retries >= options.retries) {
        finish(false, reason);
        return;
    }
    ++m_retries;
    m_reason = reason;
    dfuTimer.stop();
    // A fresh start on a fresh line: the module may have been reset or replugged in between.
    comm.CloseDevice();
    m_bytes = m_total = m_elapsedMs = 0;
    setPhase(Phase::Opening);
    QTimer::singleShot(500, this, &FlashJob::start);
}

void FlashJob::startAssigning()
{
    setPhase(Phase::Assigning);
    m_macStep = MacStep::ReadingBefore;
    macTimer.start();
    wifi.config.cmd_get_mac(0);
}

void FlashJob::macReported(uint8, hw_addr mac)
{
    quint64 value = 0;
    for (unsigned char byte : mac.addr)
        value = (value << 8) | byte;
    if (m_macStep == MacStep::ReadingBefore) {
        macTimer.stop();
        m_macBefore = mac48::format(value);
        QString why;
        m_assigned = macSource(&why);
        if (!m_assigned) {
            m_macStep = MacStep::None;
            finish(false, why);
            return;
        }
        hw_addr next{};
        for (int i = 0; i < 6; ++i)
            next.addr[i] = uint8_t(*m_assigned >> (8 * (5 - i)));
        m_macStep = MacStep::Setting;
        macTimer.start();
        wifi.config.cmd_set_mac(0, next);
    } else if (m_macStep == MacStep::Confirming) {
        macTimer.stop();
        m_macStep = MacStep::None;
        m_macAfter = mac48::format(value);
        if (value != *m_assigned) {
            m_macMismatch = true;
            finish(false, QStringLiteral("the module reports the MAC address %1 after it was set to %2")
                              .arg(m_macAfter, mac48::format(*m_assigned)));
            return;
        }
        finish(true, QString());
    }
}

void FlashJob::macSet(uint16 result, uint8)
{
    if (m_macStep != MacStep::Setting) return;
    if (result != 0) {
        macTimer.stop();
        m_macStep = MacStep::None;
        finish(false, QStringLiteral("the module refused the MAC address %1: result 0x%2")
                          .arg(mac48::format(*m_assigned))
                          .arg(result, 4, 16, QLatin1Char('0')));
        return;
    }
    m_macStep = MacStep::Confirming;
    macTimer.start();
    wifi.config.cmd_get_mac(0);
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
