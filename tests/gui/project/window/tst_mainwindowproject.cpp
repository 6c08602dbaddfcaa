#include "../projecttest.h"
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
    void initTestCase() { useScratchSettings(home.path()); }

    void settingsReachTheEditorAndTheProject()
    {
        const QString projectFile = tmp.filePath("p/my.xml");
        writeFile(projectFile, "<project><hardware in=\"hw.xml\"/></project>");
        {
            auto w = makeWindow();
            QObject *qmlProject = w->qmlView()->rootContext()->contextProperty("project").value<QObject *>();
            QCOMPARE(qmlProject, &w->projectModel());
            QMetaObject::invokeMethod(w.get(), "projectSettings");
            QCOMPARE(settingsDialog()->editorPath(), QStringLiteral("xdg-open"));
            QCOMPARE(settingsDialog()->buildPath(), w->projectModel().buildExe());
            settingsDialog()->reject();

            setTools(*w, "/usr/bin/myeditor", "/opt/nw/bin/kirrup");
            w->projectModel().open(projectFile);
            w->saveSettings();
        }
        QSettings stored;
        QCOMPARE(stored.value("editorProgram").toString(), QStringLiteral("/usr/bin/myeditor"));
        QCOMPARE(stored.value("buildExe").toString(), QStringLiteral("/opt/nw/bin/kirrup"));
        QCOMPARE(stored.value("projectFile").toString(), projectFile);

        // A new window comes back to the same project with the same tools.
        auto w = makeWindow();
        QCOMPARE(w->projectModel().projectFile(), projectFile);
        QVERIFY(w->projectModel().valid());
        QCOMPARE(w->projectModel().scriptExe(), QStringLiteral("/opt/nw/bin/tollan"));
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
