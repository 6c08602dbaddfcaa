#pragma once

#include <QObject>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Tells when tty devices come or go (a USB serial adapter plugged in or pulled out), from udev's
// notifications, in the thread of the object.
class PortMonitor : public QObject
{
    Q_OBJECT

public:
    explicit PortMonitor(QObject *parent = nullptr);
    ~PortMonitor() override;

    // False when udev could not be reached; no notification will come then.
    bool isActive() const { return notifier != nullptr; }

signals:
    // Once per burst of notifications that arrived together.
    void devicesChanged();

private:
    void drain();

    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
    QSocketNotifier *notifier = nullptr;
};
