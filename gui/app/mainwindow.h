// GUI application of velmo: the main window, which owns the serial connection and the API objects,
// publishes them to the QML user interface in its upper area and logs all traffic into the log pane
// below, with a command line for typed commands and raw packets.
#pragma once

#include "capturereader.h"
#include "cloneprojectdialog.h"
#include "cls_wifi.h"
#include "firmwareupload.h"
#include "hvproject.h"
#include "logclock.h"
#include "portenumerator.h"
#include "projectsettingsdialog.h"
#include "uarthvconnection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

class CommandBox;
class CommandParser;
class QDateTime;
class QQuickView;

namespace Ui
{
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_PROPERTY(bool dfuEraseKeys READ dfuEraseKeys WRITE setDfuEraseKeys NOTIFY dfuEraseKeysChanged)
    Q_PROPERTY(bool flowcontrol READ flowcontrol WRITE setFlowcontrol NOTIFY flowcontrolChanged)
    // An upload runs from uploadFile until the module has started the new firmware or it failed.
    Q_PROPERTY(bool uploading READ uploading NOTIFY uploadingChanged)
    // The file the session is being recorded into, empty when none is.
    Q_PROPERTY(QString captureFileName READ captureFileName NOTIFY captureChanged)
    // A capture is being played into the log.
    Q_PROPERTY(bool replaying READ replaying NOTIFY replayingChanged)
    // The interface's page in front, remembered across runs.
    Q_PROPERTY(int currentTab READ currentTab WRITE setCurrentTab NOTIFY currentTabChanged)

public:
    // Lists the system's serial ports and follows adapters being plugged and pulled.
    explicit MainWindow(QWidget *parent = nullptr);
    // Lists the ports that `ports` gives, on request only.
    explicit MainWindow(std::unique_ptr<PortEnumerator> ports, QWidget *parent = nullptr);
    ~MainWindow() override;

    bool dfuEraseKeys() const { return m_dfuEraseKeys; }
    void setDfuEraseKeys(bool on);
    bool flowcontrol() const { return m_flowcontrol; }
    void setFlowcontrol(bool on);
    bool uploading() const { return upload.uploading(); }
    int currentTab() const { return m_currentTab; }
    void setCurrentTab(int index);
    FirmwareUpload &uploader() { return upload; }

    QString captureFileName() const;
    bool replaying() const { return replay != nullptr; }

    // Writes the persisted settings and flushes the store; run when the event loop has ended.
    void saveSettings();
    // Opens the port that was open when velmo last ended, where it (or its USB adapter) is present.
    void openRememberedPort();

    // The bold date and time put in front of every log line.
    static QString timestampPrefix(const QDateTime &now);

    UartHVConnection &connection() { return comm; }
    cls_wifi &api() { return wifi; }
    HVProject &projectModel() { return project; }
    QQuickView *qmlView() const { return view; }

signals:
    void flowcontrolChanged();
    void dfuEraseKeysChanged();
    void baud_rate(QString text, int value);
    void select_baud_rate(int value);
    void attached(bool open, QString port, QString baud);
    // A port could not be opened: the reason, beginning "Could not open".
    void open_failed(QString reason);
    void upload_progress(int bytes, int total, int time);
    void uploadingChanged();
    void captureChanged();
    void replayingChanged();
    // A capture has been played to its end (ok) or up to damage it could not read past.
    void replayFinished(bool ok, qint64 packets);
    void currentTabChanged();
    // The port to preselect: the one used last.
    void select_port(QString port);
    // The end of an upload: ok once the module started the new firmware, otherwise why not.
    void upload_finished(bool ok, QString reason);

public slots:
    void raw_tx(int byte);
    void refresh_ports();
    void open_port(QString name, QString port, int baud);
    void close_port();
    // Device notifications of other kinds of link; a serial port needs none of them.
    void DeviceFound(int bus, int addr, QString sn, bool available);
    void DeviceFound(QString name, QString port);
    void DeviceDisconnect(int bus, int addr);

    void debugPrint(QString txt);
    void debugPrintList(QStringList txt);
    void debugPrintHex(QString txt);
    void debugPrintText(QString txt);
    void debugPrintStringList(QStringList txt);

    void on_lineCommand_textEdited(QString arg1);
    void on_lineCommand_returnPressed();

    void uploadFile(QString fname);
    void rsp_flash_upload(uint16 status);
    void rsp_flash_upload_finish(uint16 status);
    void rsp_flash_set_address(uint16 result);
    void evt_boot(uint16 major, uint16 minor, uint16 patch, uint16 build, uint16 bootloader_version,
                  uint16 tcpip_version, uint16 hw);
    void evt_mac_address(uint8 hw_interface, hw_addr mac);

    void rxData(QByteArray data);
    void txData(QByteArray data);

