// Project workspace of velmo: the model of the open project (its files, a watch on the project file,
// the builder run and its log) and the dialogs that clone a project and set the tool paths.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <memory>

class QFileSystemWatcher;
class QSettings;
class QTextDecoder;

class HVProject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString projectFile READ projectFile NOTIFY projectFileChanged)
    Q_PROPERTY(QString hardwareFile READ hardwareFile NOTIFY hardwareFileChanged)
    Q_PROPERTY(QString scriptFile READ scriptFile NOTIFY scriptFileChanged)
    Q_PROPERTY(QString imageFile READ imageFile NOTIFY imageFileChanged)
    Q_PROPERTY(QString buildExe READ buildExe WRITE setBuildExe NOTIFY buildExeChanged)
    Q_PROPERTY(QString buildRoot READ buildRoot WRITE setBuildRoot NOTIFY buildRootChanged)
    Q_PROPERTY(QString scriptExe READ scriptExe WRITE setScriptExe NOTIFY scriptExeChanged)
    Q_PROPERTY(QString buildOutput READ buildOutput NOTIFY buildOutputChanged)
    Q_PROPERTY(bool valid READ valid NOTIFY validChanged)
    Q_PROPERTY(bool building READ building NOTIFY buildingChanged)

public:
    explicit HVProject(QObject *parent = nullptr);
    ~HVProject() override;

    QString projectFile() const { return m_projectFile; }
    QString hardwareFile() const { return m_hardwareFile; }
    QString scriptFile() const { return m_scriptFile; }
    QString imageFile() const { return m_imageFile; }
    QString buildExe() const { return m_buildExe; }
    QString buildRoot() const { return m_buildRoot; }
    QString scriptExe() const { return m_scriptExe; }
    QString buildOutput() const { return m_buildOutput; }
    bool valid() const { return m_valid; }
    bool building() const { return process.state() != QProcess::NotRunning; }

    // A new builder path brings the SDK root and the compiler path beside it along.
    void setBuildExe(const QString &path);
    void setBuildRoot(const QString &path);
    void setScriptExe(const QString &path);

    // The tool paths and the open project, kept in the window's settings store; a null store is ignored.
    void loadSettings(QSettings *store);
    void saveSettings(QSettings *store) const;

    Q_INVOKABLE bool open(const QString &fname);
    Q_INVOKABLE bool build();

signals:
    void projectFileChanged();
    void hardwareFileChanged();
    void scriptFileChanged();
    void imageFileChanged();
    void buildExeChanged();
    void buildRootChanged();
    void scriptExeChanged();
    void buildOutputChanged();
    // What a change of buildOutput added, for a view that shows the log as it grows: the text added
    // to the end, or a new, empty log.
    void buildOutputAppended(const QString &text);
    void buildOutputCleared();
    void validChanged();
    void buildingChanged();

public slots:
    void fileChanged(const QString &path);
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void processReadyRead();

private slots:
    // The watcher's notices: the several of one save are gathered into one re-read.
    void watchedFileChanged(const QString &path);
    void directoryChanged(const QString &path);
    void processError(QProcess::ProcessError error);

private:
    void readProject();
    void appendOutput(const QString &text);
    bool setText(QString &member, const QString &value, void (HVProject::*changed)());
    void setValid(bool on);

    QString m_projectFile;
    QString m_hardwareFile;
    QString m_scriptFile;
    QString m_imageFile;
    QString m_buildExe;
    QString m_buildRoot;
    QString m_scriptExe;
    QString m_buildOutput;
    bool m_valid = false;
    QProcess process;
    std::unique_ptr<QTextDecoder> decoder;
    QFileSystemWatcher *watcher = nullptr;
    // Gathers the change notices of one save into one re-read, after the writing has ended.
    QTimer rereadTimer;
};
