// A bench in miniature for the record tests: reserves COUNT addresses from the pool FIRST-LAST of DB, prints
// each as soon as its reservation is committed, and records it as assigned. Killed at any point, it leaves
// the database as a crashed bench would.
#include "recordstore.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: recordsworker DB FIRST LAST COUNT BENCH [DELAY_MS]\n");
        return 2;
    }
    RecordStore store;
    QString why;
    if (!store.open(args[1], &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const auto pool = store.pool(*mac48::parse(args[2]), *mac48::parse(args[3]), &why);
    if (!pool) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const int delay = args.size() > 6 ? args[6].toInt() : 0;
    for (int i = 0; i < args[4].toInt(); ++i) {
        const auto mac = store.reserve(*pool, args[5], QStringLiteral("/dev/sim%1").arg(i), &why);
        if (!mac) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        std::printf("%s\n", qPrintable(mac48::format(*mac)));
        std::fflush(stdout);
        if (delay) QThread::msleep(delay);
        BenchRecord record;
        record.time = QDateTime::currentDateTimeUtc();
        record.bench = args[5];
        record.port = QStringLiteral("/dev/sim%1").arg(i);
        record.ok = true;
        record.macAfter = mac48::format(*mac);
        record.assignedMac = mac;
        if (!store.commit(record, &why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
    }
    return 0;
}
