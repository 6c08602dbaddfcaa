// What velmo remembers across runs besides the keys of the project and the upload (the port, the
// window's layout, the log pane's boxes), written a moment after each change; and the reopening of
// a port that was lost by itself and came back.
#include "logview.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSplitter>

namespace
{

const char *const portPathKey = "portPath";
const char *const portSerialKey = "portSerial";
const char *const baudRateKey = "baudRate";
const char *const portOpenKey = "portOpen";
const char *const geometryKey = "geometry";
const char *const splitterKey = "splitter";
const char *const currentTabKey = "currentTab";
const char *const logCommKey = "logComm";
const char *const logTextKey = "logText";
const char *const logScrollKey = "logScroll";

// Long enough to gather a window drag or a burst of changes into one write.
const int saveDelayMs = 500;
// Pseudo-terminals and links announce nothing when they come back: look for them this often.
const int lostPollMs = 1000;
// A port that came back but will not open (its permissions not yet set) is tried this often.
const int reopenTries = 3;
// The interface's share of the window's height by default; the log pane takes the rest.
const int interfaceShare = 70;

bool samePort(const QString &a, const QString &b)
{
    if (a == b) return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

} // namespace

void MainWindow::loadSession()
{
    loading = true;
    saveTimer.setSingleShot(true);
    saveTimer.setInterval(saveDelayMs);
    connect(&saveTimer, &QTimer::timeout, this, &MainWindow::saveSettings);
    lostTimer.setInterval(lostPollMs);
    connect(&lostTimer, &QTimer::timeout, this, &MainWindow::reopenLostPort);
    connect(&comm, &UartHVConnection::DevicesListed, this, &MainWindow::reopenLostPort);

    portPath = settings.value(portPathKey).toString();
    portSerial = settings.value(portSerialKey).toString();
    portBaud = settings.value(baudRateKey, portBaud).toInt();
    portOpen = settings.value(portOpenKey, false).toBool();
    if (!portPath.isEmpty()) {
        // The adapter may be back under another name since.
        QString shown = portPath;
        if (!QFileInfo::exists(portPath) && !portSerial.isEmpty())
            for (const PortInfo &p : comm.listedPorts())
                if (p.serial == portSerial) shown = p.port;
        emit select_port(shown);
    }
    if (portBaud > 0 && portBaud != 115200) emit select_baud_rate(portBaud);

    restoreGeometry(settings.value(geometryKey).toByteArray());
    // Both panes grow with the window, each by its share.
    ui->splitter->setStretchFactor(0, interfaceShare);
    ui->splitter->setStretchFactor(1, 100 - interfaceShare);
    // Without a stored state the shares are set once the window has its size.
    defaultSplit = !ui->splitter->restoreState(settings.value(splitterKey).toByteArray());
    setCurrentTab(settings.value(currentTabKey, 0).toInt());
    ui->checkLogHex->setChecked(settings.value(logCommKey, true).toBool());
    ui->checkLogText->setChecked(settings.value(logTextKey, true).toBool());
    const bool scroll = settings.value(logScrollKey, true).toBool();
    ui->checkLogScroll->setChecked(scroll);
    ui->textDebug->scroll(scroll);

    for (QCheckBox *box : {ui->checkLogHex, ui->checkLogText, ui->checkLogScroll})
        connect(box, &QCheckBox::toggled, this, &MainWindow::scheduleSave);
    connect(ui->splitter, &QSplitter::splitterMoved, this, &MainWindow::scheduleSave);
    connect(this, &MainWindow::dfuEraseKeysChanged, this, &MainWindow::scheduleSave);
    for (auto changed : {&HVProject::projectFileChanged, &HVProject::buildExeChanged,
                         &HVProject::buildRootChanged, &HVProject::scriptExeChanged})
        connect(&project, changed, this, &MainWindow::scheduleSave);

    fallBackFromStaleTools();
    loading = false;
}

void MainWindow::writeSession()
{
    settings.setValue(portPathKey, portPath);
    settings.setValue(portSerialKey, portSerial);
    settings.setValue(baudRateKey, portBaud);
    settings.setValue(portOpenKey, portOpen);
    settings.setValue(geometryKey, saveGeometry());
    settings.setValue(splitterKey, ui->splitter->saveState());
    settings.setValue(currentTabKey, m_currentTab);
    settings.setValue(logCommKey, ui->checkLogHex->isChecked());
    settings.setValue(logTextKey, ui->checkLogText->isChecked());
    settings.setValue(logScrollKey, ui->checkLogScroll->isChecked());
}

void MainWindow::scheduleSave()
{
    if (!loading) saveTimer.start();
}

void MainWindow::setCurrentTab(int index)
{
    if (index == m_currentTab || index < 0) return;
    m_currentTab = index;
    emit currentTabChanged();
    scheduleSave();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (isVisible()) scheduleSave();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!defaultSplit) return;
    defaultSplit = false;
    const int height = ui->splitter->height();
    ui->splitter->setSizes({height * interfaceShare / 100, height - height * interfaceShare / 100});
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    if (isVisible()) scheduleSave();
}

