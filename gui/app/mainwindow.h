// GUI application of velmo: the main window, which owns the serial connection and the API objects,
// publishes them to the QML user interface in its upper area and logs all traffic into the log pane
// below, with a command line for typed commands and raw packets.
#pragma once

#include "cls_wifi.h"
#include "logclock.h"
#include "portenumerator.h"
#include "uarthvconnection.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

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

    // Writes the persisted settings and flushes the store; run when the event loop has ended.
    void saveSettings();

    // The bold date and time put in front of every log line.
    static QString timestampPrefix(const QDateTime &now);

    UartHVConnection &connection() { return comm; }
    cls_wifi &api() { return wifi; }
    QQuickView *qmlView() const { return view; }

signals:
    void flowcontrolChanged();
    void dfuEraseKeysChanged();
    void baud_rate(QString text, int value);
    void select_baud_rate(int value);
    void attached(bool open, QString port, QString baud);
    // A port could not be opened: the reason, beginning "Could not open".
    void open_failed(QString reason);

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

    void rxData(QByteArray data);
    void txData(QByteArray data);

private slots:
    void on_pushLogClear_clicked();
    // A fault of the link, as a red line that no filter hides.
    void showLinkError(const QString &message);

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

    void writeSettings();

    UartHVConnection comm;
    cls_wifi wifi;
    bool m_dfuEraseKeys = false;
    QSettings settings;
    bool m_flowcontrol = false;
    CommandParser *parser = nullptr;
    std::unique_ptr<Ui::MainWindow> ui;
    QQuickView *view = nullptr;
    QWidget *viewContainer = nullptr;
    LogClock clock;
    // While open_port runs: the link's reason why the port did not open.
    bool opening = false;
    QString openError;
};
