#include "hvproject.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QSettings>
#include <QTextCodec>
#include <QXmlStreamReader>

namespace
{

// The platform's suffix of executables, so the default tool paths name real files.
#ifdef Q_OS_WIN
const char *const exeSuffix = ".exe";
#else
const char *const exeSuffix = "";
#endif

const char *const buildRootKey = "buildRoot";
const char *const buildExeKey = "buildExe";
const char *const scriptExeKey = "scriptExe";
const char *const projectFileKey = "projectFile";

// Far beyond any real project file. A larger file, or one nested deeper, is not read into the
// document tree, whose recursive parser would run out of stack.
const qint64 maxProjectSize = 4 * 1024 * 1024;
const int maxProjectDepth = 256;

bool nestedTooDeep(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > maxProjectDepth) return true;
        if (token == QXmlStreamReader::EndElement) --depth;
    }
    return false;
}

QString toolPath(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QLatin1String(name) + QLatin1String(exeSuffix);
}

void critical(const QString &text)
{
    QMessageBox::critical(nullptr, QString(), text);
}

} // namespace

HVProject::HVProject(QObject *parent)
    : QObject(parent), decoder(QTextCodec::codecForName("UTF-8")->makeDecoder())
{
    const QString appDir = QCoreApplication::applicationDirPath();
    m_buildExe = toolPath(appDir, "kirrup");
    m_buildRoot = appDir + QStringLiteral("/..");
    m_scriptExe = toolPath(appDir, "tollan");

    rereadTimer.setSingleShot(true);
    rereadTimer.setInterval(150);
    connect(&rereadTimer, &QTimer::timeout, this, &HVProject::readProject);

    // One pipe for both streams: the builder's errors land in the log where it wrote them.
    process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &HVProject::processFinished);
    connect(&process, &QProcess::readyReadStandardOutput, this, &HVProject::processReadyRead);
    connect(&process, &QProcess::errorOccurred, this, &HVProject::processError);
    connect(&process, &QProcess::stateChanged, this, &HVProject::buildingChanged);
}

HVProject::~HVProject()
{
    // Leaving a builder behind would have it write into the project after velmo has gone.
    disconnect(&process, nullptr, this, nullptr);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(3000);
    }
    delete watcher;
}

bool HVProject::setText(QString &member, const QString &value, void (HVProject::*changed)())
{
    if (member == value) return false;
    member = value;
    emit(this->*changed)();
    return true;
}

void HVProject::setValid(bool on)
{
    if (m_valid == on) return;
    m_valid = on;
    emit validChanged();
}

void HVProject::setBuildExe(const QString &path)
{
    if (!setText(m_buildExe, path, &HVProject::buildExeChanged)) return;
    const QString dir = QFileInfo(path).path();
    setBuildRoot(dir + QStringLiteral("/.."));
    setScriptExe(toolPath(dir, "tollan"));
}

void HVProject::setBuildRoot(const QString &path)
{
    setText(m_buildRoot, path, &HVProject::buildRootChanged);
}

void HVProject::setScriptExe(const QString &path)
{
    setText(m_scriptExe, path, &HVProject::scriptExeChanged);
}

void HVProject::loadSettings(QSettings *store)
{
    if (!store) return;
    setBuildRoot(store->value(buildRootKey, m_buildRoot).toString());
    setBuildExe(store->value(buildExeKey, m_buildExe).toString());
    // Read after the builder, so a compiler path the user stored wins over the derived one.
    setScriptExe(store->value(scriptExeKey, m_scriptExe).toString());
    const QString project = store->value(projectFileKey, QString()).toString();
    if (!project.isEmpty()) open(project);
}

void HVProject::saveSettings(QSettings *store) const
{
    if (!store) return;
    store->setValue(buildRootKey, m_buildRoot);
    store->setValue(buildExeKey, m_buildExe);
    store->setValue(scriptExeKey, m_scriptExe);
    store->setValue(projectFileKey, m_projectFile);
}

bool HVProject::open(const QString &fname)
{
    setText(m_hardwareFile, QString(), &HVProject::hardwareFileChanged);
    setText(m_scriptFile, QString(), &HVProject::scriptFileChanged);
    setText(m_projectFile, fname, &HVProject::projectFileChanged);

    delete watcher;
    watcher = nullptr;
    rereadTimer.stop();
    if (fname.isEmpty()) return true;

    watcher = new QFileSystemWatcher(this);
    watcher->addPath(fname);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &HVProject::watchedFileChanged);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &HVProject::directoryChanged);
    readProject();
    return true;
}

void HVProject::fileChanged(const QString &)
{
    // Asked for directly: read now, which also answers a watcher notice still waiting.
    rereadTimer.stop();
    if (!m_projectFile.isEmpty()) readProject();
}

