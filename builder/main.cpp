#include "console.h"
#include "projectbuilder.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Console console(Console::Process);
    if (argc < 2) {
        console.out(QStringLiteral("usage: ") + QString::fromLocal8Bit(argv[0]) +
                    QStringLiteral(" input [path_to_tollan]"));
        return 1;
    }
    // The SDK tree keeps the programs in bin/, the data beside it.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString root = argc > 2 ? QString::fromLocal8Bit(argv[2]) : programDir + QStringLiteral("/..");
    const QString compiler =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : programDir + QStringLiteral("/tollan");
    ProjectBuilder builder(console);
    return builder.buildProject(input, compiler, root);
}
