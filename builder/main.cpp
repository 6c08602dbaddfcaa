#include "console.h"
#include "nwversion.h"
#include "projectbuilder.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace
{

const char help[] = "usage: kirrup input [sdk_root] [path_to_tollan]\n"
                    "Builds a project into the program flash image and the Intel HEX file it names\n"
                    "(wifi.dfu and wifi.hex unless its image element says otherwise).\n"
                    "  input           the project file\n"
                    "  sdk_root        the SDK root with fw/ and api/ (default: the program's folder/..)\n"
                    "  path_to_tollan  the script compiler (default: tollan in the program's folder)\n"
                    "  --help          print this text\n"
                    "  --version       print the version\n";

} // namespace

int main(int argc, char **argv)
{
    // Only alone, so that every other command line means what it always meant.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(help, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("kirrup " NW_VERSION_FULL);
        return 0;
    }
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
    return ProjectBuilder(console).buildProject(input, compiler, root);
}
