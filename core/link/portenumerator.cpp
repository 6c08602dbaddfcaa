#include "portenumerator.h"

#include <QSerialPortInfo>

bool SystemPortEnumerator::presentPorts(QList<PortInfo> *ports)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString description = info.description();
        const QString name = description.isEmpty()
                                 ? info.portName()
                                 : description + QLatin1String(" (") + info.portName() + ')';
        ports->append({name, info.systemLocation()});
    }
    return true;
}
