#include "../projecttest.h"
#include "logview.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "testmain.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QQmlContext>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace
{


ProjectSettingsDialog *settingsDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<ProjectSettingsDialog *>(w)) return d;
    return nullptr;
}

// Sets the editor and the builder as the user would, through the settings dialog.
void setTools(MainWindow &w, const QString &editor, const QString &builder)
{
    QMetaObject::invokeMethod(&w, "projectSettings");
    ProjectSettingsDialog *d = settingsDialog();
    QVERIFY(d && d->isVisible());
    d->findChild<QLineEdit *>("editorLineEdit")->setText(editor);
    d->findChild<QLineEdit *>("buildLineEdit")->setText(builder);
    d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}

// Runs as a user who may not write where root may: root is let through by any permission bits.
struct Unprivileged {
    Unprivileged() : wasRoot(geteuid() == 0) { dropped = wasRoot && seteuid(65534) == 0; }
    ~Unprivileged()
    {
        if (dropped) (void)!seteuid(0);
    }
    bool ok() const { return !wasRoot || dropped; }
    bool wasRoot;
    bool dropped = false;
};

} // namespace

class TestMainWindowProject : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir tmp;

    std::unique_ptr<MainWindow> makeWindow()
    {
        return std::make_unique<MainWindow>(std::make_unique<FixedPortEnumerator>());
    }

