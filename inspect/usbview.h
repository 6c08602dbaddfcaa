#pragma once

#include <QByteArray>
#include <QJsonObject>

// The USB descriptor block read back in the terms of the USB file: the device, its configurations
// with interfaces, class descriptors and endpoints, and the strings put back in place of their
// indexes. Numbers are hexadecimal text as the file writes them. What does not fit ends the reading
// with a "problem" entry.
QJsonObject decodeUsb(const QByteArray &block);
