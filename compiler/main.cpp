#include "commandline.h"
#include "nwversion.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_FULL));
    return runTollan(app.arguments());
}
