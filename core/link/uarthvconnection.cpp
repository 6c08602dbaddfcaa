#include "uarthvconnection.h"

#include "capturefile.h"
#include "linkdiagnostics.h"
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
    : HVConnection(parent), ports(std::move(ports)), writeStallMs(UartDev::writeStallMs)
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
    dev->setWriteStallTimeout(writeStallMs);
    // Before the reader starts, so a packet already waiting at the port is not missed. The worker
    // emits in this thread; it hands its packets over from the reader itself.
    connect(dev.get(), &UartDev::RxData, this, &HVConnection::RxData);
    UartDev *worker = dev.get();
    connect(worker, &UartDev::Lost, this,
            [this, worker](const QString &reason) { workerLost(worker, reason); });
    if (!dev->openPort()) {
        emit LinkError(QLatin1String("Could not open ") + port + QLatin1String(": ") +
                       serialio::openFailureReason(port, dev->openError()));
        return false;
    }
    dev->setBaudRate(baud);
    attachCapture(dev.get(), baud);

    retire(std::move(uartDev));
    uartDev = std::move(dev);
    return true;
}

void UartHVConnection::setCapture(std::shared_ptr<CaptureFile> file)
{
    capture = std::move(file);
    captureInterfaces.clear();
    if (uartDev && uartDev->isRunning()) attachCapture(uartDev.get(), openBaud);
}

void UartHVConnection::attachCapture(UartDev *dev, int baud)
{
    openBaud = baud;
    if (!capture) {
        dev->setCapture(nullptr, -1);
        return;
    }
    const QString key = dev->portName + QLatin1Char('@') + QString::number(baud);
    int id = captureInterfaces.value(key, -1);
    if (id < 0) {
        id = capture->addInterface(dev->portName, baud);
        captureInterfaces.insert(key, id);
    }
    dev->setCapture(capture, id);
}

void UartHVConnection::setWriteStallTimeout(int ms)
{
    writeStallMs = ms;
    if (uartDev) uartDev->setWriteStallTimeout(ms);
}

// A replaced worker closes its port but still delivers the packets it read before; it goes once
// they are out.
void UartHVConnection::retire(std::unique_ptr<UartDev> dev)
{
    if (!dev) return;
    dev->Disconnect();
    UartDev *old = dev.release();
    old->setParent(this);
    old->releaseWhenDrained();
}

void UartHVConnection::workerLost(UartDev *dev, const QString &reason)
{
    if (dev != uartDev.get()) return;
    emit LinkError(QLatin1String("Port ") + dev->portName + QLatin1String(" lost: ") + reason);
    emit DeviceClosed();
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
        linkdiagnostics::report(linkdiagnostics::Level::Trace, QString(),
                                QStringLiteral("Device not open, trying to send: ") +
                                    QString::fromLatin1(data.toHex()));
}

void UartHVConnection::DiscoverDevices()
{
    emit ClearDevices();
    QList<PortInfo> present;
    if (!ports->presentPorts(&present)) return;
    listed = present;
    for (const PortInfo &p : present) {
        emit DeviceFound(p.name, p.port);
        const QString details = p.details();
        if (!details.isEmpty()) emit DeviceDetails(p.port, details);
    }
    if (uartDev && !portStillThere(present)) {
        linkdiagnostics::report(linkdiagnostics::Level::Trace, uartDev->portName,
                                QStringLiteral("close: ") + uartDev->portName);
        uartDev->closeAsLost(QStringLiteral("the device was removed"));
    }
    emit DevicesListed();
}

// A port opened by a path the listing does not give (a pty, a link below /dev/serial) counts as
// present as long as that path leads to a device.
bool UartHVConnection::portStillThere(const QList<PortInfo> &present) const
{
    for (const PortInfo &p : present)
        if (p.port == uartDev->portName) return true;
    return QFileInfo::exists(uartDev->portName);
}
