#include "progressview.h"

#include "flashjob.h"

ProgressView::ProgressView(const QList<FlashJob *> &jobs, bool terminal, FILE *out)
    : jobs(jobs), terminal(terminal), out(out)
{
    for (const FlashJob *job : jobs)
        portWidth = qMax(portWidth, int(job->port.size()));
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
    case FlashJob::Phase::Opening:
        return QStringLiteral("opening");
    case FlashJob::Phase::EnteringDfu:
        return QStringLiteral("resetting into the update state");
    case FlashJob::Phase::Uploading:
        return progressText(job->bytes(), job->total(), job->elapsedMs());
    case FlashJob::Phase::Booting:
        return QStringLiteral("sent, waiting for the module to start");
    case FlashJob::Phase::Done: {
        const double seconds = job->elapsedMs() / 1000.0;
        return QStringLiteral("booted: %1 bytes in %2 s (%3 KiB/s)%4")
            .arg(job->total())
            .arg(seconds, 0, 'f', 1)
            .arg(seconds > 0 ? job->total() / seconds / 1024 : 0.0, 0, 'f', 1)
            .arg(job->erasesKeys() ? QStringLiteral(", key store erased, MAC kept") : QString());
    }
    case FlashJob::Phase::Failed:
        return QStringLiteral("FAILED: ") + job->reason();
    }
    return QString();
}

void ProgressView::update(const FlashJob *job)
{
    if (!terminal) {
        printPlain(job);
        return;
    }
    const bool last = job->phase() == FlashJob::Phase::Done || job->phase() == FlashJob::Phase::Failed;
    if (!last && drawn && sinceDraw.isValid() && sinceDraw.elapsed() < 100) return;
    redraw();
}

void ProgressView::redraw()
{
    // Back to the first of our lines, then each line rewritten and cleared to its end.
    if (drawn) std::fprintf(out, "\x1b[%dA", int(jobs.size()));
    for (const FlashJob *job : jobs) {
        const QString line = job->port.leftJustified(portWidth) + QStringLiteral("  ") + statusText(job);
        std::fprintf(out, "\r%s\x1b[K\n", line.toLocal8Bit().constData());
    }
    std::fflush(out);
    drawn = true;
    sinceDraw.start();
}

void ProgressView::printPlain(const FlashJob *job)
{
    // Failures are told once, in full, on stderr by close().
    if (job->phase() == FlashJob::Phase::Failed) return;
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
    if (terminal) redraw();
    for (const FlashJob *job : jobs)
        if (job->phase() == FlashJob::Phase::Failed)
            std::fprintf(stderr, "nwflash: %s: %s\n", job->port.toLocal8Bit().constData(),
                         job->reason().toLocal8Bit().constData());
}
