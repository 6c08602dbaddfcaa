#include "cloneprojectdialog.h"
#include "projectsettingsdialog.h"
#include "projecttest.h"
#include "testmain.h"

#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

using Button = QMessageBox::StandardButton;

// Every file and directory below `root`, with each file's bytes.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(root).relativeFilePath(it.next());
        QFile f(it.filePath());
        out.insert(it.fileInfo().isDir() ? rel + '/' : rel, f.open(QIODevice::ReadOnly) ? f.readAll() : "");
    }
    return out;
}

QLineEdit *edit(CloneProjectDialog &dlg, const char *name)
{
    return dlg.findChild<QLineEdit *>(name);
}

// Clicks `browse` and answers its chooser with `dir`, or cancels it when `dir` is empty.
void choose(CloneProjectDialog &dlg, const char *browse, const QString &dir)
{
    QTest::mouseClick(dlg.findChild<QPushButton *>(browse), Qt::LeftButton);
    QFileDialog *chooser = dlg.chooser();
    QVERIFY(chooser->isVisible() && chooser->isModal());
    QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
    QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
    if (dir.isEmpty()) return chooser->reject();
    chooser->setDirectory(QFileInfo(dir).path());
    chooser->selectFile(dir);
    static_cast<QDialog *>(chooser)->accept();
}

} // namespace

Q_DECLARE_METATYPE(QList<Button>)

class TestCloneProjectDialog : public QObject
{
    Q_OBJECT

private slots:
    void browseButtonsFillTheirOwnEdit()
    {
        QTemporaryDir tmp;
        const QString a = tmp.filePath("a"), b = tmp.filePath("b");
        QDir().mkpath(a);
        QDir().mkpath(b);
        CloneProjectDialog dlg;
        dlg.setSource("/start");
        dlg.show();
        auto *clone = dlg.findChild<QPushButton *>("cloneButton");

        choose(dlg, "srcButton", QString());
        choose(dlg, "dstButton", QString());
        QCOMPARE(edit(dlg, "srcEdit")->text() + edit(dlg, "dstEdit")->text(), QStringLiteral("/start"));
        QVERIFY(!clone->isEnabled());
        // An empty selection is no target.
        QTest::mouseClick(dlg.findChild<QPushButton *>("dstButton"), Qt::LeftButton);
        emit dlg.chooser()->fileSelected(QString());
        dlg.chooser()->reject();
        QVERIFY(edit(dlg, "dstEdit")->text().isEmpty());
        QVERIFY(!clone->isEnabled());
        // The cancelled choosers must not receive the next selections.
        choose(dlg, "srcButton", a);
        QCOMPARE(edit(dlg, "srcEdit")->text() + edit(dlg, "dstEdit")->text(), a);
        QVERIFY(!clone->isEnabled());
        choose(dlg, "dstButton", b);
        QCOMPARE(edit(dlg, "srcEdit")->text() + edit(dlg, "dstEdit")->text(), a + b);
        QVERIFY(clone->isEnabled());
        // Once a receiver has run, further selections go nowhere.
        emit dlg.chooser()->fileSelected(tmp.path());
        QCOMPARE(edit(dlg, "srcEdit")->text() + edit(dlg, "dstEdit")->text(), a + b);
    }

