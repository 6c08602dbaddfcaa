// The paths of the builder and of the editor that velmo starts, edited together.
#pragma once

#include <QDialog>
#include <QString>

namespace Ui
{
class ProjectSettingsDialog;
}

class ProjectSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProjectSettingsDialog(QWidget *parent = nullptr);
    ~ProjectSettingsDialog() override;

    QString buildPath() const;
    void setBuildPath(const QString &path);
    QString editorPath() const;
    void setEditorPath(const QString &path);

public slots:
    void on_buildButton_clicked();
    void on_editorButton_clicked();

private:
    Ui::ProjectSettingsDialog *ui;
};