    // The text of a result or reason code from the module's result table, empty when unknown.
    Q_INVOKABLE QString resultText(int code) const;
    // A few lines about the image file at `path` for the Firmware page: valid or why not, sizes, the
    // script's events, the certificates.
    Q_INVOKABLE QString imageSummary(QString path) const;
    // What to do next after `code` answered `message` ("sme_start_scan"), empty when nothing is known.
    Q_INVOKABLE QString resultHint(int code, QString message = QString()) const;
    // The log's flow chart on the clipboard, as its shortcut does; and that shortcut, to show it.
    Q_INVOKABLE void copyFlowChart();
    Q_INVOKABLE QString flowChartShortcut() const;

    // Captures (mainwindowcapture.cpp): recording the session, playing a capture back into the log.
    Q_INVOKABLE bool startCapture(QString path);
    Q_INVOKABLE void stopCapture();
    Q_INVOKABLE void chooseCapture();
    Q_INVOKABLE QString defaultCaptureName() const;
    Q_INVOKABLE bool openCapture(QString path);
    Q_INVOKABLE void chooseCaptureToOpen();
    // While a response is being decoded: milliseconds since its command was sent, else -1.
    Q_INVOKABLE double responseLatencyMs() const { return latencyUs < 0 ? -1 : latencyUs / 1000.0; }

    // Project operations of the interface.
    Q_INVOKABLE void editFile(QString fname);
    Q_INVOKABLE QString selectFile(QString fname, QString title, QString filter = QString());
    Q_INVOKABLE void cloneProject();
    Q_INVOKABLE void projectSettings();
    // Opens a project; one in a folder the user cannot write is offered for cloning first.
    Q_INVOKABLE void openProject(QString fname);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_pushLogClear_clicked();
    // A fault of the link, as a red line that no filter hides.
    void showLinkError(const QString &message);
    void cloned(QString newp);
    void settingsAccepted();
    // The open port was lost by itself: closed as close_port does, and watched for its return.
    void portLost();
    void reopenLostPort();

private:
    // Construction, step by step, in the order the constructor runs them.
    void construct();
    void buildWidgets();
    void loadInterface();
    void connectApiAndLog();
    void createParser();
    void offerBaudRates();
    void connectLink();
    void loadSettings();
    void connectUpload(); // mainwindowupload.cpp
    void addLogSearch();  // mainwindowcapture.cpp
    void connectLatency();
    qint64 nowUs() const;
    void noteCommand(const QByteArray &packet);
    void noteReceived(const QByteArray &packet);
    bool logCapturedCommand(const QByteArray &packet);

    void writeSettings();
    QString logPrefix();
    void replaySlice();
    void endReplay(bool ok);
    // mainwindowsession.cpp: what is remembered across runs besides the keys above.
    void loadSession();
    void writeSession();
    void scheduleSave();
    void fallBackFromStaleTools();
    void detachPort();
    bool attachPort(const QString &name, const QString &port, int baud);
    QString serialOf(const QString &port) const;
    static bool folderWritable(const QString &dir);

    UartHVConnection comm;
    cls_wifi wifi;
    FirmwareUpload upload{wifi};
    bool m_dfuEraseKeys = false;
    HVProject project{this};
    CloneProjectDialog *cloneDialog = new CloneProjectDialog(this);
    std::unique_ptr<ProjectSettingsDialog> settingsDialog = std::make_unique<ProjectSettingsDialog>();
    QSettings settings;
    QString editorProgram;
    bool m_flowcontrol = false;
    CommandParser *parser = nullptr;
    CommandBox *commandBox = nullptr;
    std::unique_ptr<Ui::MainWindow> ui;
    QQuickView *view = nullptr;
    QWidget *viewContainer = nullptr;
    LogClock clock;
    // While open_port runs: the link's reason why the port did not open.
    bool opening = false;
    QString openError;
    std::shared_ptr<CaptureFile> capture;
    std::unique_ptr<CaptureReader> replay;
    qint64 replayed = 0;
    // While a captured packet is logged: its recorded time, which its log lines carry instead of now.
    qint64 replayMsecs = -1;
    qint64 replayUs = -1;
    // When each command (class and id) was last sent, and the latency of the response being decoded.
    QHash<int, qint64> commandSentUs;
    qint64 latencyUs = -1;
    QElapsedTimer latencyClock;

    // Written a moment after the last change, so a burst of changes is one write.
    QTimer saveTimer;
    int m_currentTab = 0;
    // The port in use (or last used): path, USB serial number where known, rate; and whether it is open.
    QString portPath;
    QString portSerial;
    int portBaud = 115200;
    bool portOpen = false;
    // A port lost by itself, reopened when it comes back unless the user closes it first.
    struct LostPort {
        QString name;
        QString path;
        QString serial;
        int baud = 0;
        // Seen absent since: only a return counts, not a port that never went.
        bool gone = false;
        int tries = 0;
    } lost;
    QTimer lostTimer;
    // The project file that a clone offered for a read-only project opens in the copy.
    QString cloneFileName;
    // While the stored settings are read back, nothing is written.
    bool loading = false;
    bool defaultSplit = false;
    QString portName;
};
