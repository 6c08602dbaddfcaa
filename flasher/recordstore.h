// A production bench's records and MAC address pool, kept in a real database: a SQLite file on one bench,
// or a PostgreSQL server that several benches share. Every address handed out is first reserved in its own
// committed transaction, so no address is ever given twice, even when a bench is killed at any point; what a
// dead bench reserved stays out of use until an operator releases it.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTextStream>
#include <optional>

namespace mac48
{
// "02:00:00:00:00:01" (any case, colons or dashes between pairs, or twelve plain digits); empty when the
// text is not a 48-bit address.
std::optional<quint64> parse(const QString &text);
QString format(quint64 mac);
} // namespace mac48

// One module's pass through the bench.
struct BenchRecord {
    QDateTime time;
    QString bench;   // host name
    QString benchId; // the operator's name for the bench, may be empty
    QString port;
    QString usbSerial; // of the adapter, where known
    QString imageName;
    qint64 imageSize = 0;
    quint32 imageCrc = 0;
    QString macBefore;
    QString macAfter;
    bool ok = false;
    QString reason; // why it failed
    qint64 durationMs = 0;
    int retries = 0;
    // The pool address this module was given, if any; its reservation is settled with the record.
    std::optional<quint64> assignedMac;
    // The module reported another address after it was set: the pool address is never used again.
    bool macMismatch = false;
};

struct MacPool {
    qint64 id = 0;
    quint64 first = 0;
    quint64 last = 0;
};

struct MacReservation {
    quint64 mac = 0;
    QString state; // reserved, assigned, refused, mismatch, released
    QString bench;
    QString port;
    QDateTime time;
};

class RecordStore
{
public:
    static constexpr int schemaVersion = 1;
    // How long a SQLite file locked by another process is waited for.
    static constexpr int busyTimeoutMs = 5000;

    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    // The default file when no database is named: records.sqlite in the XDG data folder's nw300/.
    static QString defaultLocation();
    // Whether `target` names a PostgreSQL server (postgresql:// or postgres://).
    static bool isServerUrl(const QString &target);

    // Opens (and on first use creates) the database; false with the reason.
    bool open(const QString &target, QString *why);
    bool isOpen() const;
    QString target() const { return m_target; }

    // The pool FIRST-LAST, registered on first use. A pool that overlaps another one of the database without
    // being the same range is refused, so two benches never draw the same addresses from different pools.
    std::optional<MacPool> pool(quint64 first, quint64 last, QString *why);
    // The next free address of the pool, reserved for `bench` on `port` and committed before it is returned.
    // Empty with the reason when the pool is exhausted or the database fails.
    std::optional<quint64> reserve(const MacPool &pool, const QString &bench, const QString &port,
                                   QString *why);
    // Makes a reservation usable again (an operator's decision, after a bench died).
    bool release(quint64 mac, QString *why);

    // Writes the record and settles its address in one transaction.
    bool commit(const BenchRecord &record, QString *why);

    QList<BenchRecord> records(QString *why = nullptr) const;
    QList<MacReservation> reservations(const QString &state = QString(), QString *why = nullptr) const;
    // The records as CSV (RFC 4180 quoting), header first.
    bool exportCsv(QTextStream &out, QString *why) const;

private:
    bool createSchema(QString *why);
    bool begin(QString *why);
    bool finish(bool commit, QString *why);

    QString m_connection;
    QString m_target;
    bool m_server = false;
};