// An SDK that was moved or upgraded leaves stored tool paths behind; the tools beside velmo are the
// ones it was shipped with.
void MainWindow::fallBackFromStaleTools()
{
    const QString dir = QCoreApplication::applicationDirPath();
    // Only a path elsewhere is replaced: the one beside velmo is the fallback itself.
    const auto stale = [](const QString &path, const QString &fallback) {
        return path != fallback && !QFileInfo::exists(path);
    };
    const auto note = [this](const QString &tool, const QString &was, const QString &now) {
        debugPrint(tr("The stored path of %1, %2, no longer exists: using %3")
                       .arg(tool, was.toHtmlEscaped(), now.toHtmlEscaped()));
    };
    const QString build = project.buildExe();
    if (stale(build, dir + QStringLiteral("/kirrup"))) {
        project.setBuildExe(dir + QStringLiteral("/kirrup"));
        note(QStringLiteral("kirrup"), build, project.buildExe());
    }
    const QString script = project.scriptExe();
    if (stale(script, dir + QStringLiteral("/tollan"))) {
        project.setScriptExe(dir + QStringLiteral("/tollan"));
        note(QStringLiteral("tollan"), script, project.scriptExe());
    }
    const QString root = project.buildRoot();
    if (stale(root, dir + QStringLiteral("/.."))) {
        project.setBuildRoot(dir + QStringLiteral("/.."));
        note(QStringLiteral("the SDK"), root, project.buildRoot());
    }
}

QString MainWindow::serialOf(const QString &port) const
{
    for (const PortInfo &p : comm.listedPorts())
        if (samePort(p.port, port)) return p.serial;
    return QString();
}

void MainWindow::openRememberedPort()
{
    if (!portOpen || portPath.isEmpty()) return;
    QString path;
    QString name;
    for (const PortInfo &p : comm.listedPorts()) {
        if (p.port == portPath ||
            (!QFileInfo::exists(portPath) && !portSerial.isEmpty() && p.serial == portSerial)) {
            path = p.port;
            name = p.name;
            break;
        }
    }
    if (path.isEmpty() && QFileInfo::exists(portPath)) path = name = portPath;
    if (!path.isEmpty()) attachPort(name, path, portBaud);
}

void MainWindow::portLost()
{
    lost = LostPort{portName, portPath, portSerial, portBaud, !QFileInfo::exists(portPath), 0};
    lostTimer.start();
    detachPort();
}

void MainWindow::detachPort()
{
    comm.CloseDevice();
    emit attached(false, QString(), QString());
}

// Runs after every listing and now and then while a lost port is away.
void MainWindow::reopenLostPort()
{
    if (lost.path.isEmpty()) return;
    const bool pathThere = QFileInfo::exists(lost.path);
    if (!pathThere) lost.gone = true;
    if (!lost.gone) return;

    QString path;
    QString name = lost.name;
    if (pathThere) {
        path = lost.path;
    } else if (!lost.serial.isEmpty()) {
        for (const PortInfo &p : comm.listedPorts())
            if (p.serial == lost.serial && QFileInfo::exists(p.port)) {
                path = p.port;
                name = p.name;
                break;
            }
    }
    if (path.isEmpty()) return;

    LostPort was = lost;
    lost = LostPort();
    lostTimer.stop();
    if (attachPort(name, path, was.baud)) {
        debugPrint(
            path == was.path
                ? tr("Port %1 is back: reopened").arg(path.toHtmlEscaped())
                : tr("Port %1 is back as %2: reopened").arg(was.path.toHtmlEscaped(), path.toHtmlEscaped()));
        return;
    }
    // Not openable yet (its permissions may still be on their way): a few more looks.
    if (++was.tries < reopenTries) {
        lost = was;
        lostTimer.start();
    }
}
