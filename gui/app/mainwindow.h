// GUI application of velmo: the main window, which owns the serial connection and the API objects,
// publishes them to the QML user interface in its upper area and logs all traffic into the log pane
// below, with a command line for typed commands and raw packets.
#pragma once

#include "cls_wifi.h"
#include "portenumerator.h"
#include "uarthvconnection.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

class CommandParser;
class LogView;
class QAction;
class QCheckBox;
class QDateTime;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QQuickView;
class QSplitter;
class QVBoxLayout;

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

private:
    void construct();
    void buildWidgets();
    void loadQml();
    void writeSettings();

    // The widgets of the window, created once.
    struct Ui {
        QAction *actionLogToFlowChart = nullptr;
        QWidget *centralWidget = nullptr;
        QVBoxLayout *verticalLayout_2 = nullptr;
        QSplitter *splitter = nullptr;
        QWidget *frame = nullptr;
        QWidget *verticalLayoutWidget = nullptr;
        QVBoxLayout *verticalLayout = nullptr;
        LogView *textDebug = nullptr;
        QHBoxLayout *horizontalLayout_2 = nullptr;
        QLineEdit *lineCommand = nullptr;
        QLabel *label_10 = nullptr;
        QCheckBox *checkLogHex = nullptr;
        QCheckBox *checkLogText = nullptr;
        QCheckBox *checkLogScroll = nullptr;
        QPushButton *pushLogCopy = nullptr;
        QPushButton *pushLogClear = nullptr;
    };

    UartHVConnection comm;
    cls_wifi wifi;
    bool m_dfuEraseKeys = false;
    QSettings settings;
    bool m_flowcontrol = false;
    CommandParser *parser = nullptr;
    Ui ui;
    QQuickView *view = nullptr;
    QWidget *viewContainer = nullptr;
};
