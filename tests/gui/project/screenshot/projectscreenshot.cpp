// Shows velmo's project page after building a project, and saves the window as a PNG picture.
// Usage: project_screenshot <out.png> <project.xml> <sdk bin dir>
#include "mainwindow.h"
#include "scratchsettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s out.png project.xml sdk-bin-dir\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    useScratchSettings(home.path());

    MainWindow window(std::make_unique<FixedPortEnumerator>());
    HVProject &project = window.projectModel();
    project.setBuildExe(QString::fromLocal8Bit(argv[3]) + QStringLiteral("/kirrup"));
    project.open(QString::fromLocal8Bit(argv[2]));
    window.show();

    // Show the tab named "Project".
    QQuickItem *root = window.qmlView()->rootObject();
    for (QObject *bar : root->findChildren<QObject *>()) {
        if (!QByteArray(bar->metaObject()->className()).contains("TabBar")) continue;
        for (int i = 0; i < bar->property("count").toInt(); ++i) {
            QQuickItem *tab = nullptr;
            QMetaObject::invokeMethod(bar, "itemAt", Q_RETURN_ARG(QQuickItem *, tab), Q_ARG(int, i));
            if (tab && tab->property("text").toString() == QLatin1String("Project"))
                bar->setProperty("currentIndex", i);
        }
    }

    // A failed build asks for a click on its message box; give it one, the log shows the failure.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) box->accept();
    });
    boxes.start(100);

    project.build();
    QElapsedTimer waited;
    waited.start();
    while (project.building() && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    settle(500);

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
    std::printf("%s\n%s\n", argv[1],
                project.buildOutput().endsWith(QStringLiteral("\nSuccess")) ? "Success" : "Failed");
    return 0;
}
