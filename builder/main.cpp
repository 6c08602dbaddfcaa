#include "console.h"
#include "projectbuilder.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

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
    const int status = ProjectBuilder(console).buildProject(input, compiler, root);
    // Both files are committed and every line is flushed. Tearing down Qt and its libraries would
    // only page in their clean-up code, about a millisecond of a build, so the process ends here.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
