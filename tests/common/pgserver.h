// A private PostgreSQL server for tests: made with initdb in a temporary folder, listening on the loopback
// address only, with password authentication, stopped when the object goes. The server refuses to run as
// root, so as root it runs as the "postgres" user of Debian's package.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <unistd.h>

class PgServer
{
public:
    static QString binDir() { return QStringLiteral("/usr/lib/postgresql/15/bin"); }

    // Tests run without fsync; a benchmark of commit times wants the server as it is deployed.
    explicit PgServer(bool fast = true) : m_port(40000 + int(getpid() % 20000)), m_fast(fast) {}
    ~PgServer() { stop(); }

    // Starts the server; false with the reason in `why` (initdb's or pg_ctl's output).
    bool start(QString *why)
    {
        if (!m_dir.isValid()) return fail(why, QStringLiteral("no temporary folder"));
        const QString pwfile = m_dir.path() + QStringLiteral("/pw");
        QFile pw(pwfile);
        if (!pw.open(QIODevice::WriteOnly) || pw.write(password().toUtf8() + '\n') < 0) return fail(why, pwfile);
        pw.close();
        if (geteuid() == 0 && !runAs(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("postgres"), m_dir.path()}, why, false))
            return false;
        if (!runAs(binDir() + QStringLiteral("/initdb"),
                   {QStringLiteral("-D"), data(), QStringLiteral("-U"), user(), QStringLiteral("--pwfile=") + pwfile,
                    QStringLiteral("-A"), QStringLiteral("scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                    QStringLiteral("--no-sync")},
                   why))
            return false;
        // A few ports in case another test run holds this one.
        for (int attempt = 0; attempt < 5; ++attempt, m_port += 7) {
            if (runAs(binDir() + QStringLiteral("/pg_ctl"),
                      {QStringLiteral("-D"), data(), QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                       QStringLiteral("-l"), m_dir.path() + QStringLiteral("/log"), QStringLiteral("-o"),
                       QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1%3")
                           .arg(m_port)
                           .arg(m_dir.path(), m_fast ? QStringLiteral(" -c fsync=off") : QString()),
                       QStringLiteral("start")},
                      why)) {
                m_running = true;
                return true;
            }
        }
        return false;
    }

    void stop()
    {
        if (!m_running) return;
        m_running = false;
        runAs(binDir() + QStringLiteral("/pg_ctl"),
              {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")},
              nullptr);
    }

    static QString user() { return QStringLiteral("nwtest"); }
    static QString password() { return QStringLiteral("bench-secret"); }
    int port() const { return m_port; }
    QString url(const QString &pass = password()) const
    {
        return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/postgres").arg(user(), pass).arg(m_port);
    }

private:
    QString data() const { return m_dir.path() + QStringLiteral("/data"); }

    static bool fail(QString *why, const QString &text)
    {
        if (why) *why = text;
        return false;
    }

    bool runAs(const QString &program, const QStringList &args, QString *why, bool asServerUser = true)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(QDir::tempPath());
        if (asServerUser && geteuid() == 0)
            p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                           QStringLiteral("--"), program} + args);
        else
            p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return fail(why, program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()) + p.errorString());
        return true;
    }

    QTemporaryDir m_dir;
    int m_port;
    bool m_fast;
    bool m_running = false;
};
