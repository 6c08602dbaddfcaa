// The floor under any Qt console program: the process starts, QCoreApplication is made, and it ends.
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}
