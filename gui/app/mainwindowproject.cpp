// The window's project operations: the editor, the file chooser and the two project dialogs.
#include "mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

void MainWindow::editFile(QString fname)
{
    QProcess editor;
    editor.setProgram(editorProgram);
    editor.setArguments({fname});
    if (editor.startDetached()) return;
    // A detached start reports no reason of its own; the usual ones are the program's absence and
    // its permissions.
    QString reason = editor.errorString();
    const QString found = editorProgram.contains(QLatin1Char('/'))
                              ? editorProgram
                              : QStandardPaths::findExecutable(editorProgram);
    if (found.isEmpty() || !QFileInfo::exists(found))
        reason = QString::fromLocal8Bit(strerror(ENOENT));
    else if (!QFileInfo(found).isExecutable() || QFileInfo(found).isDir())
        reason = QString::fromLocal8Bit(strerror(EACCES));
    // The box says only which program; the log says why, and where to choose another.
    debugPrint(QStringLiteral("<font color=red>%1</font>")
                   .arg(tr("Cannot start the editor %1: %2. Choose another editor under Project, "
                           "Settings... (Editor executable).")
                            .arg(editorProgram, reason)
                            .toHtmlEscaped()));
    QMessageBox::critical(nullptr, QString(), tr("Failed to open:\n") + editorProgram);
}

QString MainWindow::selectFile(QString fname, QString title, QString filter)
{
    const QString start =
        fname.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../example") : fname;
    return QFileDialog::getOpenFileName(this, title, start, filter);
}

void MainWindow::cloneProject()
{
    const QString file = project.projectFile();
    cloneDialog->setSource(file.isEmpty() ? QString() : QFileInfo(file).absolutePath());
    cloneDialog->setModal(true);
    cloneDialog->show();
}

void MainWindow::cloned(QString newp)
{
    // The copy keeps the project file's name; without an open project there is no name to look for.
    const QString name =
        cloneFileName.isEmpty() ? QFileInfo(project.projectFile()).fileName() : cloneFileName;
    cloneFileName.clear();
    if (!name.isEmpty()) project.open(QDir(newp).filePath(name));
}

void MainWindow::projectSettings()
{
    settingsDialog->setBuildPath(project.buildExe());
    settingsDialog->setEditorPath(editorProgram);
    settingsDialog->show();
}

void MainWindow::settingsAccepted()
{
    editorProgram = settingsDialog->editorPath();
    project.setBuildExe(settingsDialog->buildPath());
}

// The installed example is read-only: a build there fails on its first output, so a copy of one's
// own is offered first.
void MainWindow::openProject(QString fname)
{
    const QFileInfo file(fname);
    if (!fname.isEmpty() && file.isFile() && !folderWritable(file.absolutePath())) {
        const auto answer = QMessageBox::question(
            this, tr("Read-only project"),
            tr("The folder of this project cannot be written, so it cannot be built there:\n%1\n\n"
               "Clone it to a folder of your own first?")
                .arg(file.absolutePath()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            cloneFileName = file.fileName();
            cloneDialog->setSource(file.absolutePath());
            cloneDialog->setModal(true);
            cloneDialog->show();
            return;
        }
    }
    project.open(fname);
}

// Tried rather than judged from the permission bits, which say nothing of read-only mounts.
bool MainWindow::folderWritable(const QString &dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.velmo-write-XXXXXX"));
    return probe.open();
}
