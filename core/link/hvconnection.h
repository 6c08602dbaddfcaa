#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Any link to a module as the rest of the program sees it: find devices, close, send bytes; devices
// found, bytes received.
class HVConnection : public QObject
{
    Q_OBJECT

public:
    explicit HVConnection(QObject *parent = nullptr);

signals:
    void ClearDevices();
    void DeviceFound(const QString &name, const QString &port);
    void DeviceDisconnect(const QString &name, const QString &port);
    // The open port was lost by itself; LinkError says why just before.
    void DeviceClosed();
    // A port that could not be opened, or was lost, in words for the user.
    void LinkError(const QString &message);
    void RxData(const QByteArray &data);

public slots:
    virtual void DiscoverDevices();
    virtual void CloseDevice();
    virtual void TxData(const QByteArray &data);
};
