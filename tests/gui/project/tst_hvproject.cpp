#include "boxanswerer.h"
#include "hvproject.h"
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

void writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(data);
    f.close();
    if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
}

// Saves the way most editors do: a new file renamed over the old one.
void replaceByRename(const QString &path, const QByteArray &data)
{
    const QString tmp = path + QStringLiteral(".new");
    writeFile(tmp, data);
    QVERIFY(::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) == 0);
}

QByteArray projectWithHardware(const QByteArray &hw)
{
    return "<project><hardware in=\"" + hw + "\"/></project>";
}

bool waitFinished(HVProject &p)
{
    return QTest::qWaitFor([&p] { return !p.building(); }, 10000);
}

} // namespace

class TestHVProject : public QObject
{
    Q_OBJECT

private slots:
    void readsTheProject_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("hardware"); // relative to the project's directory unless absolute
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("box"); // text after the path's prefix, empty when none

        QTest::newRow("full") << QByteArray("<project><hardware in=\"hw/hardware.xml\"/>"
                                            "<scripting><Script in=\"no\"/><script in=\"a.script\"/>"
                                            "<script in=\"b.script\"/></scripting>"
                                            "<image out=\"out/img.dfu\" out_hex=\"x.hex\"/></project>")
                              << "hw/hardware.xml"
                              << "a.script"
                              << "out/img.dfu" << true << "";
        QTest::newRow("bare sections")
            << QByteArray("<project><hardware/><scripting><file in=\"x\"/></scripting></project>") << ""
            << ""
            << "wifi.dfu" << true << "";
        QTest::newRow("script without in, image without out")
            << QByteArray("<project><scripting><script/></scripting><image/></project>") << ""
            << ""
            << "wifi.dfu" << true << "";
        QTest::newRow("absolute paths kept")
            << QByteArray("<project><hardware in=\"/abs/hw.xml\"/><image out=\"/abs/out.dfu\"/></project>")
            << "/abs/hw.xml"
            << ""
            << "/abs/out.dfu" << true << "";
        QTest::newRow("first hardware only")
            << QByteArray("<project><hardware/><hardware in=\"second.xml\"/></project>") << ""
            << ""
            << "wifi.dfu" << true << "";
        QTest::newRow("root of another case")
            << QByteArray("<Project><hardware in=\"hw.xml\"/></Project>") << ""
            << ""
            << "" << false << "Not a project file:\n";
        QTest::newRow("not xml") << QByteArray("<project><hardware in=\"hw.xml\">") << ""
                                 << ""
                                 << "" << false << "Not a project file:\n";
        QTest::newRow("nested beyond any project") << "<project>" + QByteArray("<a>").repeated(100000) +
                                                          QByteArray("</a>").repeated(100000) + "</project>"
                                                   << ""
                                                   << ""
                                                   << "" << false << "Not a project file:\n";
        QTest::newRow("larger than any project")
            << "<project>" + QByteArray(5 * 1024 * 1024, ' ') + "</project>"
            << ""
            << ""
            << "" << false << "Not a project file:\n";
        QTest::newRow("missing file") << QByteArray() << ""
                                      << ""
                                      << "" << false << "Failed to open:\n";
    }

    void readsTheProject()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, hardware);
        QFETCH(QString, script);
        QFETCH(QString, image);
        QFETCH(bool, valid);
        QFETCH(QString, box);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("project.xml"));
        if (!xml.isEmpty()) writeFile(file, xml);
        auto resolved = [&dir](const QString &p) {
            return p.isEmpty() || p.startsWith(QLatin1Char('/')) ? p : dir.path() + QLatin1Char('/') + p;
        };

        HVProject project;
        BoxAnswerer boxes;
        QVERIFY(project.open(file));
        QCOMPARE(project.projectFile(), file);
        QCOMPARE(project.hardwareFile(), resolved(hardware));
        QCOMPARE(project.scriptFile(), resolved(script));
        if (valid) QCOMPARE(project.imageFile(), resolved(image));
        QCOMPARE(project.valid(), valid);
        QCOMPARE(boxes.seen,
                 box.isEmpty() ? QStringList() : QStringList(QStringLiteral("critical:") + box + file));
    }

    void openEmptyNameForgetsTheProject()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("project.xml"));
        writeFile(file,
                  "<project><hardware in=\"hw.xml\"/><scripting><script in=\"s\"/></scripting></project>");
        HVProject project;
        project.open(file);
        QVERIFY(project.valid());

        BoxAnswerer boxes;
        QSignalSpy hw(&project, &HVProject::hardwareFileChanged);
        QSignalSpy sc(&project, &HVProject::scriptFileChanged);
        QSignalSpy pf(&project, &HVProject::projectFileChanged);
        QVERIFY(project.open(QString()));
        QCOMPARE(project.projectFile(), QString());
        QCOMPARE(project.hardwareFile(), QString());
        QCOMPARE(project.scriptFile(), QString());
        QCOMPARE(hw.count() + sc.count() + pf.count(), 3);

        // No watch is left on the old file.
        writeFile(file, "broken");
        QTest::qWait(300);
        QCOMPARE(boxes.seen, QStringList());
        QCOMPARE(project.hardwareFile(), QString());
    }

    void rereadsWhenTheFileChanges()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("project.xml"));
        writeFile(file, projectWithHardware("one.xml"));
        HVProject project;
        BoxAnswerer boxes;
        project.open(file);
        auto hardwareBecomes = [&](const QString &name) {
            return QTest::qWaitFor([&] { return project.hardwareFile() == dir.filePath(name); }, 5000);
        };

        writeFile(file, projectWithHardware("two.xml"));
        QVERIFY(hardwareBecomes("two.xml"));
        replaceByRename(file, projectWithHardware("three.xml"));
        QVERIFY(hardwareBecomes("three.xml"));
        // The watch survives the rename: later saves are seen as well.
        replaceByRename(file, projectWithHardware("four.xml"));
        QVERIFY(hardwareBecomes("four.xml"));
        writeFile(file, projectWithHardware("five.xml"));
        QVERIFY(hardwareBecomes("five.xml"));
        QCOMPARE(boxes.seen, QStringList());

        // Every failing re-read says so.
        const QString notProject = QStringLiteral("critical:Not a project file:\n") + file;
        replaceByRename(file, "<nothing/>");
        QVERIFY(QTest::qWaitFor([&] { return boxes.seen.contains(notProject); }, 5000));
        QVERIFY(!project.valid());
        QCOMPARE(project.hardwareFile(), QString());
        boxes.seen.clear();
        replaceByRename(file, "still nothing");
        QVERIFY(QTest::qWaitFor([&] { return boxes.seen.contains(notProject); }, 5000));
        replaceByRename(file, projectWithHardware("six.xml"));
        QVERIFY(hardwareBecomes("six.xml"));
        QVERIFY(project.valid());
    }

    void buildExeMovesTheToolPaths()
    {
        HVProject project;
        QSignalSpy exe(&project, &HVProject::buildExeChanged);
        QSignalSpy root(&project, &HVProject::buildRootChanged);
        QSignalSpy script(&project, &HVProject::scriptExeChanged);

        project.setBuildExe(QStringLiteral("/opt/nw/bin/kirrup"));
        QCOMPARE(project.buildRoot(), QStringLiteral("/opt/nw/bin/.."));
        QCOMPARE(project.scriptExe(), QStringLiteral("/opt/nw/bin/tollan"));
        QCOMPARE(exe.count() + root.count() + script.count(), 3);

        // The same path again leaves a hand-set compiler alone.
        project.setScriptExe(QStringLiteral("/elsewhere/tollan"));
        project.setBuildExe(QStringLiteral("/opt/nw/bin/kirrup"));
        QCOMPARE(project.scriptExe(), QStringLiteral("/elsewhere/tollan"));
        QCOMPARE(exe.count() + root.count() + script.count(), 4);
    }

    void settingsRoundTrip()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("p.xml"));
        writeFile(file, projectWithHardware("hw.xml"));
        const QString ini = dir.filePath(QStringLiteral("velmo.ini"));
        {
            QSettings store(ini, QSettings::IniFormat);
            store.setValue("buildRoot", "/stored/root");
            store.setValue("buildExe", "/tools/bin/kirrup");
            store.setValue("scriptExe", "/compilers/tollan");
            store.setValue("projectFile", file);
        }

        HVProject project;
        QSettings in(ini, QSettings::IniFormat);
        project.loadSettings(&in);
        // The stored builder differs from the default, so its directory decides the SDK root;
        // the stored compiler is read after it and wins.
        QCOMPARE(project.buildExe(), QStringLiteral("/tools/bin/kirrup"));
        QCOMPARE(project.buildRoot(), QStringLiteral("/tools/bin/.."));
        QCOMPARE(project.scriptExe(), QStringLiteral("/compilers/tollan"));
        QCOMPARE(project.projectFile(), file);
        QVERIFY(project.valid());
        QCOMPARE(project.hardwareFile(), dir.filePath(QStringLiteral("hw.xml")));

        const QString ini2 = dir.filePath(QStringLiteral("saved.ini"));
        {
            QSettings out(ini2, QSettings::IniFormat);
            project.saveSettings(&out);
        }
        QSettings saved(ini2, QSettings::IniFormat);
        QCOMPARE(saved.allKeys().size(), 4);
        QCOMPARE(saved.value("buildRoot").toString(), QStringLiteral("/tools/bin/.."));
        QCOMPARE(saved.value("buildExe").toString(), QStringLiteral("/tools/bin/kirrup"));
        QCOMPARE(saved.value("scriptExe").toString(), QStringLiteral("/compilers/tollan"));
        QCOMPARE(saved.value("projectFile").toString(), file);

        // An empty store keeps the defaults and opens nothing.
        HVProject fresh;
        const QString defaultExe = fresh.buildExe();
        QSettings empty(dir.filePath(QStringLiteral("empty.ini")), QSettings::IniFormat);
        fresh.loadSettings(&empty);
        fresh.loadSettings(nullptr);
        QCOMPARE(fresh.buildExe(), defaultExe);
        QCOMPARE(fresh.projectFile(), QString());
    }

    // A stand-in builder (a shell script) shows what the model hands it and how its end is told.
    void buildLog_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("log"); // %1 project file, %2 its directory, %3 SDK root, %4 compiler
        QTest::addColumn<QStringList>("boxes");

        const QStringList failed{QStringLiteral("critical:Build failed\n")};
        QTest::newRow("arguments and directory")
            << QByteArray("echo \"$1|$2|$3|$#\"; pwd") << "%1|%3|%4|3\n%2\n\nSuccess" << QStringList();
        QTest::newRow("errors in arrival order")
            << QByteArray("echo one; echo two >&2; sleep 0.1; echo three; echo four >&2; exit 1")
            << "one\ntwo\nthree\nfour\n\nFailed" << failed;
        QTest::newRow("flash full") << QByteArray("echo 'Error, not enough flash.'; exit 255")
                                    << "Error, not enough flash.\n\nFailed" << failed;
        QTest::newRow("crash") << QByteArray("printf partial; kill -SEGV $$") << "partial\nFailed" << failed;
        QTest::newRow("utf-8 split across writes")
            << QByteArray("printf '\\303'; sleep 0.1; printf '\\244\\n'") << QString::fromUtf8("ä\n\nSuccess")
            << QStringList();
    }

    void buildLog()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, log);
        QFETCH(QStringList, boxes);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("p.xml"));
        writeFile(file, projectWithHardware("hw.xml"));
        const QString exe = dir.filePath(QStringLiteral("bin/kirrup"));
        QDir(dir.path()).mkdir(QStringLiteral("bin"));
        writeFile(exe, "#!/bin/sh\n" + body + "\n", true);

        HVProject project;
        project.open(file);
        project.setBuildExe(exe);
        BoxAnswerer answerer;
        QSignalSpy changed(&project, &HVProject::buildOutputChanged);
        QVERIFY(project.build());
        QVERIFY(waitFinished(project));
        log.replace(QLatin1String("%1"), file).replace(QLatin1String("%2"), dir.path());
        log.replace(QLatin1String("%3"), project.buildRoot())
            .replace(QLatin1String("%4"), project.scriptExe());
        QCOMPARE(project.buildOutput(), log);
        QVERIFY(QTest::qWaitFor([&] { return answerer.seen.size() >= boxes.size(); }, 2000));
        QCOMPARE(answerer.seen, boxes);
        QVERIFY(changed.count() >= 3); // cleared, output, end line
    }

    void builderThatCannotStart()
    {
        QTemporaryDir dir;
        HVProject project;
        project.setBuildExe(dir.filePath(QStringLiteral("missing/kirrup")));
        BoxAnswerer boxes;
        project.build();
        QVERIFY(QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }, 5000));
        QVERIFY2(boxes.seen.first().startsWith(QStringLiteral("critical:Build failed\n")),
                 qPrintable(boxes.seen.first()));
        QVERIFY(boxes.seen.first().contains(project.buildExe()));
        QVERIFY(project.buildOutput().startsWith(QStringLiteral("Cannot start ") + project.buildExe()));
        QVERIFY(project.buildOutput().endsWith(QStringLiteral("\nFailed")));
    }

    void secondBuildWhileRunningIsRefused()
    {
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("kirrup"));
        const QString runs = dir.filePath(QStringLiteral("runs"));
        writeFile(exe, "#!/bin/sh\necho run >> '" + runs.toUtf8() + "'\necho started\nsleep 0.5\necho done\n",
                  true);
        HVProject project;
        project.setBuildExe(exe);
        project.build();
        QVERIFY(QTest::qWaitFor([&] { return project.buildOutput().contains("started"); }, 5000));
        project.build();
        QVERIFY(project.buildOutput().contains(QStringLiteral("A build is already running.")));
        QVERIFY(waitFinished(project));
        QVERIFY(project.buildOutput().endsWith(QStringLiteral("done\n\nSuccess")));
        QFile f(runs);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("run\n"));
    }
};

NW_TEST(TestHVProject)
#include "tst_hvproject.moc"
