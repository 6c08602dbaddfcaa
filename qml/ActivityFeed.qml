import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "Codec.js" as Codec

// What the module said lately, newest first, in words rather than bytes.
Rectangle {
    id: feed
    color: "white"
    border.color: "#d8dee2"
    radius: 6

    function add(name, detail, result) {
        var now = new Date()
        function two(n) { return ("0" + n).slice(-2) }
        items.insert(0, { time: two(now.getHours()) + ":" + two(now.getMinutes()) + ":" + two(now.getSeconds()),
                          name: name, detail: detail, result: result })
        if (items.count > 200) items.remove(200, items.count - 200)
    }

    ListModel { id: items }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 6
        RowLayout {
            Label { text: qsTr("Activity"); font.bold: true; font.pixelSize: 13; color: "#37474f"; Layout.fillWidth: true }
            ToolButton { text: qsTr("Clear"); onClicked: items.clear() }
        }
        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 4
            model: items
            ScrollBar.vertical: ScrollBar {}
            delegate: RowLayout {
                width: list.width
                spacing: 8
                Rectangle {
                    width: 8
                    height: 8
                    radius: 4
                    color: model.result > 0 ? "#e53935" : (model.result === 0 ? "#43a047" : "#90a4ae")
                }
                Label { text: model.time; color: "#90a4ae"; font.pixelSize: 11 }
                Label { text: model.name; font.bold: true }
                Label {
                    text: model.result > 0 ? Codec.code(model.result) + " " + model.detail : model.detail
                    color: model.result > 0 ? "#c62828" : "#455a64"
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
            }
            Label {
                anchors.centerIn: parent
                width: list.width - 20
                visible: items.count === 0
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                text: qsTr("Responses and events of the module appear here.\nEvery packet is also decoded in the log below.")
                color: "#90a4ae"
            }
        }
    }
}
