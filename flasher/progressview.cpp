#include "progressview.h"

#include "flashjob.h"
#include "recordstore.h"

#include <QJsonDocument>
#include <QJsonObject>

ProgressView::ProgressView(const QList<FlashJob *> &jobs, Style style, FILE *out, int columns)
    : style(style), out(out), columns(qMax(columns, 20))
{
    for (FlashJob *job : jobs)
        addJob(job);
}

void ProgressView::replaceJob(const FlashJob *old, FlashJob *job)
{
    const int at = jobs.indexOf(const_cast<FlashJob *>(old));
    if (at >= 0) jobs[at] = job;
    lastPlain.remove(old);
}

void ProgressView::addJob(FlashJob *job)
{
    jobs << job;
    // The port column takes at most a third of the line, so the status stays readable.
    portWidth = qMin(qMax(portWidth, int(job->port.size())), columns / 3);
}

QString ProgressView::fitLine(const QString &port, int portWidth, const QString &status, int columns)
{
    QString name = port;
    // Plain dots: the terminal's character set is not known.
    if (name.size() > portWidth) name = QStringLiteral("...") + name.right(portWidth - 3);
    QString line = name.leftJustified(portWidth) + QStringLiteral("  ") + status;
    // One column short of the width: a line that fills the last column wraps on some terminals.
    if (line.size() > columns - 1) line = line.left(columns - 1);
    return line;
}

QString ProgressView::hint(const QString &reason)
{
    if (reason.contains(QLatin1String("no response from the module")))
        return QStringLiteral("check the wiring, the baud rate (-b), the module's power, and give -d when the "
                              "module runs its application rather than its update state");
    // The reason already says what to do in the module's terms; this says how nwflash does it.
    if (reason.contains(QLatin1String("refused the flash address")) && reason.contains(QLatin1String("0x0181")))
        return QStringLiteral("nwflash -d resets the module into its update state before the upload");
    return QString();
}

