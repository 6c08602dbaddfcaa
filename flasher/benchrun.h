#pragma once

#include "flashjob.h"
#include "recordstore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <optional>

class ProgressView;

struct BenchSettings {
    FlashOptions options;
    RecordStore *store = nullptr; // records kept when set
    std::optional<MacPool> pool;  // addresses handed out when set (needs the store)
    QString bench;
    QString benchId;
    quint32 imageCrc = 0;
    bool repeat = false; // a production bench: module after module until interrupted
};

// The modules of one run: one job per port, or on a bench one job per module plugged into each port.
// Each finished module is recorded before the next one on its port starts.
class BenchRun : public QObject
{
    Q_OBJECT
public:
    BenchRun(const BenchSettings &settings, const QStringList &ports, ProgressView *view, QObject *parent = nullptr);
    ~BenchRun() override;

    void start();
    // Ends every job and closes its port; the ports whose module was left in the middle of its upload.
    QStringList stop();
    bool allOk() const { return failed == 0 && ok > 0; }
    QString summary() const;

    // The adapter's USB serial number for a port, from sysfs, or "".
    static QString usbSerial(const QString &port);
    // The record as an operator would enter it by hand.
    static QString recordText(const BenchRecord &record);

signals:
    void finished();
    // A record could not be committed: the bench stops, and the text holds the whole record.
    void recordLost(const QString &text);

private:
    struct Slot {
        QString port;
        FlashJob *job = nullptr;
        bool awaitingRemoval = false;
    };

    FlashJob *newJob(const QString &port);
    void jobDone(Slot *slot, bool jobOk);
    void poll();
    void checkImage();

    BenchSettings settings;
    ProgressView *view;
    QList<Slot *> slots_;
    QTimer pollTimer;
    QElapsedTimer sinceStart;
    QDateTime imageTime;
    bool imageChangeTold = false;
    bool stopped = false;
    int ok = 0;
    int failed = 0;
    QStringList failedPorts;
};
