#include "hvproject.h"
#include "projecttest.h"
#include "testmain.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// Saves the way most editors do: a new file renamed over the old one.
void replaceByRename(const QString &path, const QByteArray &data)
{
    writeFile(path + ".new", data);
    QVERIFY(::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()) == 0);
}

QByteArray withHardware(const QByteArray &hw)
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
        QTest::addColumn<QString>(
            "paths"); // hardware|script|image, relative ones below the project's directory
        QTest::addColumn<QString>(
            "box"); // the failure box's text before the path; empty when the read succeeds
        auto row = [](const char *name, const QByteArray &xml, const char *paths, const char *box = "") {
            QTest::newRow(name) << xml << QString(paths) << QString(box);
        };
        row("full",
            "<project><hardware in=\"hw/hardware.xml\"/><scripting><Script in=\"no\"/><script "
            "in=\"a.script\"/>"
            "<script in=\"b.script\"/></scripting><image out=\"out/img.dfu\" out_hex=\"x.hex\"/></project>",
            "hw/hardware.xml|a.script|out/img.dfu");
        row("bare sections", "<project><hardware/><scripting><file in=\"x\"/></scripting></project>",
            "||wifi.dfu");
        row("script without in, image without out",
            "<project><scripting><script/></scripting><image/></project>", "||wifi.dfu");
        row("absolute paths kept",
            "<project><hardware in=\"/abs/hw.xml\"/><image out=\"/abs/o.dfu\"/></project>",
            "/abs/hw.xml||/abs/o.dfu");
        row("first hardware only", "<project><hardware/><hardware in=\"second.xml\"/></project>",
            "||wifi.dfu");
        const char *notProject = "Not a project file:\n";
        row("root of another case", "<Project><hardware in=\"hw.xml\"/></Project>", "||", notProject);
        row("not xml", "<project><hardware in=\"hw.xml\">", "||", notProject);
        row("nested beyond any project",
            "<project>" + QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000) +
                "</project>",
            "||", notProject);
        // The nesting limit, 256 elements deep with the root, exactly.
        const auto nested = [](int depth) {
            return "<project><hardware in=\"hw.xml\"/>" + QByteArray("<a>").repeated(depth - 1) +
                   QByteArray("</a>").repeated(depth - 1) + "</project>";
        };
        row("as deep as a project may be", nested(256), "hw.xml||wifi.dfu");
        row("one level deeper", nested(257), "||", notProject);
        // The size limit, 4 MiB, exactly: a file of that size is read, one byte more is not.
        const int limit = 4 * 1024 * 1024;
        const QByteArray open("<project>"), close("</project>");
        const QByteArray atLimit = open + QByteArray(limit - open.size() - close.size(), ' ') + close;
        row("as large as a project may be", atLimit, "||wifi.dfu");
        row("one byte larger", atLimit + '\n', "||", notProject);
        row("missing file", QByteArray(), "||", "Failed to open:\n");
    }

    void readsTheProject()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, paths);
        QFETCH(QString, box);
        QTemporaryDir dir;
        const QString file = dir.filePath("project.xml");
        if (!xml.isEmpty()) writeFile(file, xml);

        HVProject project;
        BoxAnswerer boxes;
        QVERIFY(project.open(file));
        QStringList expected = paths.split('|');
        for (QString &p : expected)
            if (!p.isEmpty() && !p.startsWith('/')) p = dir.filePath(p);
        QCOMPARE((QStringList{project.hardwareFile(), project.scriptFile(), project.imageFile()}), expected);
        QCOMPARE(project.projectFile(), file);
        QCOMPARE(project.valid(), box.isEmpty());
        QCOMPARE(boxes.seen, box.isEmpty() ? QStringList() : QStringList("critical:" + box + file));
    }

    void openEmptyNameForgetsTheProject()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("project.xml");
        writeFile(file,
                  "<project><hardware in=\"hw.xml\"/><scripting><script in=\"s\"/></scripting></project>");
        HVProject project;
        project.open(file);
        QVERIFY(project.valid());

        BoxAnswerer boxes;
        QVERIFY(project.open(QString()));
        QCOMPARE(project.projectFile() + project.hardwareFile() + project.scriptFile(), QString());
        writeFile(file, "broken"); // no watch is left on the old file
        QTest::qWait(300);
        QCOMPARE(boxes.seen, QStringList());
    }

    void rereadsWhenTheFileChanges()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("project.xml");
        writeFile(file, withHardware("one.xml"));
        HVProject project;
        BoxAnswerer boxes;
        project.open(file);
        auto hardwareBecomes = [&](const QString &name) {
            return QTest::qWaitFor([&] { return project.hardwareFile() == dir.filePath(name); }, 5000);
        };

        writeFile(file, withHardware("two.xml"));
        QVERIFY(hardwareBecomes("two.xml"));
        // The watch survives a save by rename: later saves are seen as well, in place (which only a watch
        // on the file itself sees) or by rename again.
        replaceByRename(file, withHardware("three.xml"));
        QVERIFY(hardwareBecomes("three.xml"));
        writeFile(file, withHardware("four.xml"));
        QVERIFY(hardwareBecomes("four.xml"));
        replaceByRename(file, withHardware("five.xml"));
        QVERIFY(hardwareBecomes("five.xml"));
        replaceByRename(file, withHardware("five-b.xml"));
        QVERIFY(hardwareBecomes("five-b.xml"));
        writeFile(file, withHardware("five.xml"));
        QVERIFY(hardwareBecomes("five.xml"));
        // A save written in pieces is read once it is whole, without a complaint about the half.
        QFile slow(file);
        QVERIFY(slow.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray whole = withHardware("slow.xml");
        slow.write(whole.left(10));
        slow.flush();
        QTest::qWait(20);
        slow.write(whole.mid(10));
        slow.close();
        QVERIFY(hardwareBecomes("slow.xml"));
        QCOMPARE(boxes.seen, QStringList());

        // Every failing re-read says so, once the project shows as invalid.
        QList<bool> validAtBox;
        boxes.atBox = [&] { validAtBox << project.valid(); };
        const QString notProject = "critical:Not a project file:\n" + file;
        for (const QByteArray &bad : {QByteArray("<nothing/>"), QByteArray("still nothing")}) {
            boxes.seen.clear();
            replaceByRename(file, bad);
            QVERIFY(QTest::qWaitFor([&] { return boxes.seen.contains(notProject); }, 5000));
            QVERIFY(!project.valid());
            QCOMPARE(project.hardwareFile(), QString());
        }
        QCOMPARE(validAtBox, (QList<bool>{false, false}));
        replaceByRename(file, withHardware("six.xml"));
        QVERIFY(hardwareBecomes("six.xml"));
        QVERIFY(project.valid());
        // A project file that is gone: said the same way.
        validAtBox.clear();
        QFile::remove(file);
        project.fileChanged(file);
        QCOMPARE(boxes.seen.last(), "critical:Failed to open:\n" + file);
        QCOMPARE(validAtBox, QList<bool>{false});
        // Its folder is watched until it is back, through other changes in the folder meanwhile.
        QTest::qWait(300);
        writeFile(dir.filePath("unrelated.txt"), "x");
        QTest::qWait(300);
        writeFile(file, withHardware("seven.xml"));
        QVERIFY(hardwareBecomes("seven.xml"));
    }

    // Asked for directly, the re-read happens before the call returns; only the watcher's notices wait.
    void directRereadIsImmediate()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("project.xml");
        writeFile(file, withHardware("one.xml"));
        HVProject project;
        BoxAnswerer boxes;
        project.open(file);
        writeFile(file, withHardware("two.xml"));
        project.fileChanged(file);
        QCOMPARE(project.hardwareFile(), dir.filePath("two.xml"));
        QTest::qWait(400);
        QCOMPARE(project.hardwareFile(), dir.filePath("two.xml"));
        QCOMPARE(boxes.seen, QStringList());
    }

    // Each change signal comes once per change, after the property has its new value, so a binding
    // that reads it on the signal sees the new one.
    void propertiesChangeBeforeTheyNotify()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath("good.xml"), bad = dir.filePath("bad.xml");
        writeFile(
            good,
            "<project><hardware in=\"hw.xml\"/><scripting><script in=\"s.txt\"/></scripting></project>");
        writeFile(bad, "not xml");
        HVProject project;
        BoxAnswerer boxes;
        QStringList seen;
        connect(&project, &HVProject::validChanged,
                [&] { seen << QString("valid=%1").arg(project.valid()); });
        connect(&project, &HVProject::hardwareFileChanged,
                [&] { seen << "hardware=" + QFileInfo(project.hardwareFile()).fileName(); });
        connect(&project, &HVProject::scriptFileChanged,
                [&] { seen << "script=" + QFileInfo(project.scriptFile()).fileName(); });
        // The new project's name comes once the old project's files are gone.
        connect(&project, &HVProject::projectFileChanged, [&] {
            seen << "project=" + QFileInfo(project.projectFile()).fileName() + project.hardwareFile() +
                        project.scriptFile();
        });
        project.open(good);
        project.fileChanged(good); // read again, nothing new: cleared and set, valid stays
        project.open(bad);
        project.open(bad);
        QCOMPARE(seen, (QStringList{"project=good.xml", "hardware=hw.xml", "script=s.txt", "valid=1",
                                    "script=", "hardware=", "hardware=hw.xml", "script=s.txt",
                                    "hardware=", "script=", "project=bad.xml", "valid=0"}));
    }

    // Closing velmo during a build ends the builder at once: it writes nothing into the project later.
    void destroyingStopsTheBuilder()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath("late");
        writeFile(dir.filePath("kirrup"),
                  "#!/bin/sh\necho started\nsleep 1.5\necho late > '" + marker.toUtf8() + "'\n", true);
        auto project = std::make_unique<HVProject>();
        project->setBuildExe(dir.filePath("kirrup"));
        project->build();
        QVERIFY(QTest::qWaitFor([&] { return project->buildOutput().contains("started"); }, 5000));
        project.reset();
        QTest::qWait(3000);
        QVERIFY(!QFileInfo::exists(marker));
    }

    void buildExeMovesTheToolPaths()
    {
        HVProject project;
        QSignalSpy exe(&project, &HVProject::buildExeChanged);
        QSignalSpy root(&project, &HVProject::buildRootChanged);
        QSignalSpy script(&project, &HVProject::scriptExeChanged);
        project.setBuildExe("/opt/nw/bin/kirrup");
        QCOMPARE(project.buildRoot(), QStringLiteral("/opt/nw/bin/.."));
        QCOMPARE(project.scriptExe(), QStringLiteral("/opt/nw/bin/tollan"));
        QCOMPARE(exe.count() + root.count() + script.count(), 3);

        // The same path again leaves a hand-set compiler alone.
        project.setScriptExe("/elsewhere/tollan");
        project.setBuildExe("/opt/nw/bin/kirrup");
        QCOMPARE(project.scriptExe(), QStringLiteral("/elsewhere/tollan"));
        QCOMPARE(exe.count() + root.count() + script.count(), 4);
    }

    void settingsRoundTrip()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("p.xml");
        writeFile(file, withHardware("hw.xml"));
        QSettings store(dir.filePath("velmo.ini"), QSettings::IniFormat);
        store.setValue("buildRoot", "/stored/root");
        store.setValue("buildExe", "/tools/bin/kirrup");
        store.setValue("scriptExe", "/compilers/tollan");
        store.setValue("projectFile", file);

        HVProject project;
        project.loadSettings(&store);
        // The stored builder differs from the default, so it moves the SDK root; the stored
        // compiler comes after it and wins.
        QCOMPARE(project.buildRoot(), QStringLiteral("/tools/bin/.."));
        QCOMPARE(project.scriptExe(), QStringLiteral("/compilers/tollan"));
        QCOMPARE(project.hardwareFile(), dir.filePath("hw.xml"));

        // Without a store nothing is read or written.
        project.loadSettings(nullptr);
        project.saveSettings(nullptr);
        QCOMPARE(project.buildRoot(), QStringLiteral("/tools/bin/.."));

        QSettings out(dir.filePath("saved.ini"), QSettings::IniFormat);
        project.saveSettings(&out);
        const QStringList keys{"buildExe", "buildRoot", "projectFile", "scriptExe"};
        QCOMPARE(out.allKeys(), keys);
        QStringList values;
        for (const QString &key : keys)
            values << out.value(key).toString();
        QCOMPARE(values, (QStringList{"/tools/bin/kirrup", "/tools/bin/..", file, "/compilers/tollan"}));
    }

    // A stand-in builder (a shell script) shows what the model hands it and how its end is told.
    void buildLog_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("log"); // %1 project file, %2 its directory, %3 SDK root, %4 compiler
        QTest::addColumn<bool>("fails");
        QTest::newRow("arguments and directory")
            << QByteArray("echo \"$1|$2|$3|$#\"; pwd") << "%1|%3|%4|3\n%2\n\nSuccess" << false;
        QTest::newRow("errors in arrival order")
            << QByteArray("echo one; echo two >&2; sleep 0.1; echo three; echo four >&2; exit 1")
            << "one\ntwo\nthree\nfour\n\nFailed" << true;
        QTest::newRow("flash full, status -1") << QByteArray("echo 'Error, not enough flash.'; exit 255")
                                               << "Error, not enough flash.\n\nFailed" << true;
        QTest::newRow("crash") << QByteArray("printf partial; kill -SEGV $$") << "partial\nFailed" << true;
        QTest::newRow("utf-8 split across writes")
            << QByteArray("printf '\\303'; sleep 0.1; printf '\\244\\n'") << QString::fromUtf8("ä\n\nSuccess")
            << false;
    }

    void buildLog()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, log);
        QFETCH(bool, fails);
        QTemporaryDir dir;
        const QString file = dir.filePath("p.xml");
        writeFile(file, withHardware("hw.xml"));
        writeFile(dir.filePath("bin/kirrup"), "#!/bin/sh\n" + body + "\n", true);

        HVProject project;
        project.open(file);
        project.setBuildExe(dir.filePath("bin/kirrup"));
        BoxAnswerer boxes;
        // The box comes once the log is complete.
        boxes.atBox = [&] { QVERIFY(project.buildOutput().endsWith("\nFailed")); };
        log.replace("%1", file).replace("%2", dir.path());
        log.replace("%3", project.buildRoot()).replace("%4", project.scriptExe());
        // Twice: the second build's log holds that build only.
        for (int run = 1; run <= 2; ++run) {
            QSignalSpy building(&project, &HVProject::buildingChanged);
            // What is bound to the log sees it emptied as the build starts.
            QStringList seen;
            const auto watch = connect(&project, &HVProject::buildOutputChanged, this,
                                       [&] { seen << project.buildOutput(); });
            QVERIFY(project.build());
            QCOMPARE(seen.value(0, "(no change)"), QString());
            disconnect(watch);
            QVERIFY(waitFinished(project));
            QCOMPARE(project.buildOutput(), log);
            QVERIFY(building.count() >= 2);
        }
        const QStringList box("critical:Build failed\n");
        QCOMPARE(boxes.seen, fails ? box + box : QStringList());
    }

    void builderThatCannotStart()
    {
        QTemporaryDir dir;
        HVProject project;
        project.setBuildExe(dir.filePath("missing/kirrup"));
        BoxAnswerer boxes;
        project.build();
        QVERIFY(QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }, 5000));
        QVERIFY(boxes.seen.first().startsWith("critical:Build failed\nCannot start " + project.buildExe()));
        QVERIFY(project.buildOutput().startsWith("Cannot start " + project.buildExe() + ": "));
        QVERIFY(project.buildOutput().endsWith("\nFailed"));
    }

    void secondBuildWhileRunningIsRefused()
    {
        QTemporaryDir dir;
        const QString runs = dir.filePath("runs");
        writeFile(dir.filePath("kirrup"),
                  "#!/bin/sh\necho run >> '" + runs.toUtf8() + "'\necho started\nsleep 0.5\n", true);
        HVProject project;
        project.setBuildExe(dir.filePath("kirrup"));
        project.build();
        QVERIFY(QTest::qWaitFor([&] { return project.buildOutput().contains("started"); }, 5000));
        project.build();
        QVERIFY(waitFinished(project));
        QCOMPARE(project.buildOutput(), QStringLiteral("started\n\nA build is already running.\n\nSuccess"));
        QFile f(runs);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("run\n"));
    }
};

NW_TEST(TestHVProject)
#include "tst_hvproject.moc"
