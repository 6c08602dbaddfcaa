#include "hvproject.h"
#include "projecttest.h"
#include "testmain.h"

#include <QDateTime>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

// The real builder and compiler of the SDK tree on a copy of the example project.
class TestProjectBuild : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString projectFile;

    static bool copyTree(const QString &from, const QString &to)
    {
        QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString dest = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
            if (!QDir().mkpath(QFileInfo(dest).path()) || !QFile::copy(path, dest)) return false;
        }
        return true;
    }

    bool build(HVProject &project)
    {
        project.setBuildExe(QStringLiteral(NW_SDK_DIR "/bin/kirrup"));
        project.build();
        return QTest::qWaitFor([&project] { return !project.building(); }, 60000);
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo(QStringLiteral(NW_SDK_DIR "/bin/kirrup")).isExecutable() ||
            !QFileInfo(QStringLiteral(NW_SDK_DIR "/bin/tollan")).isExecutable())
            QSKIP("the builder and the compiler are not part of this build");
        QVERIFY(copyTree(QStringLiteral(NW_SOURCE_DIR "/sdk/example"), tmp.path()));
        projectFile = tmp.filePath(QStringLiteral("project.xml"));
    }

    void buildsTheExample()
    {
        const QString image = tmp.filePath(QStringLiteral("wifi.dfu"));
        QFile::remove(image);
        HVProject project;
        project.open(projectFile);
        QVERIFY(project.valid());
        QCOMPARE(project.imageFile(), image);
        QCOMPARE(project.hardwareFile(), tmp.filePath(QStringLiteral("hardware.xml")));
        QCOMPARE(project.scriptFile(), tmp.filePath(QStringLiteral("example.script")));

        BoxAnswerer boxes;
        const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(build(project));
        QVERIFY2(project.buildOutput().endsWith(QStringLiteral("\nSuccess")),
                 qPrintable(project.buildOutput()));
        QVERIFY(project.buildOutput().contains(QStringLiteral("Memory used:\n")));
        QCOMPARE(boxes.seen, QStringList());
        const QFileInfo out(image);
        QCOMPARE(out.size(), 512000);
        QVERIFY(out.lastModified() >= started);
    }

    void missingHardwareFileShowsTheBuildersReason()
    {
        QFile f(projectFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray xml = f.readAll();
        f.close();
        QVERIFY(xml.contains("in=\"hardware.xml\""));
        xml.replace("in=\"hardware.xml\"", "in=\"missing.xml\"");
        const QString broken = tmp.filePath(QStringLiteral("broken.xml"));
        writeFile(broken, xml);

        HVProject project;
        project.open(broken);
        BoxAnswerer boxes;
        QVERIFY(build(project));
        QVERIFY2(project.buildOutput().contains(QStringLiteral("Unable to open:missing.xml")),
                 qPrintable(project.buildOutput()));
        QVERIFY(project.buildOutput().endsWith(QStringLiteral("\nFailed")));
        QCOMPARE(boxes.seen, QStringList(QStringLiteral("critical:Build failed\n")));
    }
};

NW_TEST(TestProjectBuild)
#include "tst_projectbuild.moc"
