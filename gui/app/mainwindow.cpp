#include "mainwindow.h"

#include "commandbox.h"
#include "commandparser.h"
#include "logformat.h"
#include "logview.h"
#include "nextstep.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPushButton>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickView>
#include <QRegularExpression>
#include <QToolTip>

static void initQmlResource()
{
    Q_INIT_RESOURCE(qml);
}

// Qt Quick aborts where no OpenGL context can be made (the offscreen platform, some virtual and
// remote displays); the software scene graph draws the same interface without one.
static void chooseSceneGraphBackend()
{
    static bool chosen = false;
    if (chosen || !qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) return;
    chosen = true;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (surface.isValid() && context.create() && context.makeCurrent(&surface)) {
        context.doneCurrent();
        return;
    }
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
}

namespace
{

const char *const eraseKeysKey = "dfuEraseKeys";
const char *const editorProgramKey = "editorProgram";
// Opens the file in the desktop's editor for its type.
const char *const defaultEditor = "xdg-open";

// Offered fastest first; 115200 is what a module talks out of reset.
const int baudRates[] = {5000000, 2500000, 2000000, 1000000, 500000, 256000, 128000, 115200, 57600, 38400,
                         19200,   14400,   9600,    4800,    2400,   1200,   600,    300,    110};
const int defaultBaudRate = 115200;

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    construct();
}

MainWindow::MainWindow(std::unique_ptr<PortEnumerator> ports, QWidget *parent)
    : QMainWindow(parent), comm(std::move(ports))
{
    construct();
}

// The window is built in the order below: every later step relies on the ones before it.
void MainWindow::construct()
{
    // Signal signatures of the API objects use the aliases, so they exist before any connection.
    wifi_register_metatypes();
    buildWidgets();
    // The interface is loaded before anything is emitted to it, or it would miss the baud rates
    // and the first port list.
    loadInterface();
    connectApiAndLog();
    addLogSearch();
    // Before the link's decoding is connected, so a response's latency is known while it is decoded.
    connectLatency();
    connectUpload();
    connect(cloneDialog, &CloneProjectDialog::cloneComplete, this, &MainWindow::cloned);
    createParser();
    offerBaudRates();
    connectLink();
    connect(settingsDialog.get(), &QDialog::accepted, this, &MainWindow::settingsAccepted);
    loadSettings();
}

MainWindow::~MainWindow()
{
    // The QML side refers to the members below; it goes first.
    delete viewContainer;
    view = nullptr;
    writeSettings();
}

void MainWindow::buildWidgets()
{
    ui = std::make_unique<Ui::MainWindow>();
    ui->setupUi(this);
}

