#include "uarthvconnection.h"

#include "portmonitor.h"
#include "uartdev.h"

#include <QDebug>
#include <QFileInfo>

UartHVConnection::UartHVConnection(QObject *parent)
    : UartHVConnection(std::make_unique<SystemPortEnumerator>(), parent)
{
    monitor = new PortMonitor(this);
    connect(monitor, &PortMonitor::devicesChanged, this, &UartHVConnection::DiscoverDevices);
}

UartHVConnection::UartHVConnection(std::unique_ptr<PortEnumerator> ports, QObject *parent)
    : HVConnection(parent), ports(std::move(ports))
{
}

// The worker's destructor stops its thread, which closes the port.
UartHVConnection::~UartHVConnection() = default;

bool UartHVConnection::OpenDevice(const QString &port, int baud)
{
    // The earlier worker holds its port exclusively: reopening the same port needs it closed first.
    // Any other port is opened first, so a failed open leaves the earlier one working.
    if (uartDev && uartDev->portName == port) uartDev->Disconnect();

    auto dev = std::make_unique<UartDev>(port);
    if (!dev->openPort()) return false;
    dev->setBaudRate(baud);

    // Packets already queued from the earlier worker are still delivered after it is gone.
    if (uartDev) uartDev->Disconnect();
    uartDev = std::move(dev);
    // Signal to signal: the worker emits in its own thread, so the re-emission is queued to ours.
    connect(uartDev.get(), &UartDev::RxData, this, &HVConnection::RxData);
    return true;
}

void UartHVConnection::CloseDevice()
{
    if (uartDev) uartDev->Disconnect();
}

void UartHVConnection::TxData(const QByteArray &data)
{
    if (uartDev)
        uartDev->TxData(data);
    else
        qDebug().noquote() << "Device not open, trying to send:" << QString::fromLatin1(data.toHex());
}

void UartHVConnection::DiscoverDevices()
{
    emit ClearDevices();
    QList<PortInfo> present;
    if (!ports->presentPorts(&present)) return;
    for (const PortInfo &p : present)
        emit DeviceFound(p.name, p.port);
    if (uartDev && !portStillThere(present)) {
        qDebug().noquote() << "close:" << uartDev->portName;
        uartDev->Disconnect();
    }
}

// A port opened by a path the listing does not give (a pty, a link below /dev/serial) counts as
// present as long as that path leads to a device.
bool UartHVConnection::portStillThere(const QList<PortInfo> &present) const
{
    for (const PortInfo &p : present)
        if (p.port == uartDev->portName) return true;
    return QFileInfo::exists(uartDev->portName);
}
