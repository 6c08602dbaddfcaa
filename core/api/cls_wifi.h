#pragma once

#include "wifi_classes.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

// Registers the integer type names of the signal signatures ("uint8" ... "int32") as aliases of the plain
// integer types, so queued connections and signal spies can carry them.
void wifi_register_metatypes();

// The API root: owns the 13 per-class objects, turns encoded commands into packets (tx_data) and cuts the
// received byte stream into packets that it dispatches to their handlers.
class cls_wifi : public QObject
{
    Q_OBJECT
public:
    explicit cls_wifi(QObject *parent = nullptr);

    // Joins an encoded command's fixed part and array bytes into one packet and emits tx_data.
    virtual void transmit(uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
                          const uint8_t *array);
    // send_message's callback for the per-class objects.
    static void transmit_to(void *wifi, uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
                            const uint8_t *array);

    // Whether anybody receives log entries; handlers skip building entries nobody reads.
    bool logging() const;

    // The per-class object of a class id (0 to 12), or null.
    QObject *class_object(int class_id);

    cls_wifi_dfu dfu;
    cls_wifi_system system;
    cls_wifi_config config;
    cls_wifi_sme sme;
    cls_wifi_tcpip tcpip;
    cls_wifi_endpoint endpoint;
    cls_wifi_hardware hardware;
    cls_wifi_flash flash;
    cls_wifi_i2c i2c;
    cls_wifi_https https;
    cls_wifi_ethernet ethernet;
    cls_wifi_sdhc sdhc;
    cls_wifi_util util;

signals:
    void parsed_message_str(QStringList str);
    void parsed_message_data(QByteArray data);
    void tx_data(QByteArray data);

public slots:
    void rx_data(QByteArray data);

private:
    // Bytes received and not yet consumed; rx_pos is where the unconsumed bytes start.
    QByteArray rx_buffer;
    int rx_pos = 0;
    int rx_depth = 0;
};
