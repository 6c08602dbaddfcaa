#include "hvconnection.h"

#include <QDebug>

HVConnection::HVConnection(QObject *parent) : QObject(parent) {}

void HVConnection::DiscoverDevices() {}

void HVConnection::CloseDevice() {}

void HVConnection::TxData(const QByteArray &data)
{
    qDebug().noquote() << "HVConnection::TxData"
                       << "not handled:" << QString::fromLatin1(data.toHex());
}
