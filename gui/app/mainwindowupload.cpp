// The main window's firmware upload: its slots hand the module's answers to the upload engine, and the
// engine's reports reach the log, the log filters and the interface.
#include "mainwindow.h"

#include "imagesummary.h"
#include "scriptapi.h"
#include "uartdev.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>

void MainWindow::connectUpload()
{
    connect(&wifi.system, &cls_wifi_system::evt_boot, this, &MainWindow::evt_boot);
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_upload, this, &MainWindow::rsp_flash_upload);
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_set_address, this, &MainWindow::rsp_flash_set_address);
    connect(&wifi.dfu, &cls_wifi_dfu::rsp_flash_upload_finish, this, &MainWindow::rsp_flash_upload_finish);
    connect(&wifi.config, &cls_wifi_config::evt_mac_address, this, &MainWindow::evt_mac_address);

    upload.setLinkOpenQuery([this] { return comm.device() && comm.device()->isRunning(); });
    connect(&upload, &FirmwareUpload::message, this, &MainWindow::debugPrint);
    // The chunks and their responses would flood the log; the boxes show the user that it is off.
    connect(&upload, &FirmwareUpload::trafficLogging, this, [this](bool on) {
        ui->checkLogHex->setChecked(on);
        ui->checkLogText->setChecked(on);
    });
    connect(&upload, &FirmwareUpload::upload_progress, this, &MainWindow::upload_progress);
    connect(&upload, &FirmwareUpload::uploadingChanged, this, &MainWindow::uploadingChanged);
    connect(&upload, &FirmwareUpload::finished, this, &MainWindow::upload_finished);
    // A port closed while uploading ends the upload at once. A port lost by itself is told first (the
    // link reports it before the window closes it), so the close that follows finds the upload ended.
    connect(&comm, &HVConnection::DeviceClosed, &upload, &FirmwareUpload::linkLost);
    connect(this, &MainWindow::attached, &upload, [this](bool open) {
        if (!open) upload.linkClosed();
    });
}

void MainWindow::uploadFile(QString fname)
{
    upload.uploadFile(fname);
}

void MainWindow::rsp_flash_set_address(uint16 result)
{
    // The window is chosen when the chunks start, from the switch as it is then.
    upload.setFlowcontrol(m_flowcontrol);
    upload.rsp_flash_set_address(result);
}

void MainWindow::rsp_flash_upload(uint16 status)
{
    upload.rsp_flash_upload(status);
}

void MainWindow::rsp_flash_upload_finish(uint16 status)
{
    upload.setEraseKeys(m_dfuEraseKeys);
    upload.rsp_flash_upload_finish(status);
}

void MainWindow::evt_boot(uint16, uint16, uint16, uint16, uint16, uint16, uint16)
{
    upload.evt_boot();
}

void MainWindow::evt_mac_address(uint8 hw_interface, hw_addr mac)
{
    upload.evt_mac_address(hw_interface, mac);
}

QString MainWindow::imageSummary(QString path) const
{
    if (path.isEmpty()) return QString();
    // The API that names the script's events: the one the command line uses.
    static const ScriptApi api = [] {
        ScriptApi a;
        const QString local = QStringLiteral("wifi.xml");
        if (!QFile::exists(local) || !a.load(local))
            a.load(QCoreApplication::applicationDirPath() + QStringLiteral("/../api/wifiapi.xml"));
        return a;
    }();
    return ImageSummary::of(path, &api).lines().join(QLatin1Char('\n'));
}
