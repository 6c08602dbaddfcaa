// One command, response or event of the API definition file.
#pragma once

#include "apiparam.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class ApiMessage
{
public:
    // Help signature: the full name in bold, then each parameter as bold name and type name.
    QString signature_text() const;

    // Header and payload of this command for the typed arguments; byte 0 is left 0 for the caller
    // to fill in. Appends the help line, then the reason of a failure, to msg; empty on failure.
    QByteArray encode_command(QStringList args, QString &msg) const;

    qint32 script = 0;
    qint32 index = 0;
    qint32 class_id = 0;
    QString name;
    QString full_name;
    QList<ApiParam> params;
};
