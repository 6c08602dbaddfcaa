// The window's project operations: the editor, the file chooser and the two project dialogs.
#include "mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

void MainWindow::editFile(QString fname)
{
    if (!QProcess::startDetached(editorProgram, {fname}))
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
    const QString name = QFileInfo(project.projectFile()).fileName();
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
