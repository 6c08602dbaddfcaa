import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "Codec.js" as Codec
import "."

// The persistent store of the module's flash: keys with short values.
ColumnLayout {
    id: page
    signal activity(string name, string detail, int result)
    spacing: Theme.spacing

    Card {
        title: qsTr("Persistent store")
        RowLayout {
            Label { text: qsTr("Key") }
            SpinBox { id: psKey; from: 0; to: 65535; editable: true }
            TextField { id: psValue; placeholderText: qsTr("Value (text)"); Layout.fillWidth: true }
            Button { text: qsTr("Save"); onClicked: flash.qml_cmd_ps_save(psKey.value, Codec.textToHex(psValue.text)) }
            Button { text: qsTr("Load"); onClicked: flash.qml_cmd_ps_load(psKey.value) }
            Button { text: qsTr("Erase"); onClicked: flash.qml_cmd_ps_erase(psKey.value) }
        }
        RowLayout {
            Button { text: qsTr("List all keys"); onClicked: { keys.clear(); flash.qml_cmd_ps_dump() } }
            Button { text: qsTr("Defragment"); onClicked: flash.qml_cmd_ps_defrag() }
            Status { id: psStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
        ListView {
            id: keyList
            Layout.fillWidth: true
            Layout.preferredHeight: 200
            clip: true
            model: ListModel { id: keys }
            ScrollBar.vertical: ScrollBar {}
            delegate: ItemDelegate {
                width: keyList.width
                height: 24
                onClicked: { psKey.value = model.key; psValue.text = Codec.hexToText(model.value) }
                contentItem: RowLayout {
                    Label { text: model.key; font.bold: true; Layout.preferredWidth: 60 }
                    Elided {
                        text: Codec.printable(model.value)
                        font.family: "monospace"
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                }
            }
            Label {
                anchors.centerIn: parent
                visible: keys.count === 0
                text: qsTr("No keys listed")
                color: Theme.faint
            }
        }
    }

    Item { Layout.fillHeight: true }

    // One row per key, updated when the key is listed again; at most Theme.maxRows of them.
    function showKey(key, value) {
        for (var i = 0; i < keys.count; ++i) {
            if (keys.get(i).key === key) {
                keys.setProperty(i, "value", value)
                return
            }
        }
        if (keys.count < Theme.maxRows) keys.append({ key: key, value: value })
    }

    Connections {
        target: mainobj
        function onAttached(open) {
            if (open) return
            keys.clear()
            psStatus.reset()
        }
    }

    Connections {
        target: flash
        function onQml_evt_ps_key(key, value) { page.showKey(key, value) }
        function onQml_rsp_ps_dump(result) { psStatus.result = result; page.activity("PS dump", "", result) }
        function onQml_rsp_ps_save(result) {
            psStatus.result = result
            psStatus.detail = qsTr("saved")
            page.activity("PS save", "", result)
        }
        function onQml_rsp_ps_erase(result) {
            psStatus.result = result
            psStatus.detail = qsTr("erased")
            page.activity("PS erase", "", result)
        }
        function onQml_rsp_ps_defrag(result) {
            psStatus.result = result
            psStatus.detail = qsTr("defragmented")
            page.activity("PS defrag", "", result)
        }
        function onQml_rsp_ps_load(result, value) {
            psStatus.result = result
            if (result === 0) psValue.text = Codec.hexToText(value)
            psStatus.detail = result === 0 ? qsTr("loaded") : ""
            page.activity("PS load", Codec.printable(value), result)
        }
    }
}
