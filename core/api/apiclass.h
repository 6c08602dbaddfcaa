// One class of the API definition file with its messages.
#pragma once

#include "apimessage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class ApiClass
{
public:
    // Encodes the first command named command_name (byte 0 left 0); empty when there is none or
    // it does not encode, with the texts appended to msg.
    QByteArray find_command(const QString &command_name, const QStringList &args, QString &msg) const;

    QString name;
    QList<ApiMessage> events;
    QList<ApiMessage> commands;
    QList<ApiMessage> responses; // one per command, same order
};
