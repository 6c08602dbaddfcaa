// Shows velmo talking to a module (the simulated one, on the pseudo-terminal given) and saves the window
// as a PNG picture: the Wi-Fi page after switching the radio on and scanning, the log pane below.
// Usage: velmo_screenshot <out.png> <port path>
#include "mainwindow.h"
#include "scratchsettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s out.png port\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    useScratchSettings(home.path());

    const QString port = QString::fromLocal8Bit(argv[2]);
    MainWindow window(std::make_unique<FixedPortEnumerator>(
        QList<PortInfo>{{QStringLiteral("NW300 module (simulated)"), port}}));
    window.show();
    window.open_port(QStringLiteral("NW300 module (simulated)"), port, 115200);
    if (!window.connection().device()) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }

    // The Wi-Fi page, as a user would pick it.
    QQuickItem *root = window.qmlView()->rootObject();
    for (QObject *o : root->findChildren<QObject *>()) {
        if (QByteArray(o->metaObject()->className()).contains("TabBar")) o->setProperty("currentIndex", 1);
    }

    cls_wifi &api = window.api();
    api.system.qml_cmd_hello();
    settle(200);
    api.config.qml_cmd_get_mac(0);
    settle(200);
    api.sme.qml_cmd_wifi_on();
    settle(300);
    api.sme.qml_cmd_start_scan(0, QString());
    settle(1500);

    // The QML view is a window of its own inside the widget window: grab both and lay one on the other.
    QImage picture = window.grab().toImage();
    const QImage qml = window.qmlView()->grabWindow();
    QPainter painter(&picture);
    painter.drawImage(window.qmlView()->mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0)), qml);
    painter.end();
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", argv[1]);
    return 0;
}
