#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <cstdio>

class FlashJob;

// Shows the jobs' progress: on a terminal one line per port, redrawn in place and cut to the terminal's
// width; otherwise plain lines at each phase and every tenth of the image, for logs and CI; or one JSON
// object per line for scripts; or nothing but failures.
class ProgressView
{
public:
    enum class Style { Terminal, Plain, Json, Quiet };

    ProgressView(const QList<FlashJob *> &jobs, Style style, FILE *out, int columns = 80);

    void addJob(FlashJob *job);
    // The bench's next module on the same port takes the line of the one before.
    void replaceJob(const FlashJob *old, FlashJob *job);
    // A job changed; redraws at most ten times a second, except for a job's last word.
    void update(const FlashJob *job);
    // The closing redraw, after which failures are repeated on stderr in full, with what to check.
    void close();

    // "[#####.....]  45%  230400/512000 B  112.3 KiB/s  0:02 left" for one job's figures.
    static QString progressText(int bytes, int total, int elapsedMs);
    static QString statusText(const FlashJob *job);
    // What to check after a failure, or an empty string.
    static QString hint(const QString &reason);
    // The line cut to `columns` characters; a long port name loses its start, which by-id paths share.
    static QString fitLine(const QString &port, int portWidth, const QString &status, int columns);

private:
    void redraw();
    void printPlain(const FlashJob *job);
    void printJson(const FlashJob *job);

    QList<FlashJob *> jobs;
    Style style;
    FILE *out;
    int columns;
    int drawnLines = 0;
    int portWidth = 0;
    QElapsedTimer sinceDraw;
    QHash<const FlashJob *, QString> lastPlain;
};
