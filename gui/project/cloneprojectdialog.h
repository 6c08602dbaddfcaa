// Copies a project directory with everything below it to a new directory, asking before it
// overwrites, and reports the new directory so the copy can be opened.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QDir;
class QFileDialog;

namespace Ui
{
class CloneProjectDialog;
}

class CloneProjectDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CloneProjectDialog(QWidget *parent = nullptr);
    ~CloneProjectDialog() override;

    // Proposes the directory to clone from.
    void setSource(const QString &dir);
    QString source() const;
    QString target() const;

    // The directory chooser both browse buttons share.
    QFileDialog *chooser() const { return dirChooser; }

signals:
    void cloneComplete(QString newdir);

public slots:
    void on_srcButton_clicked();
    void on_dstButton_clicked();
    void on_cloneButton_clicked();
    void srcFileSelected(QString file);
    void dstFileSelected(QString file);

private:
    enum class Answer { Yes, YesToAll, Cancel };
    Answer ask(const QString &text);
    bool copyDir(const QDir &src, const QDir &dst);
    void browse(void (CloneProjectDialog::*receiver)(QString));

    Ui::CloneProjectDialog *ui;
    QFileDialog *dirChooser;
    bool overwriteAll = false;
    // Canonical paths of the directories being copied, so a link back up the tree is not followed.
    QStringList copying;
};
