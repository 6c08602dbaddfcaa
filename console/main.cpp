#include "cls_wifi.h"
#include "console.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nwctl"));
    wifi_register_metatypes();
    // The link's diagnostics are for developers (QT_LOGGING_RULES brings them back).
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    return Console::run(app.arguments().mid(1));
}
