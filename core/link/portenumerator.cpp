#include "portenumerator.h"

#include <QSerialPortInfo>
#include <QStringList>

bool SystemPortEnumerator::presentPorts(QList<PortInfo> *ports)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString description = info.description();
        const QString name = description.isEmpty()
                                 ? info.portName()
                                 : description + QLatin1String(" (") + info.portName() + ')';
        ports->append(
            {name, info.systemLocation(), info.manufacturer(), info.description(), info.serialNumber()});
    }
    return true;
}

QString PortInfo::details() const
{
    QStringList parts;
    if (!manufacturer.isEmpty()) parts << manufacturer;
    if (!product.isEmpty() && product != manufacturer) parts << product;
    if (!serial.isEmpty()) parts << QStringLiteral("serial %1").arg(serial);
    return parts.join(QStringLiteral(", "));
}
