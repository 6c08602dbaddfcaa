#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <vector>

// The USB device description read from a descriptor file, and its serialisation into the standard
// descriptor byte stream the firmware hands to the host.

class descriptor
{
public:
    virtual ~descriptor() = default;
    // Appends the descriptor's bytes; false when a length does not fit its length byte.
    virtual bool serialize(QByteArray &out) const = 0;
};

// A class-specific descriptor: its type byte and body.
class usb_descriptor : public descriptor
{
public:
    bool serialize(QByteArray &out) const override;

    quint8 Type = 0;
    QByteArray data;
};

class usb_endpoint : public descriptor
{
public:
    bool serialize(QByteArray &out) const override;

    quint8 bEndpointAddress = 0;
    quint8 bmAttributes = 0;
    quint16 wMaxPacketSize = 0;
    quint8 bInterval = 0;
};

class usb_interface : public descriptor
{
public:
    // The interface descriptor followed by its class-specific and endpoint descriptors.
    bool serialize(QByteArray &out) const override;

    quint8 bInterfaceNumber = 0;
    quint8 bAlternateSetting = 0;
    quint8 bInterfaceClass = 0;
    quint8 bInterfaceSubClass = 0;
    quint8 bInterfaceProtocol = 0;
    quint8 iInterface = 0;
    std::vector<std::unique_ptr<usb_descriptor>> descriptors;
    std::vector<std::unique_ptr<usb_endpoint>> endpoints;
};

struct usb_configuration {
    quint8 bConfigurationValue = 0;
    quint8 iConfiguration = 0;
    quint8 bmAttributes = 0;
    quint8 bMaxPower = 0;
    std::vector<std::unique_ptr<usb_interface>> interfaces;
};

struct usb_device {
    quint16 bcdUSB = 0;
    quint8 bDeviceClass = 0;
    quint8 bDeviceSubClass = 0;
    quint8 bDeviceProtocol = 0;
    quint8 bMaxPacketSize = 0;
    quint16 idVendor = 0;
    quint16 idProduct = 0;
    quint16 bcdDevice = 0;
    quint8 iManufacturer = 0;
    quint8 iProduct = 0;
    quint8 iSerialNumber = 0;
    std::vector<usb_configuration> configurations;

    // Device, configurations, string descriptor 0, the strings (from index 1) and the closing 0.
    // False when a count, a string index or a length does not fit its byte; error names what did not fit.
    bool serialize(const QStringList &strings, QByteArray &out, QString &error) const;
};