    void clone_data()
    {
        QTest::addColumn<QString>("source");      // below the temporary directory; "src" holds a tree
        QTest::addColumn<QString>("target");      // below the temporary directory
        QTest::addColumn<QByteArray>("existing"); // target/project.xml before the clone, none when empty
        QTest::addColumn<QList<Button>>("answers");
        QTest::addColumn<QStringList>("boxes"); // %1 the target path, %2 the source path
        QTest::addColumn<bool>("completed");

        const QString askDir = "warning:Directory already exist:\n%1\nOverwrite?";
        const QString askFile = "warning:File already exist:\n%1/project.xml\nOverwrite?";
        const QString itself = "critical:Cannot clone a project into itself:\n%1";
        const QByteArray none;
        QTest::newRow("new target, yes to all")
            << "src"
            << "copy" << none << QList<Button>{QMessageBox::YesToAll} << QStringList{askDir} << true;
        QTest::newRow("new target, yes")
            << "src"
            << "copy" << none << QList<Button>{QMessageBox::Yes} << QStringList{askDir} << true;
        QTest::newRow("yes, then an existing file asks again")
            << "src"
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::Yes, QMessageBox::Yes}
            << QStringList{askDir, askFile} << true;
        QTest::newRow("yes to all overwrites without asking")
            << "src"
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::YesToAll} << QStringList{askDir}
            << true;
        QTest::newRow("cancel at the directory")
            << "src"
            << "copy" << none << QList<Button>{QMessageBox::Cancel} << QStringList{askDir} << false;
        QTest::newRow("cancel at the file")
            << "src"
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::Yes, QMessageBox::Cancel}
            << QStringList{askDir, askFile} << false;
        QTest::newRow("parent missing") << "src"
                                        << "no/such/copy" << none << QList<Button>{}
                                        << QStringList{"critical:Cannot create directory:\n%1"} << false;
        QTest::newRow("source missing") << "gone"
                                        << "copy" << none << QList<Button>{}
                                        << QStringList{"critical:Directory does not exist:\n%2"} << false;
        QTest::newRow("into itself") << "src"
                                     << "src/sub/copy" << none << QList<Button>{} << QStringList{itself}
                                     << false;
        QTest::newRow("onto itself") << "src"
                                     << "src" << none << QList<Button>{} << QStringList{itself} << false;
        QTest::newRow("into itself through a link")
            << "src"
            << "link/copy" << none << QList<Button>{} << QStringList{itself} << false;
        // copy/sub leads back to src: copying src/sub/data.bin there would land in the source itself.
        QTest::newRow("target holds a link back into the source")
            << "src"
            << "linked-copy" << none << QList<Button>{QMessageBox::YesToAll}
            << QStringList{"critical:Cannot clone a project into itself:\n%1/sub"} << false;
    }

    void clone()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QByteArray, existing);
        QFETCH(QList<Button>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(bool, completed);

        QTemporaryDir tmp;
        const QString src = tmp.filePath(source), dst = tmp.filePath(target);
        writeFile(tmp.filePath("src/project.xml"), "<project/>");
        writeFile(tmp.filePath("src/.settings"), "hidden");
        writeFile(tmp.filePath("src/sub/data.bin"), QByteArray("\0\1\2\377", 4));
        writeFile(tmp.filePath("src/sub/deeper/notes.txt"), "deep");
        QDir().mkpath(tmp.filePath("src/empty"));
        QVERIFY(QFile::link(tmp.filePath("src"), tmp.filePath("link")));
        QDir().mkpath(tmp.filePath("linked-copy"));
        QVERIFY(QFile::link("../src", tmp.filePath("linked-copy/sub")));
        const auto before = tree(tmp.filePath("src"));
        if (!existing.isEmpty()) writeFile(dst + "/project.xml", existing);
        const bool existedBefore = QFileInfo::exists(dst);

        CloneProjectDialog dlg;
        dlg.setSource(src);
        dlg.show();
        // The chooser picks only existing directories; the target is typed over its choice.
        choose(dlg, "dstButton", tmp.path());
        edit(dlg, "dstEdit")->setText(dst);
        QSignalSpy done(&dlg, &CloneProjectDialog::cloneComplete);
        BoxAnswerer answerer(answers);
        QTest::mouseClick(dlg.findChild<QPushButton *>("cloneButton"), Qt::LeftButton);

        for (QString &box : boxes)
            box.replace("%1", dst).replace("%2", src);
        QCOMPARE(answerer.seen, boxes);
        QCOMPARE(done.count(), completed ? 1 : 0);
        QCOMPARE(dlg.isVisible(), !completed);
        QCOMPARE(tree(tmp.filePath("src")), before);
        if (completed) {
            QCOMPARE(done.first().first().toString(), dst);
            QCOMPARE(tree(dst), before);
            // "Yes to all" was for that clone only: the next one asks again.
            dlg.show();
            answerer.seen.clear();
            answerer.answers = {QMessageBox::Cancel};
            QTest::mouseClick(dlg.findChild<QPushButton *>("cloneButton"), Qt::LeftButton);
            QCOMPARE(answerer.seen, QStringList("warning:Directory already exist:\n" + dst + "\nOverwrite?"));
            QCOMPARE(done.count(), 1);
        } else if (!existing.isEmpty()) {
            QCOMPARE(tree(dst).value("project.xml"), existing);
        } else if (!existedBefore && answers.isEmpty()) {
            QVERIFY(!QFileInfo::exists(dst)); // refused before anything was created
        }
    }

    // Answers at the files: Yes is for that file only, Yes to all for the rest of the clone. A file
    // that cannot be copied, at the top or in a folder below, stops the clone.
    void fileAnswersAndFailures_data()
    {
        QTest::addColumn<QStringList>("files"); // below the target before the clone; "name/" a folder
        QTest::addColumn<QList<Button>>("answers");
        QTest::addColumn<QStringList>("boxes"); // in order; %1 the target; "ask:" a file question
        QTest::addColumn<bool>("completed");
        const QString askDir = "warning:Directory already exist:\n%1\nOverwrite?";
        QTest::newRow("yes at each file asks at the next")
            << QStringList{"project.xml", ".settings"}
            << QList<Button>{QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes}
            << QStringList{askDir, "ask:", "ask:"} << true;
        QTest::newRow("yes to all at a file asks no more")
            << QStringList{"project.xml", ".settings"}
            << QList<Button>{QMessageBox::Yes, QMessageBox::YesToAll} << QStringList{askDir, "ask:"} << true;
        QTest::newRow("a file that cannot be copied")
            << QStringList{"project.xml/"} << QList<Button>{QMessageBox::YesToAll}
            << QStringList{askDir, "critical:Cannot copy file:\n%1/project.xml"} << false;
        QTest::newRow("a file below that cannot be copied")
            << QStringList{"sub/data.bin/"} << QList<Button>{QMessageBox::YesToAll}
            << QStringList{askDir, "critical:Cannot copy file:\n%1/sub/data.bin"} << false;
    }
    void fileAnswersAndFailures()
    {
        QFETCH(QStringList, files);
        QFETCH(QList<Button>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(bool, completed);
        QTemporaryDir tmp;
        writeFile(tmp.filePath("src/project.xml"), "<project/>");
        writeFile(tmp.filePath("src/.settings"), "hidden");
        writeFile(tmp.filePath("src/sub/data.bin"), "data");
        const QString dst = tmp.filePath("copy");
        for (const QString &f : files) {
            if (f.endsWith('/'))
                QDir().mkpath(dst + '/' + f);
            else
                writeFile(dst + '/' + f, "old");
        }
        CloneProjectDialog dlg;
        dlg.setSource(tmp.filePath("src"));
        edit(dlg, "dstEdit")->setText(dst);
        QSignalSpy done(&dlg, &CloneProjectDialog::cloneComplete);
        BoxAnswerer answerer(answers);
        QMetaObject::invokeMethod(&dlg, "on_cloneButton_clicked");
        QStringList seen;
        for (const QString &box : answerer.seen)
            seen << (box.startsWith("warning:File already exist:\n") ? QString("ask:") : box);
        for (QString &box : boxes)
            box.replace("%1", dst);
        QCOMPARE(seen, boxes);
        QCOMPARE(done.count(), completed ? 1 : 0);
        if (completed) QCOMPARE(tree(dst), tree(tmp.filePath("src")));
    }

    // A link inside the project back up its own tree is copied once, not followed round for ever.
    void linkLoopInTheSource()
    {
        QTemporaryDir tmp;
        writeFile(tmp.filePath("src/project.xml"), "<project/>");
        writeFile(tmp.filePath("src/sub/data.bin"), "data");
        QVERIFY(QFile::link("..", tmp.filePath("src/sub/up")));
        // The loop's place in the target already leads back into the source: as the loop is not
        // copied, nothing is written there, and the clone goes ahead.
        QDir().mkpath(tmp.filePath("copy/sub"));
        QVERIFY(QFile::link("../../src", tmp.filePath("copy/sub/up")));
        const auto before = tree(tmp.filePath("src"));
        CloneProjectDialog dlg;
        dlg.setSource(tmp.filePath("src"));
        edit(dlg, "dstEdit")->setText(tmp.filePath("copy"));
        QSignalSpy done(&dlg, &CloneProjectDialog::cloneComplete);
        BoxAnswerer answerer({QMessageBox::YesToAll});
        QMetaObject::invokeMethod(&dlg, "on_cloneButton_clicked");
        QCOMPARE(answerer.seen,
                 QStringList("warning:Directory already exist:\n" + tmp.filePath("copy") + "\nOverwrite?"));
        QCOMPARE(done.count(), 1);
        QCOMPARE(tree(tmp.filePath("copy")).keys(),
                 (QStringList{"project.xml", "sub/", "sub/data.bin", "sub/up/"}));
        QCOMPARE(tree(tmp.filePath("src")), before);
    }

    // The words of both dialogs, as the user reads them.
    void texts_data()
    {
        QTest::addColumn<bool>("settings");  // else the clone dialog
        QTest::addColumn<QString>("object"); // empty: the dialog's title
        QTest::addColumn<QString>("text");
        QTest::newRow("clone title") << false << ""
                                     << "Clone Project";
        QTest::newRow("clone source label") << false << "srcLabel"
                                            << "Clone project from location:";
        QTest::newRow("clone source browse") << false << "srcButton"
                                             << "Browse...";
        QTest::newRow("clone target label") << false << "dstLabel"
                                            << "Target project to be created:";
        QTest::newRow("clone target browse") << false << "dstButton"
                                             << "Browse...";
        QTest::newRow("clone button") << false << "cloneButton"
                                      << "Clone";
        QTest::newRow("settings title") << true << ""
                                        << "Settings";
        QTest::newRow("settings build label") << true << "buildLabel"
                                              << "Build executable:";
        QTest::newRow("settings build browse") << true << "buildButton"
                                               << "Browse...";
        QTest::newRow("settings editor label") << true << "editorLabel"
                                               << "Editor executable:";
        QTest::newRow("settings editor browse") << true << "editorButton"
                                                << "Browse...";
    }
    void texts()
    {
        QFETCH(bool, settings);
        QFETCH(QString, object);
        QFETCH(QString, text);
        std::unique_ptr<QDialog> dlg;
        if (settings)
            dlg = std::make_unique<ProjectSettingsDialog>();
        else
            dlg = std::make_unique<CloneProjectDialog>();
        if (object.isEmpty()) {
            QCOMPARE(dlg->windowTitle(), text);
            return;
        }
        QObject *w = dlg->findChild<QObject *>(object);
        QVERIFY2(w, qPrintable(object));
        QCOMPARE(w->property("text").toString(), text);
    }

    void textsOfTheButtonBoxes()
    {
        CloneProjectDialog clone;
        ProjectSettingsDialog settings;
        QCOMPARE(clone.findChild<QDialogButtonBox *>()->standardButtons(), QDialogButtonBox::Close);
        QCOMPARE(settings.findChild<QDialogButtonBox *>()->standardButtons(),
                 QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        // Each box closes its dialog.
        clone.show();
        clone.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close)->click();
        QVERIFY(!clone.isVisible());
        for (auto button : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel}) {
            settings.show();
            QSignalSpy accepted(&settings, &QDialog::accepted);
            settings.findChild<QDialogButtonBox *>()->button(button)->click();
            QVERIFY(!settings.isVisible());
            QCOMPARE(accepted.count(), button == QDialogButtonBox::Ok ? 1 : 0);
        }
    }
};

NW_TEST(TestCloneProjectDialog)
#include "tst_cloneprojectdialog.moc"