// A main.qml in the working directory replaces the built-in interface, so it can be worked on
// without rebuilding the program.
void MainWindow::loadInterface()
{
    initQmlResource();
    chooseSceneGraphBackend();
    auto *layout = new QHBoxLayout(ui->frame);
    layout->setContentsMargins(0, 0, 0, 0);

    view = new QQuickView;
    QQmlContext *context = view->rootContext();
    context->setContextProperty(QStringLiteral("wifi"), &wifi);
    context->setContextProperty(QStringLiteral("sme"), &wifi.sme);
    context->setContextProperty(QStringLiteral("dfu"), &wifi.dfu);
    context->setContextProperty(QStringLiteral("system"), &wifi.system);
    context->setContextProperty(QStringLiteral("tcpip"), &wifi.tcpip);
    context->setContextProperty(QStringLiteral("endpoint"), &wifi.endpoint);
    context->setContextProperty(QStringLiteral("config"), &wifi.config);
    context->setContextProperty(QStringLiteral("flash"), &wifi.flash);
    context->setContextProperty(QStringLiteral("hardware"), &wifi.hardware);
    context->setContextProperty(QStringLiteral("i2c"), &wifi.i2c);
    context->setContextProperty(QStringLiteral("https"), &wifi.https);
    context->setContextProperty(QStringLiteral("mainobj"), this);
    context->setContextProperty(QStringLiteral("comm"), &comm);
    context->setContextProperty(QStringLiteral("project"), &project);

    const QString local = QStringLiteral("main.qml");
    view->setSource(QFileInfo::exists(local) ? QUrl::fromLocalFile(local)
                                             : QUrl(QStringLiteral("qrc:/qml/main.qml")));
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    // Qt.quit() from the interface ends the program as closing the window does: the event loop
    // returns and the settings are saved. Queued, so the interface's handler finishes first.
    connect(
        view->engine(), &QQmlEngine::quit, this,
        [this] {
            close();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);

    viewContainer = QWidget::createWindowContainer(view);
    layout->addWidget(viewContainer);
    viewContainer->setFocus();
}

void MainWindow::connectApiAndLog()
{
    connect(&wifi, &cls_wifi::tx_data, this, &MainWindow::txData);
    connect(&wifi, &cls_wifi::parsed_message_str, this, &MainWindow::debugPrintStringList);
    connect(ui->pushLogCopy, &QPushButton::clicked, ui->textDebug, &LogView::copy);
    connect(ui->checkLogScroll, &QCheckBox::clicked, ui->textDebug, &LogView::scroll);
    connect(ui->actionLogToFlowChart, &QAction::triggered, ui->textDebug, &LogView::copyFlowChart);
    // In no menu: the window's own action list is what makes its shortcut work.
    addAction(ui->actionLogToFlowChart);
}

void MainWindow::createParser()
{
    parser = new CommandParser(this);
    connect(parser, &CommandParser::log_message, this, &MainWindow::debugPrintText);
    parser->loadDefault(QCoreApplication::applicationDirPath());
    commandBox = new CommandBox(ui->lineCommand, *parser, settings, this);
}

void MainWindow::offerBaudRates()
{
    for (int rate : baudRates)
        emit baud_rate(QString::number(rate), rate);
    emit select_baud_rate(defaultBaudRate);
}

void MainWindow::connectLink()
{
    // Decoding first, so a chunk's decoded entries come before its "RX:" line.
    connect(&comm, &HVConnection::RxData, &wifi, &cls_wifi::rx_data);
    // The reason comes before the close, so the red line precedes the interface's change.
    connect(&comm, &HVConnection::LinkError, this, &MainWindow::showLinkError);
    // Closed as close_port closes it, and remembered for when it comes back.
    connect(&comm, &HVConnection::DeviceClosed, this, &MainWindow::portLost);
    connect(&comm, &HVConnection::RxData, this, &MainWindow::rxData);
    // Last, so the interface's port list follows the baud rates.
    comm.DiscoverDevices();
}

void MainWindow::loadSettings()
{
    editorProgram = settings.value(editorProgramKey, QString::fromLatin1(defaultEditor)).toString();
    m_dfuEraseKeys = settings.value(eraseKeysKey, false).toBool();
    project.loadSettings(&settings);
    // Only now: the interface's handler may look at the project as stored.
    emit dfuEraseKeysChanged();
    // Through the setter, so a binding in the interface sees flow control switched on.
    setFlowcontrol(true);
    loadSession();
}

void MainWindow::setDfuEraseKeys(bool on)
{
    if (on == m_dfuEraseKeys) return;
    m_dfuEraseKeys = on;
    emit dfuEraseKeysChanged();
}

void MainWindow::setFlowcontrol(bool on)
{
    if (on == m_flowcontrol) return;
    m_flowcontrol = on;
    emit flowcontrolChanged();
}

void MainWindow::writeSettings()
{
    project.saveSettings(&settings);
    settings.setValue(editorProgramKey, editorProgram);
    settings.setValue(eraseKeysKey, m_dfuEraseKeys);
    writeSession();
}

void MainWindow::saveSettings()
{
    saveTimer.stop();
    writeSettings();
    settings.sync();
}

QString MainWindow::timestampPrefix(const QDateTime &now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("<b>%1.%2.%3 %4:%5:%6.%7</b> ")
        .arg(d.year(), 4)
        .arg(d.month(), 2, 10, zero)
        .arg(d.day(), 2, 10, zero)
        .arg(t.hour(), 2, 10, zero)
        .arg(t.minute(), 2, 10, zero)
        .arg(t.second(), 2, 10, zero)
        .arg(t.msec(), 4, 10, zero);
}

void MainWindow::debugPrint(QString txt)
{
    ui->textDebug->addLine(logPrefix(), txt);
}

void MainWindow::debugPrintList(QStringList txt)
{
    ui->textDebug->addLine(logPrefix(), txt);
}

void MainWindow::debugPrintHex(QString txt)
{
    if (ui->checkLogHex->isChecked()) debugPrint(txt);
}

void MainWindow::debugPrintText(QString txt)
{
    if (ui->checkLogText->isChecked()) debugPrint(txt);
}

void MainWindow::debugPrintStringList(QStringList txt)
{
    if (!ui->checkLogText->isChecked()) return;
    debugPrintList(txt);
    // A failing result is followed by what to do about it, where that is known.
    static const QRegularExpression failed(
        QStringLiteral("^ (?:result|reason):0x([0-9a-f]{4}) \\[<font color=red>"));
    for (int i = 1; i < txt.size(); ++i) {
        const QRegularExpressionMatch m = failed.match(txt.at(i));
        if (!m.hasMatch()) continue;
        const QString hint = nextstep::hint(uint16(m.captured(1).toUInt(nullptr, 16)), txt.first());
        if (!hint.isEmpty())
            debugPrint(QStringLiteral("<font color=red>%1</font>").arg(hint.toHtmlEscaped()));
        return;
    }
}

void MainWindow::rxData(QByteArray data)
{
    debugPrintHex(QStringLiteral("RX: %1").arg(QString::fromLatin1(data.toHex())));
}

// The one way from the API objects to the port.
void MainWindow::txData(QByteArray data)
{
    debugPrintHex(QStringLiteral("TX: %1").arg(QString::fromLatin1(data.toHex())));
    comm.TxData(data);
}

// A typed packet goes straight to the port, without a "TX:" line.
void MainWindow::on_lineCommand_returnPressed()
{
    QString msg;
    const QString text = ui->lineCommand->text();
    const QByteArray packet = parser->parse(text, msg);
    if (packet.isEmpty()) {
        // The typed text is the user's: escaped, so it shows as typed and cannot restyle the log.
        if (!text.trimmed().isEmpty())
            debugPrint(QStringLiteral("<font color=red>%1</font>").arg(commandBox->refusal(text).toHtmlEscaped()));
        return;
    }
    comm.TxData(packet);
    commandBox->remember(text);
    ui->lineCommand->clear();
}

void MainWindow::on_lineCommand_textEdited(QString arg1)
{
    QPalette palette = ui->lineCommand->palette();
    QString msg;
    const bool valid = arg1.isEmpty() || !parser->parse(arg1, msg).isEmpty();
    if (valid) {
        palette.setColor(QPalette::Text, Qt::black);
        // A complete command that takes parameters shows them while they are typed.
        const QString hint = commandBox->hint(arg1);
        if (hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(ui->lineCommand->mapToGlobal(QPoint(0, 0)), hint);
    } else {
        if (!msg.isEmpty()) QToolTip::showText(ui->lineCommand->mapToGlobal(QPoint(0, 0)), msg);
        palette.setColor(QPalette::Text, Qt::red);
    }
    ui->lineCommand->setPalette(palette);
}

void MainWindow::raw_tx(int byte)
{
    comm.TxData(QByteArray(1, char(byte & 0xff)));
}

void MainWindow::on_pushLogClear_clicked()
{
    ui->textDebug->clearLog();
}

void MainWindow::refresh_ports()
{
    comm.DiscoverDevices();
}

void MainWindow::open_port(QString name, QString port, int baud)
{
    attachPort(name, port, baud);
}

bool MainWindow::attachPort(const QString &name, const QString &port, int baud)
{
    openError.clear();
    opening = true;
    const bool open = comm.OpenDevice(port, baud);
    opening = false;
    if (open) {
        lost = LostPort();
        lostTimer.stop();
        portName = name;
        portPath = port;
        portSerial = serialOf(port);
        portBaud = baud;
        portOpen = true;
        scheduleSave();
        emit attached(true, name, QString::number(baud));
        return true;
    }
    // The link reports the system's reason; where it gave none, still say which port failed.
    QString reason = openError;
    if (reason.isEmpty()) {
        reason = tr("Could not open %1").arg(port);
        showLinkError(reason);
    }
    emit open_failed(reason);
    return false;
}

void MainWindow::showLinkError(const QString &message)
{
    if (opening && openError.isEmpty()) openError = message;
    debugPrint(QStringLiteral("<font color=red>%1</font>").arg(message.toHtmlEscaped()));
}

// The user's close: a lost port is no longer waited for, and the next start opens none.
void MainWindow::close_port()
{
    lost = LostPort();
    lostTimer.stop();
    if (portOpen) {
        portOpen = false;
        scheduleSave();
    }
    detachPort();
}

QString MainWindow::resultText(int code) const
{
    return code < 0 || code > 0xffff ? QString() : logformat::result_text(uint16(code));
}

QString MainWindow::resultHint(int code, QString message) const
{
    return code <= 0 || code > 0xffff ? QString() : nextstep::hint(uint16(code), message);
}

void MainWindow::copyFlowChart()
{
    ui->actionLogToFlowChart->trigger();
}

QString MainWindow::flowChartShortcut() const
{
    return ui->actionLogToFlowChart->shortcut().toString(QKeySequence::NativeText);
}

void MainWindow::DeviceFound(int, int, QString, bool) {}

void MainWindow::DeviceFound(QString, QString) {}

void MainWindow::DeviceDisconnect(int, int) {}
