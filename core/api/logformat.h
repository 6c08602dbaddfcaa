#pragma once

#include "wifitypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Items of a log entry: one QStringList per command, response or event, head first. Shared by the
// generated handlers and command operations so every message is shown by the same rules.
namespace logformat
{

// The text of a result or reason code, empty when the code is unknown.
QString result_text(uint16 code);
// Fills the process-wide code table once; called when the first cls_wifi is created.
void init_result_texts();

// " name:<decimal in 8> (0x<hex>)"; `size` is the type's width in bytes.
QString integer(const char *name, qint64 value, int size);
// " result:0x<code> [<font color=green|red>'<text>'</font>]", for result and reason fields.
QString result(const char *name, uint16 code);

// Responses and events: the label and the value in one item.
QString address(const char *name, const hw_addr &mac);
QString address(const char *name, ipv4 ip);
QString array(const char *name, const QByteArray &bytes);

// Commands: the label, then one item per byte (or separator and octet for an address).
void command_bytes(QStringList &entry, const char *name, const uint8_t *bytes, int size);
void command_address(QStringList &entry, const char *name, const hw_addr &mac);
void command_address(QStringList &entry, const char *name, ipv4 ip);

// The QML form of addresses and arrays: lower-case hex, 2 digits a byte, no separators.
QString hex(const hw_addr &mac);
QString hex(const QByteArray &bytes);

// The refusal shown instead of a command that cannot be encoded.
QString refused(const char *full_name, const QString &why);

} // namespace logformat
