import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "Codec.js" as Codec
import "."

// The radio: switching it on, scanning and joining a network.
ColumnLayout {
    id: page
    signal activity(string name, string detail, int result)
    spacing: Theme.spacing

    Card {
        title: qsTr("Radio")
        RowLayout {
            Button { text: qsTr("Wi-Fi on"); onClicked: sme.qml_cmd_wifi_on() }
            Button { text: qsTr("Wi-Fi off"); onClicked: sme.qml_cmd_wifi_off() }
            Button { text: qsTr("Signal quality"); onClicked: sme.qml_cmd_get_signal_quality() }
            Status { id: radioStatus; objectName: "radioStatus"; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    Card {
        title: qsTr("Networks")
        Layout.fillHeight: true
        RowLayout {
            Button { text: qsTr("Scan"); onClicked: { page.clearNetworks(); sme.qml_cmd_start_scan(0, "") } }
            Button { text: qsTr("Stop"); onClicked: sme.qml_cmd_stop_scan() }
            Status { id: scanStatus; objectName: "scanStatus"; message: "sme_start_scan"; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
        ListView {
            id: networkList
            objectName: "networkList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 80
            clip: true
            model: ListModel { id: networks }
            ScrollBar.vertical: ScrollBar {}
            delegate: ItemDelegate {
                id: row
                width: networkList.width
                height: 26
                highlighted: ssidField.text === model.ssid
                onClicked: ssidField.text = model.ssid
                contentItem: RowLayout {
                    Elided {
                        text: model.ssid || qsTr("(hidden)")
                        font.bold: true
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Label {
                        text: Codec.macText(model.bssid)
                        font.family: "monospace"
                        color: row.highlighted ? "white" : Theme.muted
                    }
                    Label { text: qsTr("ch %1").arg(model.channel); Layout.preferredWidth: 44 }
                    Label { text: model.rssi + " dBm"; Layout.preferredWidth: 60 }
                    Label {
                        text: model.secure ? qsTr("secured") : qsTr("open")
                        color: row.highlighted ? "white" : Theme.muted
                        Layout.preferredWidth: 56
                    }
                }
            }
            Label {
                anchors.centerIn: parent
                visible: networks.count === 0
                text: qsTr("No scan results yet")
                color: Theme.faint
            }
        }
    }

    Card {
        title: qsTr("Connect")
        RowLayout {
            TextField { id: ssidField; placeholderText: qsTr("SSID"); Layout.preferredWidth: 200 }
            TextField {
                id: passwordField
                placeholderText: qsTr("Password")
                echoMode: TextInput.Password
                Layout.preferredWidth: 160
            }
            Button {
                text: qsTr("Connect")
                enabled: ssidField.text.length > 0
                onClicked: {
                    sme.qml_cmd_set_password(Codec.textToHex(passwordField.text))
                    sme.qml_cmd_connect_ssid(Codec.textToHex(ssidField.text))
                }
            }
            Button { text: qsTr("Disconnect"); onClicked: sme.qml_cmd_disconnect() }
            Status { id: linkStatus; message: "sme_connect_ssid"; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    // One row per access point, updated as its results come in; at most Theme.maxRows of them.
    property var rowOfBssid: ({})
    function clearNetworks() {
        networks.clear()
        rowOfBssid = {}
    }
    function addNetwork(bssid, channel, rssi, secure, ssid) {
        var network = { bssid: bssid, channel: channel, rssi: rssi, secure: secure, ssid: Codec.printable(ssid) }
        var row = rowOfBssid[bssid]
        if (row !== undefined) {
            networks.set(row, network)
        } else if (networks.count < Theme.maxRows) {
            rowOfBssid[bssid] = networks.count
            networks.append(network)
        }
    }

    // What the previous module said is no longer true once its port has closed.
    Connections {
        target: mainobj
        function onAttached(open) {
            if (open) return
            page.clearNetworks()
            radioStatus.reset()
            scanStatus.reset()
            linkStatus.reset()
        }
    }

    Connections {
        target: sme
        function onQml_rsp_wifi_on(result) {
            radioStatus.result = result
            page.activity("Wi-Fi on", "", result)
        }
        function onQml_rsp_wifi_off(result) {
            radioStatus.result = result
            page.activity("Wi-Fi off", "", result)
        }
        function onQml_evt_wifi_is_on(result) {
            radioStatus.result = result
            radioStatus.detail = qsTr("radio on")
            page.activity("radio on", "", result)
        }
        function onQml_evt_wifi_is_off(result) {
            radioStatus.result = result
            radioStatus.detail = qsTr("radio off")
            page.activity("radio off", "", result)
        }
        function onQml_evt_signal_quality(rssi, hw_interface) {
            radioStatus.detail = qsTr("signal %1 dBm").arg(rssi)
            page.activity("signal", rssi + " dBm", -1)
        }
        function onQml_rsp_start_scan(result) {
            scanStatus.result = result
            scanStatus.detail = qsTr("scanning")
            page.activity("scan", "", result)
        }
        function onQml_evt_scan_result(bssid, channel, rssi, snr, secure, ssid) {
            page.addNetwork(bssid, channel, rssi, secure, ssid)
        }
        function onQml_evt_scanned(status) {
            scanStatus.result = status
            scanStatus.detail = qsTr("%1 networks").arg(networks.count)
            page.activity("scan done", scanStatus.detail, status)
        }
        function onQml_rsp_connect_ssid(result, hw_interface, bssid) {
            linkStatus.result = result
            linkStatus.detail = qsTr("connecting")
            page.activity("connect", "", result)
        }
        function onQml_evt_connected(status, hw_interface, bssid) {
            linkStatus.result = status
            linkStatus.detail = qsTr("connected to %1").arg(Codec.macText(bssid))
            page.activity("connected", Codec.macText(bssid), status)
        }
        function onQml_evt_connect_failed(reason, hw_interface) {
            linkStatus.result = reason
            linkStatus.detail = qsTr("failed")
            page.activity("connect failed", "", reason)
        }
        function onQml_evt_disconnected(reason, hw_interface) {
            linkStatus.result = reason
            linkStatus.detail = qsTr("disconnected")
            page.activity("disconnected", "", reason)
        }
    }
}
