// Saves a picture of every page of velmo's interface at the window sizes given, to look at the layout.
// Usage: pages_screenshot <out dir> WxH [WxH ...]
#include "mainwindow.h"
#include "scratchsettings.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s outdir WxH [WxH ...]\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    useScratchSettings(home.path());
    const QDir out(QString::fromLocal8Bit(argv[1]));
    MainWindow window(std::make_unique<FixedPortEnumerator>(QList<PortInfo>{
        {QStringLiteral("USB serial (ttyUSB0)"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FTDI"),
         QStringLiteral("FT232R USB UART"), QStringLiteral("A10K3XYZ")}}));
    window.show();
    // Attached, with the longest texts the header shows.
    emit window.attached(true,
                         QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"),
                         QStringLiteral("1152000"));
    emit window.api().sme.qml_rsp_wifi_on(0x181);
    window.debugPrint(
        QStringLiteral("<font color=red>Could not open /dev/ttyUSB0: Permission denied</font>"));

    QQuickItem *tabs = window.qmlView()->rootObject()->findChild<QQuickItem *>(QStringLiteral("pageTabs"));
    for (int i = 2; i < argc; ++i) {
        const QStringList wh = QString::fromLatin1(argv[i]).split(QLatin1Char('x'));
        if (wh.size() != 2) return 2;
        window.resize(wh[0].toInt(), wh[1].toInt());
        for (int page = 0; page < 7; ++page) {
            if (tabs) tabs->setProperty("currentIndex", page);
            settle(300);
            QImage picture = window.grab().toImage();
            const QImage qml = window.qmlView()->grabWindow();
            QPainter painter(&picture);
            painter.drawImage(window.qmlView()->mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0)),
                              qml);
            painter.end();
            const QString name =
                out.filePath(QStringLiteral("%1-%2.png").arg(QString::fromLatin1(argv[i])).arg(page));
            picture.save(name, "PNG");
            std::printf("%s (%dx%d)\n", qPrintable(name), window.width(), window.height());
        }
    }
    return 0;
}
