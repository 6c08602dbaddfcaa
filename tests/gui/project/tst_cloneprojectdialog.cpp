#include "boxanswerer.h"
#include "cloneprojectdialog.h"
#include "testmain.h"

#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

using Button = QMessageBox::StandardButton;

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// Every file and directory below `root`, with each file's bytes.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            out.insert(rel + QLatin1Char('/'), QByteArray());
        } else {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            out.insert(rel, f.readAll());
        }
    }
    return out;
}

void makeSource(const QString &src)
{
    writeFile(src + "/project.xml", "<project/>");
    writeFile(src + "/.settings", "hidden");
    writeFile(src + "/sub/data.bin", QByteArray("\0\1\2\377", 4));
    writeFile(src + "/sub/deeper/notes.txt", "deep");
    QDir().mkpath(src + "/empty");
}

QPushButton *button(CloneProjectDialog &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QLatin1String(name));
}

QLineEdit *edit(CloneProjectDialog &dlg, const char *name)
{
    return dlg.findChild<QLineEdit *>(QLatin1String(name));
}

// Clicks `browse` and answers its chooser with `dir`, or cancels it when `dir` is empty.
void choose(CloneProjectDialog &dlg, const char *browse, const QString &dir)
{
    QTest::mouseClick(button(dlg, browse), Qt::LeftButton);
    QFileDialog *chooser = dlg.chooser();
    QVERIFY(chooser->isVisible());
    QVERIFY(chooser->isModal());
    if (dir.isEmpty()) {
        chooser->reject();
        return;
    }
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
    void widgets()
    {
        CloneProjectDialog dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Clone Project"));
        for (const char *name : {"srcButton", "dstButton"})
            QCOMPARE(button(dlg, name)->text(), QStringLiteral("Browse..."));
        QCOMPARE(button(dlg, "cloneButton")->text(), QStringLiteral("Clone"));
        QVERIFY(edit(dlg, "srcEdit") && edit(dlg, "dstEdit"));
        QFileDialog *chooser = dlg.chooser();
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
    }

    void browseButtonsFillTheirOwnEdit()
    {
        QTemporaryDir tmp;
        const QString a = tmp.filePath("a"), b = tmp.filePath("b");
        QDir().mkpath(a);
        QDir().mkpath(b);
        CloneProjectDialog dlg;
        dlg.setSource(QStringLiteral("/start"));
        dlg.show();
        QPushButton *clone = button(dlg, "cloneButton");

        choose(dlg, "srcButton", QString());
        choose(dlg, "dstButton", QString());
        QCOMPARE(edit(dlg, "srcEdit")->text(), QStringLiteral("/start"));
        QCOMPARE(edit(dlg, "dstEdit")->text(), QString());
        QVERIFY(!clone->isEnabled());

        // The cancelled choosers must not receive this selection.
        choose(dlg, "srcButton", a);
        QCOMPARE(edit(dlg, "srcEdit")->text(), a);
        QCOMPARE(edit(dlg, "dstEdit")->text(), QString());
        QVERIFY(!clone->isEnabled());

        choose(dlg, "dstButton", b);
        QCOMPARE(edit(dlg, "dstEdit")->text(), b);
        QCOMPARE(edit(dlg, "srcEdit")->text(), a);
        QVERIFY(clone->isEnabled());

        // Selections after a receiver has run go nowhere.
        emit dlg.chooser()->fileSelected(tmp.path());
        QCOMPARE(edit(dlg, "srcEdit")->text(), a);
        QCOMPARE(edit(dlg, "dstEdit")->text(), b);
    }

    void clone_data()
    {
        QTest::addColumn<QString>("target");      // below the temporary directory
        QTest::addColumn<QByteArray>("existing"); // content of target/project.xml before, none when empty
        QTest::addColumn<QList<Button>>("answers");
        QTest::addColumn<QStringList>("boxes"); // %1 the target path
        QTest::addColumn<bool>("completed");

        const QString askDir = QStringLiteral("warning:Directory already exist:\n%1\nOverwrite?");
        const QString askFile = QStringLiteral("warning:File already exist:\n%1/project.xml\nOverwrite?");
        QTest::newRow("new target, yes to all")
            << "copy" << QByteArray() << QList<Button>{QMessageBox::YesToAll} << QStringList{askDir} << true;
        QTest::newRow("new target, yes")
            << "copy" << QByteArray() << QList<Button>{QMessageBox::Yes} << QStringList{askDir} << true;
        QTest::newRow("yes, then an existing file asks again")
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::Yes, QMessageBox::Yes}
            << QStringList{askDir, askFile} << true;
        QTest::newRow("yes to all overwrites without asking")
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::YesToAll} << QStringList{askDir}
            << true;
        QTest::newRow("cancel at the directory")
            << "copy" << QByteArray() << QList<Button>{QMessageBox::Cancel} << QStringList{askDir} << false;
        QTest::newRow("cancel at the file")
            << "copy" << QByteArray("old") << QList<Button>{QMessageBox::Yes, QMessageBox::Cancel}
            << QStringList{askDir, askFile} << false;
        QTest::newRow("parent missing") << "no/such/copy" << QByteArray() << QList<Button>{}
                                        << QStringList{"critical:Cannot create directory:\n%1"} << false;
        QTest::newRow("into itself") << "src/sub/copy" << QByteArray() << QList<Button>{}
                                     << QStringList{"critical:Cannot clone a project into itself:\n%1"}
                                     << false;
        QTest::newRow("onto itself") << "src" << QByteArray() << QList<Button>{}
                                     << QStringList{"critical:Cannot clone a project into itself:\n%1"}
                                     << false;
        QTest::newRow("into itself through a link")
            << "link/copy" << QByteArray() << QList<Button>{}
            << QStringList{"critical:Cannot clone a project into itself:\n%1"} << false;
    }

    void clone()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, existing);
        QFETCH(QList<Button>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(bool, completed);

        QTemporaryDir tmp;
        const QString src = tmp.filePath("src");
        makeSource(src);
        QVERIFY(QFile::link(src, tmp.filePath("link")));
        const auto before = tree(src);
        const QString dst = tmp.filePath(target);
        const bool existedBefore = QFileInfo::exists(dst) || !existing.isEmpty();
        if (!existing.isEmpty()) writeFile(dst + "/project.xml", existing);

        CloneProjectDialog dlg;
        dlg.setSource(src);
        dlg.show();
        // The chooser only picks existing directories; the target is typed over its choice.
        choose(dlg, "dstButton", tmp.path());
        edit(dlg, "dstEdit")->setText(dst);
        QSignalSpy done(&dlg, &CloneProjectDialog::cloneComplete);
        BoxAnswerer answerer(answers);
        QTest::mouseClick(button(dlg, "cloneButton"), Qt::LeftButton);

        for (QString &box : boxes)
            box = box.arg(dst);
        QCOMPARE(answerer.seen, boxes);
        QCOMPARE(done.count(), completed ? 1 : 0);
        QCOMPARE(dlg.isVisible(), !completed);
        QCOMPARE(tree(src), before);
        if (completed) {
            QCOMPARE(done.first().first().toString(), dst);
            QCOMPARE(tree(dst), before);
        } else if (!existing.isEmpty()) {
            QCOMPARE(tree(dst).value("project.xml"), existing);
        } else if (!existedBefore && answers.isEmpty()) {
            QVERIFY(!QFileInfo::exists(dst)); // refused before anything was created
        }
    }

    void missingSource()
    {
        QTemporaryDir tmp;
        CloneProjectDialog dlg;
        dlg.setSource(tmp.filePath("gone"));
        dlg.show();
        choose(dlg, "dstButton", tmp.path());
        BoxAnswerer answerer;
        QTest::mouseClick(button(dlg, "cloneButton"), Qt::LeftButton);
        QCOMPARE(answerer.seen, QStringList("critical:Directory does not exist:\n" + tmp.filePath("gone")));
        QCOMPARE(tree(tmp.path()), (QMap<QString, QByteArray>{}));
    }
};

NW_TEST(TestCloneProjectDialog)
#include "tst_cloneprojectdialog.moc"
