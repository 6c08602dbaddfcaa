#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <cstdio>

class FlashJob;

// Shows the jobs' progress: on a terminal one line per port, redrawn in place; otherwise plain lines
// at each phase and every tenth of the image, for logs and CI.
class ProgressView
{
public:
    ProgressView(const QList<FlashJob *> &jobs, bool terminal, FILE *out);

    // A job changed; redraws at most ten times a second, except for a job's last word.
    void update(const FlashJob *job);
    // The closing redraw, after which failures are repeated on stderr in full.
    void close();

    // "[#####.....]  45%  230400/512000 B  112.3 KiB/s  0:02 left" for one job's figures.
    static QString progressText(int bytes, int total, int elapsedMs);
    static QString statusText(const FlashJob *job);

private:
    void redraw();
    void printPlain(const FlashJob *job);

    QList<FlashJob *> jobs;
    bool terminal;
    FILE *out;
    bool drawn = false;
    int portWidth = 0;
    QElapsedTimer sinceDraw;
    QHash<const FlashJob *, QString> lastPlain;
};