private slots:
    void initTestCase()
    {
        useScratchSettings(home.path());
    }
    // A project left open by one test would be opened again by the next test's window.
    void init() { QSettings().clear(); }

    void settingsReachTheEditorAndTheProject()
    {
        const QString projectFile = tmp.filePath("p/my.xml");
        writeFile(projectFile, "<project><hardware in=\"hw.xml\"/></project>");
        // Tools that exist: stored paths that went stale are replaced at start.
        const QString kirrup = tmp.filePath("nw/bin/kirrup"), tollan = tmp.filePath("nw/bin/tollan");
        writeFile(kirrup, "", true);
        writeFile(tollan, "", true);
        {
            auto w = makeWindow();
            QObject *qmlProject = w->qmlView()->rootContext()->contextProperty("project").value<QObject *>();
            QCOMPARE(qmlProject, &w->projectModel());
            QMetaObject::invokeMethod(w.get(), "projectSettings");
            QCOMPARE(settingsDialog()->editorPath(), QStringLiteral("xdg-open"));
            QCOMPARE(settingsDialog()->buildPath(), w->projectModel().buildExe());
            settingsDialog()->reject();

            setTools(*w, "/usr/bin/myeditor", kirrup);
            w->projectModel().open(projectFile);
            w->saveSettings();
        }
        QSettings stored;
        QCOMPARE(stored.value("editorProgram").toString(), QStringLiteral("/usr/bin/myeditor"));
        QCOMPARE(stored.value("buildExe").toString(), kirrup);
        QCOMPARE(stored.value("projectFile").toString(), projectFile);

        // A new window comes back to the same project with the same tools.
        auto w = makeWindow();
        QCOMPARE(w->projectModel().projectFile(), projectFile);
        QVERIFY(w->projectModel().valid());
        QCOMPARE(w->projectModel().scriptExe(), tollan);
        QMetaObject::invokeMethod(w.get(), "projectSettings");
        QCOMPARE(settingsDialog()->editorPath(), QStringLiteral("/usr/bin/myeditor"));
        settingsDialog()->reject();
        stored.clear();
    }

    void editFile()
    {
        const QString args = tmp.filePath("args");
        const QString editor = tmp.filePath("editor");
        writeFile(editor, "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + args.toUtf8() + "'\n", true);
        auto w = makeWindow();
        setTools(*w, editor, w->projectModel().buildExe());
        BoxAnswerer boxes;
        QMetaObject::invokeMethod(w.get(), "editFile", Q_ARG(QString, "my file.xml"));
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(args).size() > 0; }, 5000));
        QFile f(args);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("1|my file.xml|"));

        setTools(*w, tmp.filePath("no-such-editor"), w->projectModel().buildExe());
        QMetaObject::invokeMethod(w.get(), "editFile", Q_ARG(QString, "x"));
        QCOMPARE(boxes.seen, QStringList("critical:Failed to open:\n" + tmp.filePath("no-such-editor")));
    }

    // The file chooser starts where it is told, or in the example folder beside the program's folder.
    void selectFileStartFolder_data()
    {
        QTest::addColumn<bool>("given");
        QTest::addColumn<QString>("filter");
        QTest::newRow("no folder given, no filter") << false << QString();
        QTest::newRow("folder given, with filter") << true << "Images (*.dfu)";
    }
    void selectFileStartFolder()
    {
        QFETCH(bool, given);
        QFETCH(QString, filter);
        const QString example = QCoreApplication::applicationDirPath() + "/../example";
        const bool made = !QFileInfo::exists(example) && QDir().mkpath(example);
        const QString start = given ? tmp.filePath("start") : example;
        QDir().mkpath(start);
        const QString expected = QDir(start).canonicalPath();

        auto w = makeWindow();
        QString seenDir, seenTitle;
        QStringList seenFilters;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *d = qobject_cast<QFileDialog *>(top);
                if (!d || !d->isVisible()) continue;
                seenDir = d->directory().absolutePath();
                seenTitle = d->windowTitle();
                seenFilters = d->nameFilters();
                d->reject();
            }
        });
        poll.start(10);
        QString chosen = "not called";
        QMetaObject::invokeMethod(w.get(), "selectFile", Q_RETURN_ARG(QString, chosen),
                                  Q_ARG(QString, given ? start : QString()), Q_ARG(QString, "Pick one"),
                                  Q_ARG(QString, filter));
        if (made) QDir(example).removeRecursively();
        QCOMPARE(chosen, QString()); // cancelled
        QCOMPARE(seenTitle, QStringLiteral("Pick one"));
        QCOMPARE(seenDir, expected);
        if (!filter.isEmpty()) QCOMPARE(seenFilters, QStringList(filter));
    }

    // The reason reaches the log, with where to choose another editor; the box stays as it was.
    void editorFailureSaysWhy()
    {
        auto w = makeWindow();
        const QString missing = tmp.filePath("gone/editor");
        setTools(*w, missing, w->projectModel().buildExe());
        BoxAnswerer boxes;
        QMetaObject::invokeMethod(w.get(), "editFile", Q_ARG(QString, "x"));
        QCOMPARE(boxes.seen, QStringList("critical:Failed to open:\n" + missing));
        const QList<QStringList> entries = w->findChild<LogView *>(QStringLiteral("textDebug"))->logEntries();
        QVERIFY(!entries.isEmpty());
        const QString line = entries.last().join(QString());
        QVERIFY2(line.contains("<font color=red>Cannot start the editor " + missing + ": ") &&
                     line.contains(QString::fromLocal8Bit(strerror(ENOENT))) &&
                     line.contains("Settings... (Editor executable)"),
                 qPrintable(line));
    }

    // A project that fails to open leaves no image of the one before to upload.
    void failedOpenDropsTheImage()
    {
        const QString good = tmp.filePath("good/project.xml"), bad = tmp.filePath("bad/project.xml");
        writeFile(good, "<project><image out=\"fw.dfu\"/></project>");
        writeFile(bad, "<notaproject/>");
        auto w = makeWindow();
        BoxAnswerer boxes;
        w->openProject(good);
        QCOMPARE(w->projectModel().imageFile(), tmp.filePath("good/fw.dfu"));
        w->openProject(bad);
        QCOMPARE(boxes.seen, QStringList("critical:Not a project file:\n" + bad));
        QVERIFY(!w->projectModel().valid());
        QCOMPARE(w->projectModel().imageFile(), QString());
        w->openProject(good);
        w->openProject(tmp.filePath("nowhere/project.xml"));
        QCOMPARE(w->projectModel().imageFile(), QString());
    }

    void readOnlyProject_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("answer");
        QTest::newRow("read-only, clone it") << true << int(QMessageBox::Yes);
        QTest::newRow("read-only, open it as it is") << true << int(QMessageBox::No);
        QTest::newRow("writable") << false << int(QMessageBox::Yes);
    }

    // A project the user cannot build where it lies is offered for cloning first; the copy opens.
    void readOnlyProject()
    {
        QFETCH(bool, readOnly);
        QFETCH(int, answer);
        // Others may enter, so the unprivileged user reaches the project.
        QTemporaryDir top(QDir::tempPath() + "/velmo-ro-XXXXXX");
        QVERIFY(QFile::setPermissions(top.path(), QFile::Permissions(0x7755)));
        const QString dir = top.filePath("example"), file = dir + "/project.xml";
        writeFile(file, "<project><hardware in=\"hw.xml\"/></project>");
        QFile::setPermissions(file, QFile::Permissions(0x6644));
        QVERIFY(QFile::setPermissions(dir, QFile::Permissions(readOnly ? 0x5555 : 0x7777)));

        auto w = makeWindow();
        BoxAnswerer boxes({QMessageBox::StandardButton(answer)});
        {
            Unprivileged user;
            QVERIFY(user.ok());
            w->openProject(file);
        }
        auto *dlg = w->findChild<CloneProjectDialog *>();
        if (!readOnly || answer == QMessageBox::No) {
            QCOMPARE(boxes.seen.size(), readOnly ? 1 : 0);
            QVERIFY(!dlg->isVisible());
            QCOMPARE(w->projectModel().projectFile(), file);
            QVERIFY(w->projectModel().valid());
            QFile::setPermissions(dir, QFile::Permissions(0x7755));
            return;
        }
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen.first().contains(dir), qPrintable(boxes.seen.first()));
        QVERIFY(dlg->isVisible() && dlg->isModal());
        QCOMPARE(dlg->source(), dir);
        QCOMPARE(w->projectModel().projectFile(), QString());

        QMetaObject::invokeMethod(dlg, "dstFileSelected", Q_ARG(QString, top.filePath("mine")));
        boxes.answers = {QMessageBox::YesToAll};
        dlg->findChild<QPushButton *>("cloneButton")->click();
        QCOMPARE(w->projectModel().projectFile(), top.filePath("mine/project.xml"));
        QVERIFY(w->projectModel().valid());
        QFile::setPermissions(dir, QFile::Permissions(0x7755));
    }

    void cloneOpensTheCopy()
    {
        const QString projectFile = tmp.filePath("orig/my.xml");
        writeFile(projectFile, "<project><hardware in=\"hw.xml\"/></project>");
        auto w = makeWindow();
        w->projectModel().open(projectFile);
        QMetaObject::invokeMethod(w.get(), "cloneProject");
        auto *dlg = w->findChild<CloneProjectDialog *>();
        QVERIFY(dlg->isVisible() && dlg->isModal());
        QCOMPARE(dlg->source(), tmp.filePath("orig"));

        QMetaObject::invokeMethod(dlg, "dstFileSelected", Q_ARG(QString, tmp.filePath("copy")));
        BoxAnswerer boxes({QMessageBox::YesToAll});
        dlg->findChild<QPushButton *>("cloneButton")->click();
        QCOMPARE(w->projectModel().projectFile(), tmp.filePath("copy/my.xml"));
        QVERIFY(w->projectModel().valid());
        QCOMPARE(w->projectModel().hardwareFile(), tmp.filePath("copy/hw.xml"));
    }
};

NW_TEST(TestMainWindowProject)
#include "tst_mainwindowproject.moc"
