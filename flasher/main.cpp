#include "firmwareupload.h"
#include "flashjob.h"
#include "linkdiagnostics.h"
#include "nwversion.h"
#include "progressview.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cstdio>
#include <unistd.h>

namespace
{

int usageError(const QString &message)
{
    std::fprintf(stderr, "nwflash: %s\nTry 'nwflash --help'.\n", message.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nwflash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_FULL));
    wifi_register_metatypes();
    // The link's traces are for developers (QT_LOGGING_RULES brings them back); its errors go to
    // stderr with the port's name, never between the progress lines on stdout.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    linkdiagnostics::setHandler(&linkdiagnostics::printOnStderr);

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Loads a firmware image (wifi.dfu) into NW300 modules over their serial ports, several at once.\n"
        "Exit status: 0 when every module started the new firmware, 1 when any failed, 2 for a usage "
        "error."));
    cli.addHelpOption();
    cli.addVersionOption();
    const QCommandLineOption baud({QStringLiteral("b"), QStringLiteral("baud")},
                                  QStringLiteral("Line speed (default 115200)."), QStringLiteral("rate"),
                                  QStringLiteral("115200"));
    const QCommandLineOption window(
        {QStringLiteral("w"), QStringLiteral("window")},
        QStringLiteral("Chunks in flight: 4 with hardware flow control (default), "
                       "1 without."),
        QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption enterDfu({QStringLiteral("d"), QStringLiteral("enter-dfu")},
                                      QStringLiteral("Reset the module into its update state first."));
    const QCommandLineOption eraseKeys(
        {QStringLiteral("e"), QStringLiteral("erase-keys")},
        QStringLiteral("Erase the module's key store after the upload, keeping "
                       "its MAC address."));
    const QCommandLineOption timeout(
        {QStringLiteral("t"), QStringLiteral("timeout")},
        QStringLiteral("Seconds to wait for any answer of the module (default 10)."),
        QStringLiteral("seconds"), QStringLiteral("10"));
    cli.addOptions({baud, window, enterDfu, eraseKeys, timeout});
    cli.addPositionalArgument(QStringLiteral("image"), QStringLiteral("The image file, e.g. wifi.dfu."));
    cli.addPositionalArgument(QStringLiteral("port"), QStringLiteral("Serial ports, e.g. /dev/ttyUSB0."),
                              QStringLiteral("port..."));
    cli.process(app);

    FlashOptions options;
    bool ok = false;
    options.baud = cli.value(baud).toInt(&ok);
    if (!ok || options.baud <= 0) return usageError(QStringLiteral("not a line speed: ") + cli.value(baud));
    const QString w = cli.value(window);
    if (w != QLatin1String("1") && w != QLatin1String("4"))
        return usageError(QStringLiteral("the window is 1 or 4, not ") + w);
    options.flowcontrol = w == QLatin1String("4");
    const double seconds = cli.value(timeout).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600)
        return usageError(QStringLiteral("not a time-out in seconds: ") + cli.value(timeout));
    options.timeoutMs = int(seconds * 1000);
    options.enterDfu = cli.isSet(enterDfu);
    options.eraseKeys = cli.isSet(eraseKeys);

    const QStringList args = cli.positionalArguments();
    if (args.size() < 2) return usageError(QStringLiteral("an image and at least one port are needed"));
    options.image = args[0];
    QStringList ports = args.mid(1);
    // Two names of one device are found by their real paths; missing ports have none, and are each
    // reported by their own job.
    for (int i = 0; i < ports.size(); ++i)
        for (int j = 0; j < i; ++j) {
            const QString a = QFileInfo(ports[i]).canonicalFilePath();
            const QString b = QFileInfo(ports[j]).canonicalFilePath();
            if (ports[i] == ports[j] || (!a.isEmpty() && a == b))
                return usageError(QStringLiteral("port given twice: ") + ports[i]);
        }

    // A bad image is refused before any port is touched.
    QString why;
    if (!FirmwareUpload::validateDfuFile(options.image, &why)) {
        std::fprintf(stderr, "nwflash: not a valid image: %s\n", why.toLocal8Bit().constData());
        return 1;
    }

    QList<FlashJob *> jobs;
    for (const QString &port : ports)
        jobs << new FlashJob(port, options, &app);
    ProgressView view(jobs, isatty(STDOUT_FILENO), stdout);
    int running = jobs.size();
    bool allBooted = true;
    for (FlashJob *job : jobs) {
        QObject::connect(job, &FlashJob::changed, [&view, job] { view.update(job); });
        QObject::connect(job, &FlashJob::done, [&](bool booted) {
            allBooted = allBooted && booted;
            if (--running == 0) app.quit();
        });
    }
    // Started from the event loop, so a job that fails at once still finds it running.
    for (FlashJob *job : jobs)
        QMetaObject::invokeMethod(job, &FlashJob::start, Qt::QueuedConnection);
    app.exec();
    view.close();
    return allBooted ? 0 : 1;
}