void HVProject::watchedFileChanged(const QString &path)
{
    // Editors that save by writing a new file and renaming it over the old one end the watch on the
    // old file; watch the path again, or the directory until the new file has arrived.
    if (watcher && path == m_projectFile && !watcher->files().contains(path)) {
        if (QFileInfo::exists(path))
            watcher->addPath(path);
        else
            watcher->addPath(QFileInfo(path).absolutePath());
    }
    rereadTimer.start();
}

void HVProject::directoryChanged(const QString &path)
{
    if (!watcher || !QFileInfo::exists(m_projectFile)) return;
    watcher->removePath(path);
    if (watcher->addPath(m_projectFile)) rereadTimer.start();
}

void HVProject::readProject()
{
    setText(m_scriptFile, QString(), &HVProject::scriptFileChanged);
    setText(m_hardwareFile, QString(), &HVProject::hardwareFileChanged);

    const QString path = m_projectFile;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // The image of a project that could not be read is nobody's: the upload must not offer it.
        setText(m_imageFile, QString(), &HVProject::imageFileChanged);
        setValid(false);
        critical(tr("Failed to open:\n") + path);
        return;
    }
    const QByteArray xml = file.size() <= maxProjectSize ? file.read(maxProjectSize + 1) : QByteArray();
    QDomDocument doc;
    if (xml.isEmpty() || xml.size() > maxProjectSize || nestedTooDeep(xml) || !doc.setContent(xml) ||
        doc.documentElement().tagName() != QLatin1String("project")) {
        setText(m_imageFile, QString(), &HVProject::imageFileChanged);
        setValid(false);
        critical(tr("Not a project file:\n") + path);
        return;
    }
    const QDomElement root = doc.documentElement();

    QString hardware;
    const QDomElement hw = root.firstChildElement(QStringLiteral("hardware"));
    if (!hw.isNull() && hw.hasAttribute(QStringLiteral("in"))) hardware = hw.attribute(QStringLiteral("in"));

    QString script;
    const QDomElement sc =
        root.firstChildElement(QStringLiteral("scripting")).firstChildElement(QStringLiteral("script"));
    if (!sc.isNull()) script = sc.attribute(QStringLiteral("in"));

    QString image = QStringLiteral("wifi.dfu");
    const QDomElement im = root.firstChildElement(QStringLiteral("image"));
    if (!im.isNull()) image = im.attribute(QStringLiteral("out"), image);

    // Relative names mean what they mean to the builder, which runs in the project's directory.
    const QDir dir = QFileInfo(path).absoluteDir();
    auto resolve = [&dir](const QString &name) {
        return name.isEmpty() || QDir::isAbsolutePath(name) ? name : dir.filePath(name);
    };
    setText(m_hardwareFile, resolve(hardware), &HVProject::hardwareFileChanged);
    setText(m_scriptFile, resolve(script), &HVProject::scriptFileChanged);
    setText(m_imageFile, resolve(image), &HVProject::imageFileChanged);
    setValid(true);
}

bool HVProject::build()
{
    if (process.state() != QProcess::NotRunning) {
        appendOutput(tr("\nA build is already running.\n"));
        return true;
    }
    process.setWorkingDirectory(QFileInfo(m_projectFile).absolutePath());
    decoder.reset(QTextCodec::codecForName("UTF-8")->makeDecoder());
    m_buildOutput.clear();
    emit buildOutputChanged();
    emit buildOutputCleared();
    process.start(m_buildExe, {m_projectFile, m_buildRoot, m_scriptExe}, QIODevice::ReadWrite);
    return true;
}

void HVProject::appendOutput(const QString &text)
{
    m_buildOutput += text;
    emit buildOutputChanged();
    emit buildOutputAppended(text);
}

void HVProject::processReadyRead()
{
    const QByteArray data = process.readAllStandardOutput();
    if (!data.isEmpty()) appendOutput(decoder->toUnicode(data));
}

void HVProject::processError(QProcess::ProcessError error)
{
    // A builder that never ran sends no finished signal; say why here.
    if (error != QProcess::FailedToStart) return;
    const QString reason = tr("Cannot start %1: %2").arg(m_buildExe, process.errorString());
    appendOutput(reason + QStringLiteral("\nFailed"));
    critical(tr("Build failed\n") + reason);
}

void HVProject::processFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    processReadyRead();
    if (exitStatus == QProcess::CrashExit || exitCode != 0) {
        appendOutput(QStringLiteral("\nFailed"));
        critical(tr("Build failed\n"));
    } else {
        appendOutput(QStringLiteral("\nSuccess"));
    }
}
