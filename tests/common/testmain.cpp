#include "testmain.h"

#include <QApplication>
#include <QMetaMethod>
#include <QTest>
#include <memory>

namespace
{

// Whether the class has a test function of this name ("name" or "name:row").
bool hasFunction(const QObject *test, const QByteArray &arg)
{
    const QByteArray name = arg.left(arg.indexOf(':') < 0 ? arg.size() : arg.indexOf(':'));
    const QMetaObject *meta = test->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).name() == name) return true;
    return false;
}

} // namespace

int nwtest::runAll(int argc, char **argv)
{
    // Test functions named on the command line run in the classes that have them; QtTest would end the
    // whole program at the first class that lacks one.
    static const QList<QByteArray> withValue = {"-o", "-maxwarnings", "-eventdelay", "-keydelay", "-mousedelay",
                                                "-platform", "-seed", "-callgrind"};
    QList<int> functionArgs;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            if (withValue.contains(QByteArray(argv[i]))) ++i;
            continue;
        }
        functionArgs << i;
    }
    int failed = 0;
    for (const Factory &make : registry()) {
        std::unique_ptr<QObject> test(make());
        std::vector<char *> args;
        for (int i = 0; i < argc; ++i)
            if (!functionArgs.contains(i) || hasFunction(test.get(), argv[i])) args.push_back(argv[i]);
        if (!functionArgs.isEmpty() && int(args.size()) == argc - functionArgs.size()) continue;
        if (QTest::qExec(test.get(), int(args.size()), args.data()) != 0) ++failed;
    }
    return failed == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return nwtest::runAll(argc, argv);
}
