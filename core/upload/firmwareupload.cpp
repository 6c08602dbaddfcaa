#include "firmwareupload.h"

#include "cls_wifi.h"
#include "imagelayout.h"
#include "logformat.h"
#include "nextstep.h"

#include <QFile>
#include <QFileInfo>

namespace
{

QString red(const QString &text)
{
    return QStringLiteral("<font color=red>") + text + QStringLiteral("</font>");
}

// "result 0x0181 (Device is in wrong state to accept command)", the text left out when the code has
// none, then what to do about it in answer to `message` where that is known.
QString resultWords(uint16 code, const char *message)
{
    QString words = QStringLiteral("result 0x%1").arg(code, 4, 16, QLatin1Char('0'));
    const QString text = logformat::result_text(code);
    if (!text.isEmpty()) words += QStringLiteral(" (%1)").arg(text);
    const QString hint = nextstep::hint(code, QLatin1String(message));
    if (!hint.isEmpty()) words += QStringLiteral(". ") + hint;
    return words;
}

} // namespace

FirmwareUpload::FirmwareUpload(cls_wifi &wifi, QObject *parent) : QObject(parent), wifi(wifi)
{
    responseTimer.setSingleShot(true);
    responseTimer.setInterval(defaultResponseTimeoutMs);
    connect(&responseTimer, &QTimer::timeout, this, &FirmwareUpload::responseTimedOut);
    // Only the end of the erase phase listens to these; they send nothing.
    connect(&wifi.flash, &cls_wifi_flash::rsp_ps_erase_all, this, &FirmwareUpload::rsp_ps_erase_all);
    connect(&wifi.config, &cls_wifi_config::rsp_set_mac, this, &FirmwareUpload::rsp_set_mac);
}

void FirmwareUpload::connectApi()
{
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_set_address, this, &FirmwareUpload::rsp_flash_set_address);
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_upload, this, &FirmwareUpload::rsp_flash_upload);
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_upload_finish, this,
            &FirmwareUpload::rsp_flash_upload_finish);
    connect(&wifi.system, &cls_wifi_system::evt_boot, this, &FirmwareUpload::evt_boot);
    connect(&wifi.config, &cls_wifi_config::evt_mac_address, this, &FirmwareUpload::evt_mac_address);
}

bool FirmwareUpload::validateDfuFile(const QString &path, QString *why)
{
    QByteArray image;
    return readDfuFile(path, &image, why);
}

bool FirmwareUpload::readDfuFile(const QString &path, QByteArray *image, QString *why)
{
    QString reason;
    QFile file(path);
    image->clear();
    const QFileInfo info(path);
    // Opening a FIFO would wait for a writer, and a device could deliver anything: neither is an image.
    if (info.exists() && !info.isFile()) {
        reason = QStringLiteral("%1 is not a regular file").arg(path);
    } else if (!file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    } else {
        // One byte more than the flash holds tells an oversized file without reading all of it.
        const QByteArray data = file.read(flashSize + 1);
        if (file.error() != QFileDevice::NoError)
            reason = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        else
            reason = imagelayout::checkSoftwareBlock(data, path);
        if (reason.isEmpty()) *image = data;
    }
    if (why) *why = reason;
    return reason.isEmpty();
}

void FirmwareUpload::uploadFile(const QString &fname)
{
    QByteArray image;
    QString why;
    if (!readDfuFile(fname, &image, &why)) {
        emit message(red(QStringLiteral("Failed to validate DFU file:") + fname));
        // An upload under way goes on; only a refused start is the end of one.
        if (!uploading()) emit finished(false, why);
        return;
    }
    uploadImage(image, fname);
}

void FirmwareUpload::uploadImage(const QByteArray &image, const QString &name)
{
    const QString why = imagelayout::checkSoftwareBlock(image, name);
    if (!why.isEmpty()) {
        emit message(red(QStringLiteral("Failed to validate DFU file:") + name));
        if (!uploading()) emit finished(false, why);
        return;
    }
    if (linkOpen && !linkOpen()) {
        emit message(red(QStringLiteral("DFU Failed: no port is open")));
        if (!uploading()) emit finished(false, QStringLiteral("no port is open"));
        return;
    }

    dfuFile.close();
    dfuFile.setData(image);
    dfuFile.open(QIODevice::ReadOnly);
    m_eraseKeysPending = false;
    chunksSent = 0;
    uploadTimer.start();
    setState(State::Addressing);
    emitProgress();
    responseTimer.start();
    wifi.dfu.cmd_flash_set_address(0);
}

void FirmwareUpload::rsp_flash_set_address(uint16 result)
{
    if (m_state != State::Addressing) return;
    responseTimer.start();
    if (result != 0) {
        const QString words = QStringLiteral("the module refused the flash address: ") +
                              resultWords(result, "dfu_flash_set_address");
        fail(red(QStringLiteral("DFU Failed: ") + words), words);
        return;
    }
    m_chunksInFlight = 0;
    setState(State::Sending);
    const int window = m_flowcontrol ? 4 : 1;
    for (int i = 0; i < window; ++i) {
        const QByteArray chunk = dfuFile.read(chunkSize);
        if (chunk.isEmpty()) break;
        sendChunk(chunk);
    }
    setTrafficLogging(false);
}

