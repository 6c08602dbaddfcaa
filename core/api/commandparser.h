// velmo's model of the API definition file and the parser of its command line: a command typed by
// name with arguments, or a whole packet in hexadecimal, becomes the bytes of one packet.
#pragma once

#include "apiclass.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class CommandParser : public QObject
{
    Q_OBJECT
public:
    explicit CommandParser(QObject *parent = nullptr);

    // Adds the definition file's classes and constants to the model; 0 on success, -1 on failure
    // (reported through log_message, model unchanged).
    int load(const QString &path);

    // The start-up file: "wifi.xml" in the working directory when it opens there, otherwise the
    // SDK's definition file beside the program (<programDir>/../api/wifiapi.xml).
    int loadDefault(const QString &programDir);

    // One packet for the typed line, or empty; help and error texts are appended to msg.
    QByteArray parse(const QString &line, QString &msg) const;

    QString deviceName() const { return m_deviceName; }
    quint8 deviceId() const { return m_deviceId; }
    const QMap<QString, qint32> &constants() const { return m_constants; }
    const QList<ApiClass> &classes() const { return m_classes; }

signals:
    void log_message(QString msg);

private:
    QByteArray parseHex(const QString &line, QString &msg) const;

    QString m_deviceName;
    // Byte 0 of every command built here; a Wi-Fi command's until a file says otherwise.
    quint8 m_deviceId = 0x08;
    QMap<QString, qint32> m_constants;
    QList<ApiClass> m_classes;
};
