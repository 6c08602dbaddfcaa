#include "mainwindow.h"
#include "nwversion.h"
#include "quitsignals.h"
#include "startoptions.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Read before the application exists: --help and --version need no display.
    const StartOptions options = StartOptions::parse(arguments);
    switch (options.action) {
    case StartOptions::ShowHelp:
        std::fputs(qPrintable(StartOptions::helpText()), stdout);
        return 0;
    case StartOptions::ShowVersion:
        std::printf("velmo %s\n", NW_VERSION_FULL);
        return 0;
    case StartOptions::Fail:
        std::fprintf(stderr, "velmo: %s\nTry 'velmo --help'.\n", qPrintable(options.error));
        return 1;
    case StartOptions::Run:
        break;
    }

    // On a 4K screen the desktop's scale (Xft.dpi, QT_SCALE_FACTOR) sizes the window and its
    // interface alike, fractions included.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("halvane.com"));
    QCoreApplication::setApplicationName(QStringLiteral("velmo%1").arg(88));

    MainWindow window;
    // A logout, Ctrl+C or a closed terminal ends velmo as closing its window does, settings saved.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &window, [&window] {
        window.close();
        QCoreApplication::quit();
    });
    window.show();
    // Before the port opens, so its first packets are in the file.
    if (!options.capture.isEmpty() && !window.startCapture(options.capture)) {
        std::fprintf(stderr, "velmo: cannot capture to %s\n", qPrintable(options.capture));
        return 1;
    }
    if (!options.openCapture.isEmpty()) window.openCapture(options.openCapture);
    // As the interface would open it, so the interface shows the port attached (or why not).
    if (!options.port.isEmpty())
        window.open_port(options.port, options.port, options.baud);
    else
        window.openRememberedPort();
    app.exec();
    window.saveSettings();
    return 0;
}
