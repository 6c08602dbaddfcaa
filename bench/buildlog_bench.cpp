// How the Project page keeps up with a builder's output: the shipped interface on the offscreen
// platform, a stand-in builder that prints N lines (one in 50 a fault, shown red) as fast as it can.
// Prints the time from the start of the build until its last line is on the page, the longest the
// event loop was held up meanwhile, and the lines the page shows.
//   bench_buildlog [lines]          (default 100000)
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("Halvane"));
    QCoreApplication::setApplicationName(QStringLiteral("velmo88"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());

    const QString builder = dir.filePath("builder");
    QFile script(builder);
    if (!script.open(QIODevice::WriteOnly)) return 1;
    script.write(QStringLiteral("#!/bin/sh\nawk 'BEGIN { for (i = 1; i <= %1; ++i) "
                                "if (i % 50 == 0) print \"line \" i \" error: cannot place block\"; "
                                "else print \"line \" i \" section 0x1000 size 512 ok\" }'\n")
                     .arg(lines)
                     .toUtf8());
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner);

    MainWindow window(std::make_unique<FixedPortEnumerator>());
    window.resize(1100, 704);
    window.show();
    window.setCurrentTab(5);
    HVProject &project = window.projectModel();
    project.setBuildExe(builder);
    QQuickItem *page = window.qmlView()->rootObject()->findChild<QQuickItem *>(QStringLiteral("projectPage"));
    if (!page) return 1;

    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = qMax(longest, now - last);
        last = now;
    });
    qint64 done = -1;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done < 0 && page->property("succeeded").toBool()) {
            done = clock.elapsed();
            QTimer::singleShot(50, &app, &QCoreApplication::quit);
        }
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    QTimer::singleShot(300, [&] {
        clock.start();
        tick.start();
        poll.start();
        project.build();
    });
    app.exec();
    const QVariant shown = page->property("shownLines");
    if (done < 0) std::printf("log ends: %s\n", qPrintable(project.buildOutput().right(200)));
    std::printf("%d lines: %s ms to show, longest stall %lld ms, page shows %s lines\n", lines,
                done < 0 ? "not done in 60000" : qPrintable(QString::number(done)), longest,
                shown.isValid() ? qPrintable(shown.toString()) : "?");
    return done < 0 ? 1 : 0;
}
