#include "testmain.h"

#include <QApplication>
#include <QTest>
#include <memory>

int nwtest::runAll(int argc, char **argv)
{
    int failed = 0;
    for (const Factory &make : registry()) {
        std::unique_ptr<QObject> test(make());
        if (QTest::qExec(test.get(), argc, argv) != 0)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return nwtest::runAll(argc, argv);
}
