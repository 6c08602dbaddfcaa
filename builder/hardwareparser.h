#pragma once

#include "baseparser.h"
#include "hardwareconfig.h"
#include "pinreservation.h"

#include <QString>

// The "hardware" section: peripheral settings become register values in the 130-byte HardwareConfig
// block, every peripheral's pins are reserved against the others, and a report is printed. The path
// of the USB descriptor file named here is kept for the driver.
class HardwareParser : public BaseParser
{
public:
    using BaseParser::BaseParser;

    bool parse(const QDomElement &node, QByteArray &out) override;

    const QString &usbDescriptorPath() const { return m_usbDescriptorPath; }
    const HardwareConfig &config() const { return m_config; }

private:
    bool parsePort(const QDomElement &e);
    bool parseUart(const QDomElement &e);
    bool parseSpi(const QDomElement &e);
    bool parseI2c(const QDomElement &e);
    bool parseTimer(const QDomElement &e);
    bool parseAdc(const QDomElement &e);
    bool parseUsb(const QDomElement &e);
    bool parseSleep(const QDomElement &e);
    bool parseNotify(const QDomElement &e);
    bool parseEthernet(const QDomElement &e);
    bool parseSdhc(const QDomElement &e);
    bool invalid(const char *message, const QString &value);
    void makeIdleHighOutput(int port, int bit);

    HardwareConfig m_config;
    PinTable m_pins;
    QString m_usbDescriptorPath;
};