QString ProgressView::progressText(int bytes, int total, int elapsedMs)
{
    constexpr int barWidth = 24;
    const int filled = total > 0 ? int(qint64(bytes) * barWidth / total) : 0;
    const int percent = total > 0 ? int(qint64(bytes) * 100 / total) : 0;
    QString text = QStringLiteral("[%1%2] %3%  %4/%5 B")
                       .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
                       .arg(percent, 3)
                       .arg(bytes)
                       .arg(total);
    if (elapsedMs > 0 && bytes > 0) {
        const double bytesPerSecond = bytes * 1000.0 / elapsedMs;
        const int left = int((total - bytes) / bytesPerSecond + 0.5);
        text += QStringLiteral("  %1 KiB/s  %2:%3 left")
                    .arg(bytesPerSecond / 1024, 0, 'f', 1)
                    .arg(left / 60)
                    .arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

QString ProgressView::statusText(const FlashJob *job)
{
    switch (job->phase()) {
    case FlashJob::Phase::Waiting:
        return QStringLiteral("waiting for a module");
    case FlashJob::Phase::Opening:
        return QStringLiteral("opening");
    case FlashJob::Phase::EnteringDfu:
        return QStringLiteral("resetting into the update state");
    case FlashJob::Phase::Uploading:
        return progressText(job->bytes(), job->total(), job->elapsedMs());
    case FlashJob::Phase::Booting:
        return QStringLiteral("sent, waiting for the module to start");
    case FlashJob::Phase::Assigning:
        return QStringLiteral("booted, setting its MAC address");
    case FlashJob::Phase::Done: {
        const double seconds = job->elapsedMs() / 1000.0;
        return QStringLiteral("booted: %1 bytes in %2 s (%3 KiB/s)%4%5")
            .arg(job->total())
            .arg(seconds, 0, 'f', 1)
            .arg(seconds > 0 ? job->total() / seconds / 1024 : 0.0, 0, 'f', 1)
            .arg(job->erasesKeys() ? QStringLiteral(", key store erased, MAC kept") : QString())
            .arg(job->assignedMac() ? QStringLiteral(", MAC ") + mac48::format(*job->assignedMac()) : QString());
    }
    case FlashJob::Phase::Failed:
        return QStringLiteral("FAILED: ") + job->reason();
    }
    return QString();
}

void ProgressView::update(const FlashJob *job)
{
    switch (style) {
    case Style::Quiet:
        return;
    case Style::Plain:
        printPlain(job);
        return;
    case Style::Json:
        printJson(job);
        return;
    case Style::Terminal:
        break;
    }
    const bool last = job->phase() == FlashJob::Phase::Done || job->phase() == FlashJob::Phase::Failed;
    if (!last && drawnLines > 0 && sinceDraw.isValid() && sinceDraw.elapsed() < 100) return;
    redraw();
}

void ProgressView::redraw()
{
    // Back to the first of our lines, then each line rewritten and cleared to its end. Lines never wrap,
    // so going up by the number of lines drawn lands on the first.
    if (drawnLines > 0) std::fprintf(out, "\x1b[%dA", drawnLines);
    for (const FlashJob *job : jobs) {
        const QString line = fitLine(job->port, portWidth, statusText(job), columns);
        std::fprintf(out, "\r%s\x1b[K\n", line.toLocal8Bit().constData());
    }
    std::fflush(out);
    drawnLines = jobs.size();
    sinceDraw.start();
}

void ProgressView::printJson(const FlashJob *job)
{
    static const char *const names[] = {"waiting", "opening", "entering-dfu", "uploading", "booting", "assigning", "done",
                                        "failed"};
    const bool uploading = job->phase() == FlashJob::Phase::Uploading;
    const int tenth = uploading && job->total() > 0 ? int(qint64(job->bytes()) * 10 / job->total()) : 0;
    const QString key = QString::number(int(job->phase()) * 100 + tenth);
    if (lastPlain.value(job) == key) return;
    lastPlain.insert(job, key);
    QJsonObject o{{QStringLiteral("port"), job->port},
                  {QStringLiteral("phase"), QLatin1String(names[int(job->phase())])}};
    if (uploading || job->total() > 0) {
        o.insert(QStringLiteral("bytes"), job->bytes());
        o.insert(QStringLiteral("total"), job->total());
    }
    if (job->phase() == FlashJob::Phase::Done || job->phase() == FlashJob::Phase::Failed) {
        o.insert(QStringLiteral("ok"), job->phase() == FlashJob::Phase::Done);
        if (!job->reason().isEmpty()) o.insert(QStringLiteral("reason"), job->reason());
        const QString h = hint(job->reason());
        if (!h.isEmpty()) o.insert(QStringLiteral("hint"), h);
        if (!job->macBefore().isEmpty()) o.insert(QStringLiteral("mac_before"), job->macBefore());
        if (!job->macAfter().isEmpty()) o.insert(QStringLiteral("mac_after"), job->macAfter());
        if (job->assignedMac()) o.insert(QStringLiteral("mac_assigned"), mac48::format(*job->assignedMac()));
        o.insert(QStringLiteral("retries"), job->retriesUsed());
        o.insert(QStringLiteral("duration_ms"), double(job->durationMs()));
    }
    std::fprintf(out, "%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(out);
}

void ProgressView::printPlain(const FlashJob *job)
{
    if (job->phase() == FlashJob::Phase::Failed) {
        std::fprintf(out, "%s: FAILED: %s\n", job->port.toLocal8Bit().constData(),
                     job->reason().toLocal8Bit().constData());
        std::fflush(out);
        return;
    }
    const bool uploading = job->phase() == FlashJob::Phase::Uploading;
    if (uploading && job->total() == 0) return; // size not known yet
    // Every tenth of the image, so a log holds a dozen lines per port, not thousands; the text is made
    // only when the line is printed, as this runs for every chunk.
    const int tenth = uploading ? int(qint64(job->bytes()) * 10 / job->total()) : 0;
    const QString key = uploading ? QString::number(tenth) : QString::number(int(job->phase()) + 100);
    if (lastPlain.value(job) == key) return;
    lastPlain.insert(job, key);
    const QString text =
        !uploading ? statusText(job)
        : tenth == 0
            ? QStringLiteral("uploading %1 bytes").arg(job->total())
            : QStringLiteral("%1% (%2/%3 bytes)").arg(tenth * 10).arg(job->bytes()).arg(job->total());
    std::fprintf(out, "%s: %s\n", job->port.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(out);
}

void ProgressView::close()
{
    if (style == Style::Terminal) redraw();
    for (const FlashJob *job : jobs) {
        if (job->phase() != FlashJob::Phase::Failed) continue;
        std::fprintf(stderr, "nwflash: %s: %s\n", job->port.toLocal8Bit().constData(),
                     job->reason().toLocal8Bit().constData());
        const QString h = hint(job->reason());
        if (!h.isEmpty())
            std::fprintf(stderr, "nwflash: %s: hint: %s\n", job->port.toLocal8Bit().constData(),
                         h.toLocal8Bit().constData());
    }
}
