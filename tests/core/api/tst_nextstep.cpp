#include "nextstep.h"
#include "testmain.h"

#include <QtTest>

class TestNextStep : public QObject
{
    Q_OBJECT

private slots:
    void hint_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("hint");
        const QString wifiOn = "Switch Wi-Fi on first, then scan again.";
        const QString dfu = "Reset the module to DFU first, then upload again.";
        const QString password = "Set the network's password, then connect again.";
        QTest::newRow("wrong state on a scan") << 0x0181 << "sme_start_scan" << wifiOn;
        QTest::newRow("as the log names it") << 0x0181 << "wifi_rsp_sme_start_scan\t" << wifiOn;
        QTest::newRow("the command's name too") << 0x0181 << "wifi_cmd_sme_start_scan" << wifiOn;
        QTest::newRow("wrong state on a connect") << 0x0181 << "wifi_rsp_sme_connect_bssid"
                                                  << "Switch Wi-Fi on first, then connect again.";
        QTest::newRow("wrong state on the flash address") << 0x0181 << "dfu_flash_set_address" << dfu;
        QTest::newRow("wrong state on a chunk") << 0x0181 << "wifi_rsp_dfu_flash_upload" << dfu;
        // Wrong state means something else for other messages: no guess.
        QTest::newRow("wrong state on Wi-Fi on") << 0x0181 << "sme_wifi_on"
                                                 << "";
        QTest::newRow("wrong state, no message") << 0x0181 << ""
                                                 << "";
        QTest::newRow("a name that only begins alike") << 0x0181 << "sme_start_scanner"
                                                       << "";
        QTest::newRow("an event of another class") << 0x0181 << "wifi_evt_dfu_boot"
                                                   << "";
        // Hints of the code alone hold for any message.
        QTest::newRow("password missing") << 0x018c << "sme_connect_ssid" << password;
        QTest::newRow("password missing, no message") << 0x018c << "" << password;
        QTest::newRow("access point not found")
            << 0x018b << "wifi_evt_sme_connect_failed"
            << "Scan first and check the network's name: it must be in the scan list.";
        QTest::newRow("key store full")
            << 0x0301 << "flash_ps_save"
            << "Delete keys that are no longer needed, or defragment the key store.";
        QTest::newRow("not connected") << 0x020d << "tcpip_tcp_connect"
                                       << "Connect to a network first (Wi-Fi page), then try again.";
        QTest::newRow("success") << 0x0000 << "sme_start_scan"
                                 << "";
        QTest::newRow("unknown code") << 0x7777 << "sme_start_scan"
                                      << "";
    }

    void hint()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, hint);
        QCOMPARE(nextstep::hint(uint16(code), message), hint);
    }
};

NW_TEST(TestNextStep)
#include "tst_nextstep.moc"
