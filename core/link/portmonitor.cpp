#include "portmonitor.h"

#include <QDebug>
#include <QSocketNotifier>
#include <libudev.h>

PortMonitor::PortMonitor(QObject *parent) : QObject(parent)
{
    context = udev_new();
    if (context)
        // "udev": after the rules ran, so a new device node is there when we look.
        monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        qDebug("udev monitor unavailable: ports are listed on request only");
        return;
    }
    notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PortMonitor::drain);
}

PortMonitor::~PortMonitor()
{
    delete notifier;
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
}

void PortMonitor::drain()
{
    // The socket is non-blocking: take everything queued, then report once.
    while (udev_device *device = udev_monitor_receive_device(monitor))
        udev_device_unref(device);
    emit devicesChanged();
}
