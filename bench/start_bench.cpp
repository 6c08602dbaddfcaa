// velmo's start as its main runs it (the same window, the system's ports, the settings store under
// XDG_CONFIG_HOME), reporting on stdout the wall-clock time in nanoseconds of the first frame of the
// interface and of the remembered port being open, then ending. tools/measure-velmo-start.sh takes
// the time before the program starts and runs it several times.
#include "mainwindow.h"

#include <QApplication>
#include <QQuickView>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace
{

long long nowNs()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvane"));
    QCoreApplication::setApplicationName(QStringLiteral("velmo%1").arg(88));

    MainWindow window;
    long long frame = 0, port = 0;
    const auto finish = [&] {
        if (frame && port) QTimer::singleShot(0, &app, &QCoreApplication::quit);
    };
    QObject::connect(window.qmlView(), &QQuickWindow::frameSwapped, &app, [&] {
        if (frame) return;
        frame = nowNs();
        finish();
    });
    QObject::connect(&window, &MainWindow::attached, &app, [&](bool open) {
        if (!open || port) return;
        port = nowNs();
        finish();
    });
    window.show();
    window.openRememberedPort();
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("frame %lld\nport %lld\n", frame, port);
    return frame && port ? 0 : 1;
}
