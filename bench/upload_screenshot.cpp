// Picture of velmo's Firmware page in the middle of an upload: the window is attached to a simulated
// module that stops answering part-way, so the page holds still while Qt grabs the window into a PNG.
// Usage: upload_screenshot <out.png>   (run under a display, e.g. xvfb-run)
#include "mainwindow.h"
#include "simdevice.h"
#include "simline.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <zlib.h>

namespace
{

QByteArray makeImage()
{
    QByteArray image(512000, char(0xff));
    const int length = 380000;
    for (int i = 0; i < length; ++i)
        image[i] = char(i * 13 + (i >> 8));
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(image.constData()), length);
    const quint32 record[3] = {0, quint32(length), quint32(crc)};
    for (int w = 0; w < 3; ++w)
        for (int b = 0; b < 4; ++b)
            image[511984 + 4 * w + b] = char(record[w] >> (8 * b));
    return image;
}

// The window's widgets, with the QML view painted in: it lives in a window of its own that a widget
// grab does not see.
QImage grabAll(MainWindow &w)
{
    QImage shot = w.grab().toImage();
    QPainter painter(&shot);
    for (QWidget *child : w.findChildren<QWidget *>())
        if (qstrcmp(child->metaObject()->className(), "QWindowContainer") == 0)
            painter.drawImage(child->mapTo(&w, QPoint(0, 0)), w.qmlView()->grabWindow());
    return shot;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: upload_screenshot <out.png>\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir settingsDir; // the window writes its settings: not into the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    // The module takes 1700 chunks (about 42 %), then falls silent.
    SimOptions options;
    options.startInUpdateState = true;
    options.muteAfter = 1 + 1700;
    SimDevice device(options);
    SimLine line(&device, options);
    QString error;
    if (!line.openPty(&error)) {
        std::fprintf(stderr, "upload_screenshot: %s\n", error.toLocal8Bit().constData());
        return 1;
    }

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("wifi.dfu"));
    QFile f(imagePath);
    if (!f.open(QIODevice::WriteOnly) || f.write(makeImage()) != 512000) return 1;
    f.close();

    MainWindow w(std::make_unique<FixedPortEnumerator>(
        QList<PortInfo>{{QStringLiteral("Simulated NW300"), line.path()}}));
    w.show();
    w.open_port(QStringLiteral("Simulated NW300"), line.path(), 115200);

    // The Firmware tab, with the image in its path field.
    QQuickItem *root = w.qmlView()->rootObject();
    QQmlExpression showPage(
        qmlContext(root), root,
        QStringLiteral(
            "tabs.currentIndex = Array.prototype.indexOf.call(uploadPage.parent.children, uploadPage)"));
    showPage.evaluate();
    if (showPage.hasError()) std::fprintf(stderr, "%s\n", qPrintable(showPage.error().toString()));
    if (QObject *field = root->findChild<QObject *>(QStringLiteral("imagePath")))
        field->setProperty("text", imagePath);

    QTimer settle;
    settle.setSingleShot(true);
    settle.setInterval(700);
    QObject::connect(&w, &MainWindow::upload_progress, &settle, qOverload<>(&QTimer::start));
    QObject::connect(&settle, &QTimer::timeout, &app, [&] {
        const bool ok = grabAll(w).save(QString::fromLocal8Bit(argv[1]));
        app.exit(ok ? 0 : 1);
    });
    QTimer::singleShot(500, &w, [&] { w.uploadFile(imagePath); });
    return app.exec();
}