void FirmwareUpload::rsp_flash_upload(uint16 status)
{
    if (m_state != State::Sending) return;
    responseTimer.start();
    if (status != 0) {
        // Responses come in order, so this one answers the oldest chunk still in flight.
        const qint64 offset = qint64(chunksSent - m_chunksInFlight) * chunkSize;
        fail(red(QStringLiteral("DFU Failed")),
             QStringLiteral("the module rejected the data at offset %1: %2")
                 .arg(offset)
                 .arg(resultWords(status, "dfu_flash_upload")));
        return;
    }
    --m_chunksInFlight;
    if (dfuFile.atEnd()) {
        if (m_chunksInFlight == 0) {
            dfuFile.close();
            setState(State::Finishing);
            wifi.dfu.cmd_flash_upload_finish();
        }
        return;
    }
    const QByteArray chunk = dfuFile.read(chunkSize);
    if (chunk.isEmpty()) return;
    sendChunk(chunk);
    emitProgress();
}

void FirmwareUpload::rsp_flash_upload_finish(uint16 status)
{
    if (m_state != State::Finishing) return;
    setTrafficLogging(true);
    // The module sets flag bits in the high byte; only the low byte tells a failure.
    if ((status & 0xff) != 0) {
        fail(QString(), QStringLiteral("the module rejected the image: ") +
                            resultWords(status, "dfu_flash_upload_finish"));
        return;
    }
    responseTimer.start();
    if (m_eraseKeys) m_eraseKeysPending = true;
    setState(State::Booting);
    wifi.dfu.cmd_reset(0);
}

void FirmwareUpload::evt_boot()
{
    if (m_state != State::Booting && m_state != State::WaitingMac) return;
    responseTimer.start();
    if (!m_eraseKeysPending) {
        succeed();
        return;
    }
    setState(State::WaitingMac);
    wifi.config.cmd_get_mac(0);
}

void FirmwareUpload::evt_mac_address(uint8 hw_interface, hw_addr mac)
{
    if (!m_eraseKeysPending) return;
    responseTimer.start();
    m_eraseKeysPending = false;
    keysErased = false;
    macWritten = false;
    setState(State::Erasing);
    wifi.flash.cmd_ps_erase_all();
    wifi.config.cmd_set_mac(hw_interface, mac);
}

void FirmwareUpload::rsp_ps_erase_all(uint16 result)
{
    if (m_state != State::Erasing) return;
    responseTimer.start();
    if (result != 0) {
        const QString words =
            QStringLiteral("erasing the key store failed: ") + resultWords(result, "flash_ps_erase_all");
        fail(red(QStringLiteral("DFU Failed: ") + words), words);
        return;
    }
    keysErased = true;
    if (macWritten) succeed();
}

void FirmwareUpload::rsp_set_mac(uint16 result, uint8)
{
    if (m_state != State::Erasing) return;
    if (result != 0) {
        const QString words =
            QStringLiteral("writing the MAC address back failed: ") + resultWords(result, "config_set_mac");
        fail(red(QStringLiteral("DFU Failed: ") + words), words);
        return;
    }
    macWritten = true;
    if (keysErased) succeed();
}

void FirmwareUpload::linkLost()
{
    if (!uploading()) return;
    fail(red(QStringLiteral("DFU Failed: the port was lost")), QStringLiteral("the port was lost"));
}

void FirmwareUpload::linkClosed()
{
    if (!uploading()) return;
    fail(red(QStringLiteral("DFU Failed: the port was closed")), QStringLiteral("the port was closed"));
}

void FirmwareUpload::responseTimedOut()
{
    if (!uploading()) return;
    const QString seconds = QString::number(responseTimer.interval() / 1000.0);
    // The module took the image and was told to restart; only its start was not seen.
    if (m_state == State::Booting) {
        fail(red(QStringLiteral("DFU Failed: the image was accepted, but the module did not restart")),
             QStringLiteral("the image was accepted, but the module did not restart within %1 s")
                 .arg(seconds));
        return;
    }
    fail(red(QStringLiteral("DFU Failed: no response from the module")),
         QStringLiteral("no response from the module for %1 s").arg(seconds));
}

void FirmwareUpload::setState(State s)
{
    const bool was = uploading();
    m_state = s;
    if (was != uploading()) emit uploadingChanged();
}

void FirmwareUpload::fail(const QString &html, const QString &reason)
{
    responseTimer.stop();
    dfuFile.close();
    m_eraseKeysPending = false;
    setTrafficLogging(true);
    if (!html.isEmpty()) emit message(html);
    setState(State::Idle);
    emit finished(false, reason);
}

// Only what the upload switched off is switched back on: the user's own choice of boxes stays.
void FirmwareUpload::setTrafficLogging(bool on)
{
    if (on == !trafficLogOff) return;
    trafficLogOff = !on;
    emit trafficLogging(on);
}

void FirmwareUpload::succeed()
{
    responseTimer.stop();
    setState(State::Idle);
    emit finished(true, QString());
}

void FirmwareUpload::sendChunk(const QByteArray &chunk)
{
    // Counted before the write: a responder answering within the write finds it in flight.
    ++m_chunksInFlight;
    ++chunksSent;
    wifi.dfu.cmd_flash_upload(chunk);
}

void FirmwareUpload::emitProgress()
{
    emit upload_progress(int(dfuFile.pos()), int(dfuFile.size()), int(uploadTimer.elapsed()));
}
