import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "Codec.js" as Codec
import "."

// The module itself: liveness, reset, firmware versions and MAC address.
ColumnLayout {
    id: page
    signal activity(string name, string detail, int result)
    spacing: Theme.spacing

    Card {
        title: qsTr("Module")
        RowLayout {
            Button { text: qsTr("Hello"); onClicked: system.qml_cmd_hello() }
            Button { text: qsTr("Sync"); onClicked: system.qml_cmd_sync() }
            Button { text: qsTr("Reset"); onClicked: system.qml_cmd_reset(0) }
            Button { text: qsTr("Reset to DFU"); onClicked: system.qml_cmd_reset(1) }
            Item { Layout.fillWidth: true }
        }
        GridLayout {
            columns: 2
            columnSpacing: 16
            Label { text: qsTr("Firmware"); color: Theme.muted }
            Label { id: firmware; text: "–"; font.bold: true }
            Label { text: qsTr("Bootloader / TCP/IP / hardware"); color: Theme.muted }
            Label { id: versions; text: "–" }
            Label { text: qsTr("State"); color: Theme.muted }
            Label { id: stateLabel; text: "–" }
        }
    }

    Card {
        title: qsTr("MAC address")
        RowLayout {
            Label { text: qsTr("Interface") }
            SpinBox { id: macInterface; from: 0; to: 255; editable: true }
            Button { text: qsTr("Get"); onClicked: config.qml_cmd_get_mac(macInterface.value) }
            Label { id: macShown; text: "–"; font.family: "monospace"; Layout.leftMargin: 8 }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            TextField {
                id: newMac
                placeholderText: "02:00:00:00:00:01"
                font.family: "monospace"
                validator: RegularExpressionValidator { regularExpression: /([0-9a-fA-F]{2}:?){0,5}[0-9a-fA-F]{0,2}/ }
                Layout.preferredWidth: 200
            }
            Button {
                text: qsTr("Set")
                enabled: newMac.text.replace(/:/g, "").length === 12
                onClicked: config.qml_cmd_set_mac(macInterface.value, newMac.text.replace(/:/g, "").toLowerCase())
            }
            Status { id: macStatus; Layout.fillWidth: true }
        }
    }

    Item { Layout.fillHeight: true }

    // What the previous module said is no longer true once its port has closed.
    Connections {
        target: mainobj
        function onAttached(open) {
            if (open) return
            firmware.text = "–"
            versions.text = "–"
            stateLabel.text = "–"
            macShown.text = "–"
            macStatus.reset()
        }
    }

    Connections {
        target: system
        function onQml_evt_boot(major, minor, patch, build, bootloader_version, tcpip_version, hw) {
            firmware.text = major + "." + minor + "." + patch + " build " + build
            versions.text = bootloader_version + " / " + tcpip_version + " / " + hw
            page.activity("boot", qsTr("firmware %1").arg(firmware.text), -1)
        }
        function onQml_evt_state(state_) { stateLabel.text = state_; page.activity("state", state_, -1) }
        function onQml_rsp_hello() { page.activity("hello", qsTr("module answered"), 0) }
        function onQml_rsp_sync() { page.activity("sync", "", 0) }
        function onQml_evt_sw_exception(address, type) {
            page.activity("software exception", qsTr("address %1, type %2").arg(Codec.code(address)).arg(type), 1)
        }
    }
    Connections {
        target: config
        function onQml_evt_mac_address(hw_interface, mac) {
            macShown.text = Codec.macText(mac)
            page.activity("MAC address", qsTr("interface %1: %2").arg(hw_interface).arg(macShown.text), -1)
        }
        function onQml_rsp_get_mac(result, hw_interface) {
            macStatus.result = result
            page.activity("get MAC", "", result)
        }
        function onQml_rsp_set_mac(result, hw_interface) {
            macStatus.result = result
            page.activity("set MAC", "", result)
        }
    }
}
