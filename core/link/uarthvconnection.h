#pragma once

#include "hvconnection.h"
#include "portenumerator.h"

#include <QHash>
#include <memory>

class CaptureFile;
class PortMonitor;
class UartDev;

// The serial link: one worker per opened port, whose packets are re-emitted as RxData in this
// object's thread. Lists the ports present and, when it lists the system's own, follows adapters
// being plugged and pulled.
class UartHVConnection : public HVConnection
{
    Q_OBJECT

public:
    // Lists the system's ports and refreshes the list when tty devices come or go.
    explicit UartHVConnection(QObject *parent = nullptr);
    // Lists the ports that `ports` gives, on request only.
    explicit UartHVConnection(std::unique_ptr<PortEnumerator> ports, QObject *parent = nullptr);
    ~UartHVConnection() override;

    // False, after LinkError with the reason, when the port cannot be opened.
    bool OpenDevice(const QString &port, int baud);
    // For the workers of later opens too.
    void setWriteStallTimeout(int ms);

    // Records the traffic of the open port and of every port opened later into `file`, one interface
    // per port and line speed; null stops recording.
    void setCapture(std::shared_ptr<CaptureFile> file);

    // The worker of the most recently opened port, also after it has closed; null before.
    UartDev *device() const { return uartDev.get(); }
    // The ports of the last listing, with their USB details.
    const QList<PortInfo> &listedPorts() const { return listed; }

signals:
    void debugText(const QString &txt);
    // Right after a port's DeviceFound, when the port has USB details to show: maker, product, serial.
    void DeviceDetails(const QString &port, const QString &details);
    // A listing has ended (and the open port has been checked against it).
    void DevicesListed();

public slots:
    void DiscoverDevices() override;
    void CloseDevice() override;
    void TxData(const QByteArray &data) override;

private:
    bool portStillThere(const QList<PortInfo> &present) const;
    void retire(std::unique_ptr<UartDev> dev);
    void workerLost(UartDev *dev, const QString &reason);
    void attachCapture(UartDev *dev, int baud);

    std::unique_ptr<PortEnumerator> ports;
    PortMonitor *monitor = nullptr;
    std::unique_ptr<UartDev> uartDev;
    int writeStallMs;
    int openBaud = 0;
    std::shared_ptr<CaptureFile> capture;
    QHash<QString, int> captureInterfaces; // "port@baud" -> interface of the capture
    QList<PortInfo> listed;
};
