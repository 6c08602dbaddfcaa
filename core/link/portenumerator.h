#pragma once

#include <QList>
#include <QString>
#include <utility>

// A serial port that is present: the name shown to the user and the device path that opens it; for a
// USB adapter also its maker, product and serial number, where it reports them.
struct PortInfo {
    QString name;
    QString port;
    QString manufacturer{};
    QString product{};
    QString serial{};

    // The USB details in one line, empty when there are none.
    QString details() const;
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

// A list that the caller gives and may change, for programs and tests that must not see the machine's
// ports; while `available` is false the list cannot be had.
class FixedPortEnumerator : public PortEnumerator
{
public:
    explicit FixedPortEnumerator(QList<PortInfo> list = {}) : list(std::move(list)) {}
    bool presentPorts(QList<PortInfo> *ports) override
    {
        if (!available) return false;
        *ports = list;
        return true;
    }

    QList<PortInfo> list;
    bool available = true;
};
