#pragma once

#include <QByteArray>
#include <QJsonObject>

// The hardware block read back into the terms of the project's hardware file: the peripherals that
// are switched on with their settings (a UART's baud rate is the standard rate that yields the stored
// divider, when one does), and every port's direction, latch and open-drain words.
QJsonObject decodeHardware(const QByteArray &block);
