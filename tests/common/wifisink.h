#pragma once

#include <QObject>

class cls_wifi;

// Receives every signal of the API objects, so benchmarks and fuzz targets run the paths that only
// connected signals take (QML conversions, log entries).
class WifiSink : public QObject
{
    Q_OBJECT
public:
    explicit WifiSink(cls_wifi &wifi);

    long hits = 0;

public slots:
    void hit() { ++hits; }
};
