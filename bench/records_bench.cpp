// Commit time per module record, as a bench pays it: reserve an address (its own committed transaction),
// then commit the record that settles it. On a SQLite file on this disk and on a PostgreSQL server on the
// loopback address (started here in a temporary folder, fsync on).
// Usage: bench_records [records per engine, default 300]
#include "pgserver.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

void run(const char *engine, const QString &target, int count)
{
    RecordStore store;
    QString why;
    if (!store.open(target, &why)) {
        std::printf("%s: %s\n", engine, qPrintable(why));
        return;
    }
    const auto pool = store.pool(0x024e57400000ULL, 0x024e5740ffffULL, &why);
    if (!pool) {
        std::printf("%s: %s\n", engine, qPrintable(why));
        return;
    }
    std::vector<double> reserveMs, commitMs;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer t;
        t.start();
        const auto mac = store.reserve(*pool, QStringLiteral("bench"), QStringLiteral("/dev/ttyUSB0"), &why);
        reserveMs.push_back(t.nsecsElapsed() / 1e6);
        BenchRecord r;
        r.time = QDateTime::currentDateTimeUtc();
        r.bench = QStringLiteral("bench");
        r.port = QStringLiteral("/dev/ttyUSB0");
        r.imageName = QStringLiteral("wifi.dfu");
        r.imageSize = 512000;
        r.ok = true;
        r.assignedMac = mac;
        r.macAfter = mac48::format(*mac);
        t.start();
        if (!store.commit(r, &why)) std::printf("%s: %s\n", engine, qPrintable(why));
        commitMs.push_back(t.nsecsElapsed() / 1e6);
    }
    for (auto *v : {&reserveMs, &commitMs})
        std::sort(v->begin(), v->end());
    auto at = [](const std::vector<double> &v, double q) { return v[size_t(q * (v.size() - 1))]; };
    std::printf("%-10s %4d records: reserve median %.2f ms p99 %.2f ms; commit median %.2f ms p99 %.2f ms; "
                "both %.2f ms per module\n",
                engine, count, at(reserveMs, 0.5), at(reserveMs, 0.99), at(commitMs, 0.5), at(commitMs, 0.99),
                at(reserveMs, 0.5) + at(commitMs, 0.5));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    QTemporaryDir dir;
    run("sqlite", dir.filePath(QStringLiteral("records.sqlite")), count);
    PgServer server(false);
    QString why;
    if (!server.start(&why)) {
        std::printf("postgresql: %s\n", qPrintable(why));
        return 1;
    }
    run("postgresql", server.url(), count);
    return 0;
}
