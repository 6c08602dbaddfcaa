#pragma once

#include <QList>
#include <QString>

// A serial port that is present: the name shown to the user and the device path that opens it.
struct PortInfo {
    QString name;
    QString port;
};

// Lists the serial ports present on the machine. An interface, so port discovery can run on a
// fixed list.
class PortEnumerator
{
public:
    virtual ~PortEnumerator() = default;
    // False when the list cannot be had at all.
    virtual bool presentPorts(QList<PortInfo> *ports) = 0;
};

// The ports that Qt's serial port module finds.
class SystemPortEnumerator : public PortEnumerator
{
public:
    bool presentPorts(QList<PortInfo> *ports) override;
};
