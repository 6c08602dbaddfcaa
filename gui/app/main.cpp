#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("halvane.com"));
    QCoreApplication::setApplicationName(QStringLiteral("velmo%1").arg(88));

    MainWindow window;
    window.show();
    app.exec();
    window.saveSettings();
    return 0;
}
