#include "cloneprojectdialog.h"

#include "ui_cloneprojectdialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace
{

void critical(const QString &text)
{
    QMessageBox::critical(nullptr, QString(), text);
}

// Where `path` is or would be once its missing last levels are created, with links resolved, so
// a target reached through a link is still recognised as lying inside the source.
QString resolvedPath(const QString &path)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QStringList missing;
    while (!info.exists() && !info.isRoot()) {
        missing.prepend(info.fileName());
        info.setFile(info.path());
    }
    QString resolved = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    for (const QString &name : missing)
        resolved += QLatin1Char('/') + name;
    return QDir::cleanPath(resolved);
}

bool isInside(const QString &path, const QString &dir)
{
    return path == dir || path.startsWith(dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/'));
}

// The first directory of the copy that, once links already in the target are followed, would lie
// inside `root` (the source), or an empty text. Walks the source as the copy will, loops excluded.
QString destinationInside(const QDir &src, const QString &dst, const QString &root, QStringList &walked)
{
    if (isInside(resolvedPath(dst), root)) return dst;
    walked.append(src.canonicalPath());
    for (const QString &name :
         src.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted)) {
        const QDir sub(src.filePath(name));
        if (walked.contains(sub.canonicalPath())) continue;
        const QString inside = destinationInside(sub, dst + QLatin1Char('/') + name, root, walked);
        if (!inside.isEmpty()) return inside;
    }
    walked.removeLast();
    return QString();
}

} // namespace

CloneProjectDialog::CloneProjectDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::CloneProjectDialog), dirChooser(new QFileDialog(this))
{
    ui->setupUi(this);
    dirChooser->setFileMode(QFileDialog::Directory);
    dirChooser->setOption(QFileDialog::ShowDirsOnly, true);
    dirChooser->setModal(true);
}

CloneProjectDialog::~CloneProjectDialog()
{
    delete ui;
}

void CloneProjectDialog::setSource(const QString &dir)
{
    ui->srcEdit->setText(dir);
}

QString CloneProjectDialog::source() const
{
    return ui->srcEdit->text();
}

QString CloneProjectDialog::target() const
{
    return ui->dstEdit->text();
}

void CloneProjectDialog::browse(void (CloneProjectDialog::*receiver)(QString))
{
    // A chooser that was cancelled never delivered its selection; drop that receiver, so the next
    // selection reaches only the button that asked for it.
    disconnect(dirChooser, &QFileDialog::fileSelected, this, nullptr);
    connect(dirChooser, &QFileDialog::fileSelected, this, receiver);
    dirChooser->show();
}

void CloneProjectDialog::on_srcButton_clicked()
{
    browse(&CloneProjectDialog::srcFileSelected);
}

void CloneProjectDialog::on_dstButton_clicked()
{
    browse(&CloneProjectDialog::dstFileSelected);
}

void CloneProjectDialog::srcFileSelected(QString file)
{
    disconnect(dirChooser, &QFileDialog::fileSelected, this, &CloneProjectDialog::srcFileSelected);
    if (!file.isEmpty()) ui->srcEdit->setText(file);
}

void CloneProjectDialog::dstFileSelected(QString file)
{
    disconnect(dirChooser, &QFileDialog::fileSelected, this, &CloneProjectDialog::dstFileSelected);
    if (file.isEmpty()) return;
    ui->dstEdit->setText(file);
    ui->cloneButton->setEnabled(true);
}

CloneProjectDialog::Answer CloneProjectDialog::ask(const QString &text)
{
    const auto button = QMessageBox::warning(nullptr, QString(), text,
                                             QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::Cancel);
    if (button == QMessageBox::YesToAll) return Answer::YesToAll;
    return button == QMessageBox::Yes ? Answer::Yes : Answer::Cancel;
}

void CloneProjectDialog::on_cloneButton_clicked()
{
    overwriteAll = false;
    const QString srcPath = ui->srcEdit->text();
    const QString dstPath = ui->dstEdit->text();
    const QDir src(srcPath);
    const QDir dst(dstPath);

    if (srcPath.isEmpty() || !src.exists()) {
        critical(tr("Directory does not exist:\n") + srcPath);
        return;
    }
    // Copying a directory into itself would never end, and onto itself would delete each file
    // before copying it. A link in the target leading back into the source counts as well.
    QStringList walked;
    const QString inside =
        dstPath.isEmpty() ? QString() : destinationInside(src, dstPath, src.canonicalPath(), walked);
    if (!inside.isEmpty()) {
        critical(tr("Cannot clone a project into itself:\n") + inside);
        return;
    }
    if (dstPath.isEmpty() || (!dst.exists() && !QDir().mkdir(dstPath))) {
        critical(tr("Cannot create directory:\n") + dstPath);
        return;
    }
    copying.clear();
    if (copyDir(src, dst)) {
        emit cloneComplete(dstPath);
        accept();
    }
}

bool CloneProjectDialog::copyDir(const QDir &src, const QDir &dst)
{
    if (!dst.exists()) {
        if (!QDir().mkdir(dst.path())) {
            critical(tr("Cannot create directory:\n") + dst.path());
            return false;
        }
    } else if (!overwriteAll) {
        const Answer answer = ask(tr("Directory already exist:\n") + dst.path() + tr("\nOverwrite?"));
        if (answer == Answer::Cancel) return false;
        overwriteAll = answer == Answer::YesToAll;
    }

    const QDir::Filters hidden = QDir::Hidden;
    for (const QString &name : src.entryList(QDir::Files | hidden, QDir::Unsorted)) {
        const QString dest = dst.path() + QLatin1Char('/') + name;
        const QFileInfo existing(dest);
        if (existing.exists() || existing.isSymLink()) {
            if (!overwriteAll) {
                const Answer answer = ask(tr("File already exist:\n") + dest + tr("\nOverwrite?"));
                if (answer == Answer::Cancel) return false;
                overwriteAll = answer == Answer::YesToAll;
            }
            QFile::remove(dest);
        }
        if (!QFile::copy(src.filePath(name), dest)) {
            critical(tr("Cannot copy file:\n") + dest);
            return false;
        }
    }

    copying.append(src.canonicalPath());
    for (const QString &name : src.entryList(QDir::Dirs | QDir::NoDotAndDotDot | hidden, QDir::Unsorted)) {
        const QDir sub(src.filePath(name));
        if (copying.contains(sub.canonicalPath())) continue;
        if (!copyDir(sub, QDir(dst.filePath(name)))) return false;
    }
    copying.removeLast();
    return true;
}
