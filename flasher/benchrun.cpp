#include "benchrun.h"

#include "progressview.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

BenchRun::BenchRun(const BenchSettings &settings, const QStringList &ports, ProgressView *view, QObject *parent)
    : QObject(parent), settings(settings), view(view)
{
    for (const QString &port : ports) {
        auto *slot = new Slot;
        slot->port = port;
        slot->job = newJob(port);
        view->addJob(slot->job);
        slots_ << slot;
    }
    // A bench notices modules coming and going by their device nodes (pseudo-terminals have no other sign).
    pollTimer.setInterval(200);
    connect(&pollTimer, &QTimer::timeout, this, &BenchRun::poll);
    imageTime = QFileInfo(settings.options.image).lastModified();
}

BenchRun::~BenchRun()
{
    stop();
    qDeleteAll(slots_);
}

FlashJob *BenchRun::newJob(const QString &port)
{
    auto *job = new FlashJob(port, settings.options, this);
    if (settings.store && settings.pool) {
        RecordStore *store = settings.store;
        const MacPool pool = *settings.pool;
        const QString bench =
            settings.benchId.isEmpty() ? settings.bench : settings.bench + QLatin1Char('/') + settings.benchId;
        job->macSource = [store, pool, bench, port](QString *why) { return store->reserve(pool, bench, port, why); };
    }
    connect(job, &FlashJob::changed, this, [this, job] { view->update(job); });
    return job;
}

void BenchRun::start()
{
    sinceStart.start();
    for (Slot *slot : slots_) {
        connect(slot->job, &FlashJob::done, this, [this, slot](bool jobOk) { jobDone(slot, jobOk); });
        if (!settings.repeat) slot->job->start();
        else view->update(slot->job);
    }
    if (settings.repeat) {
        pollTimer.start();
        poll();
    }
}

void BenchRun::poll()
{
    for (Slot *slot : slots_) {
        const bool present = QFileInfo::exists(slot->port);
        if (slot->awaitingRemoval) {
            if (present) continue;
            slot->awaitingRemoval = false;
            FlashJob *next = newJob(slot->port);
            connect(next, &FlashJob::done, this, [this, slot](bool jobOk) { jobDone(slot, jobOk); });
            view->replaceJob(slot->job, next);
            slot->job->deleteLater();
            slot->job = next;
            view->update(next);
        } else if (present && slot->job->phase() == FlashJob::Phase::Waiting) {
            checkImage();
            slot->job->start();
        }
    }
}

void BenchRun::checkImage()
{
    if (imageChangeTold || QFileInfo(settings.options.image).lastModified() == imageTime) return;
    imageChangeTold = true;
    std::fprintf(stderr, "nwflash: %s changed on disk; every module still gets the image read at start\n",
                 settings.options.image.toLocal8Bit().constData());
}

void BenchRun::jobDone(Slot *slot, bool jobOk)
{
    FlashJob *job = slot->job;
    if (jobOk) {
        ++ok;
    } else {
        ++failed;
        failedPorts << slot->port;
    }
    if (settings.store) {
        BenchRecord r;
        r.time = QDateTime::currentDateTimeUtc();
        r.bench = settings.bench;
        r.benchId = settings.benchId;
        r.port = slot->port;
        r.usbSerial = usbSerial(slot->port);
        r.imageName = QFileInfo(settings.options.image).fileName();
        r.imageSize = settings.options.imageData.size();
        r.imageCrc = settings.imageCrc;
        r.macBefore = job->macBefore();
        r.macAfter = job->macAfter();
        r.ok = jobOk;
        r.reason = job->reason();
        r.durationMs = job->durationMs();
        r.retries = job->retriesUsed();
        r.assignedMac = job->assignedMac();
        r.macMismatch = job->macMismatch();
        QString why;
        if (!settings.store->commit(r, &why)) {
            emit recordLost(QStringLiteral("nwflash: the record of %1 could not be committed: %2\n"
                                           "nwflash: the bench stops; enter this record by hand:\n%3")
                                .arg(slot->port, why, recordText(r)));
            return;
        }
    }
    if (settings.repeat) {
        slot->awaitingRemoval = true;
        return;
    }
    for (const Slot *s : slots_) {
        const FlashJob::Phase p = s->job->phase();
        if (p != FlashJob::Phase::Done && p != FlashJob::Phase::Failed) return;
    }
    emit finished();
}

QStringList BenchRun::stop()
{
    QStringList unfinished;
    if (stopped) return unfinished;
    stopped = true;
    pollTimer.stop();
    for (Slot *slot : slots_) {
        const FlashJob::Phase p = slot->job->phase();
        if (p == FlashJob::Phase::Uploading || p == FlashJob::Phase::Booting) unfinished << slot->port;
        // Each job closes its port as it goes.
        slot->job->disconnect(this);
        delete slot->job;
        slot->job = nullptr;
    }
    return unfinished;
}

QString BenchRun::summary() const
{
    if (!settings.repeat) {
        QString text = QStringLiteral("%1 of %2 modules flashed").arg(ok).arg(ok + failed);
        if (!failedPorts.isEmpty()) text += QStringLiteral("; failed: ") + failedPorts.join(QStringLiteral(", "));
        return text;
    }
    const double hours = sinceStart.isValid() ? sinceStart.elapsed() / 3600000.0 : 0;
    return QStringLiteral("%1 modules ok, %2 failed, %3 modules per hour")
        .arg(ok)
        .arg(failed)
        .arg(hours > 0 ? (ok + failed) / hours : 0.0, 0, 'f', 1);
}

QString BenchRun::usbSerial(const QString &port)
{
    const QString name = QFileInfo(QFileInfo(port).canonicalFilePath()).fileName();
    if (name.isEmpty()) return QString();
    // The tty's device, then up towards the USB device, which carries the serial number.
    QDir dir(QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(name)).canonicalFilePath());
    for (int level = 0; level < 6 && !dir.path().isEmpty() && dir.path() != QLatin1String("/"); ++level) {
        QFile serial(dir.filePath(QStringLiteral("serial")));
        if (serial.open(QIODevice::ReadOnly)) return QString::fromUtf8(serial.readAll()).trimmed();
        if (!dir.cdUp()) break;
    }
    return QString();
}

QString BenchRun::recordText(const BenchRecord &r)
{
    return QStringLiteral("  time %1\n  bench %2 %3\n  port %4 (USB serial %5)\n  image %6, %7 bytes, CRC-32 %8\n"
                          "  MAC before %9, after %10, assigned %11\n  result %12%13\n  duration %14 ms, retries %15\n")
        .arg(r.time.toString(Qt::ISODateWithMs), r.bench, r.benchId, r.port, r.usbSerial, r.imageName)
        .arg(r.imageSize)
        .arg(r.imageCrc, 8, 16, QLatin1Char('0'))
        .arg(r.macBefore, r.macAfter, r.assignedMac ? mac48::format(*r.assignedMac) : QStringLiteral("none"),
             r.ok ? QStringLiteral("ok") : QStringLiteral("failed"),
             r.reason.isEmpty() ? QString() : QStringLiteral(": ") + r.reason)
        .arg(r.durationMs)
        .arg(r.retries);
}
