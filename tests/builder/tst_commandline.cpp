#include "builderfixtures.h"
#include "nwversion.h"
#include "testmain.h"

#include <QProcess>
#include <QtTest>

using namespace fixtures;

// The program itself: --help and --version alone answer with status 0; every other command line
// keeps its meaning (the usage line without arguments, anything else is a project path).
class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        const QString kirrup = QStringLiteral(NW_SDK_DIR "/bin/kirrup");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("no arguments")
            << QStringList() << 1 << "usage: " + kirrup + " input [path_to_tollan]\n"
            << "";
        QTest::newRow("unknown option is a project path") << QStringList{"--bogus"} << 1 << ""
                                                          << "Unable to open:--bogus\n";
        QTest::newRow("help with more is a project path") << QStringList{"--help", "sdk"} << 1 << ""
                                                          << "Unable to open:--help\n";
    }

    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        ScratchDir dir;
        QProcess kirrup;
        kirrup.start(QStringLiteral(NW_SDK_DIR "/bin/kirrup"), arguments);
        QVERIFY(kirrup.waitForFinished(60000));
        QCOMPARE(kirrup.exitCode(), status);
        QCOMPARE(QString::fromLocal8Bit(kirrup.readAllStandardOutput()), out);
        QCOMPARE(QString::fromLocal8Bit(kirrup.readAllStandardError()), err);
        QCOMPARE(QDir().entryList(QDir::Files), QStringList());
    }

    void version()
    {
        // The commit part changes with every commit, and the test may be older than the program.
        QProcess kirrup;
        kirrup.start(QStringLiteral(NW_SDK_DIR "/bin/kirrup"), {"--version"});
        QVERIFY(kirrup.waitForFinished(60000));
        QCOMPARE(kirrup.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(kirrup.readAllStandardOutput());
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^kirrup %1(\\+git[0-9a-f]+)?\n$").arg(QRegularExpression::escape(NW_VERSION)))
                .match(out)
                .hasMatch(),
            qPrintable(out));
    }

    void helpListsEveryArgument()
    {
        QProcess kirrup;
        kirrup.start(QStringLiteral(NW_SDK_DIR "/bin/kirrup"), {"--help"});
        QVERIFY(kirrup.waitForFinished(60000));
        QCOMPARE(kirrup.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(kirrup.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.first(), QString("usage: kirrup input [sdk_root] [path_to_tollan]"));
        for (const char *argument : {"input", "sdk_root", "path_to_tollan", "--help", "--version"})
            QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^  %1 ").arg(argument))).size(), 1);
    }
};

NW_TEST(CommandLineTest)

#include "tst_commandline.moc"
