#include "projectsettingsdialog.h"

#include "ui_projectsettingsdialog.h"

#include <QFileDialog>

ProjectSettingsDialog::ProjectSettingsDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::ProjectSettingsDialog)
{
    ui->setupUi(this);
}

ProjectSettingsDialog::~ProjectSettingsDialog()
{
    delete ui;
}

QString ProjectSettingsDialog::buildPath() const
{
    return ui->buildLineEdit->text();
}

void ProjectSettingsDialog::setBuildPath(const QString &path)
{
    ui->buildLineEdit->setText(path);
}

QString ProjectSettingsDialog::editorPath() const
{
    return ui->editorLineEdit->text();
}

void ProjectSettingsDialog::setEditorPath(const QString &path)
{
    ui->editorLineEdit->setText(path);
}

void ProjectSettingsDialog::on_buildButton_clicked()
{
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Select kirrup program location"), ui->buildLineEdit->text(),
                                     tr("kirrup (kirrup);;All files (*)"));
    if (!file.isEmpty()) ui->buildLineEdit->setText(file);
}

void ProjectSettingsDialog::on_editorButton_clicked()
{
    // Starts where the builder is: the SDK's tools are the likeliest neighbours.
    const QString file = QFileDialog::getOpenFileName(this, tr("Select editor program"),
                                                      ui->buildLineEdit->text(), tr("All files (*)"));
    if (!file.isEmpty()) ui->editorLineEdit->setText(file);
}
