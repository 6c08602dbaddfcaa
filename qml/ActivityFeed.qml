import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// What the module said lately, newest first, in words rather than bytes.
Rectangle {
    id: feed
    color: Theme.card
    border.color: Theme.border
    radius: Theme.radius

    function add(name, detail, result) {
        var now = new Date()
        function two(n) { return ("0" + n).slice(-2) }
        var time = two(now.getHours()) + ":" + two(now.getMinutes()) + ":" + two(now.getSeconds())
        // A response's time since its command, while the response is being decoded.
        var latency = mainobj.responseLatencyMs()
        items.insert(0, { time: time, name: name, detail: detail, result: result,
                          latency: latency >= 0 ? qsTr("%1 ms").arg(latency.toFixed(1)) : "" })
        if (items.count > Theme.maxRows) items.remove(Theme.maxRows, items.count - Theme.maxRows)
    }

    ListModel { id: items }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.margin
        spacing: 6
        RowLayout {
            Layout.fillWidth: true
            Label {
                text: qsTr("Activity")
                font.bold: true
                font.pixelSize: Theme.headingSize
                color: Theme.heading
                Layout.fillWidth: true
            }
            // The log's decoded messages as a sequence diagram, on the clipboard.
            ToolButton {
                // The shortcut is named in the tool tip when the feed is narrow.
                text: feed.width < 330 ? qsTr("Flow chart") : qsTr("Flow chart (%1)").arg(mainobj.flowChartShortcut())
                onClicked: mainobj.copyFlowChart()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Copies the log's messages to the clipboard as a sequence diagram (%1)")
                              .arg(mainobj.flowChartShortcut())
            }
            ToolButton { text: qsTr("Clear"); onClicked: items.clear() }
        }
        ListView {
            id: list
            objectName: "activityList"
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
                    color: Theme.resultMark(model.result)
                }
                Label { text: model.time; color: Theme.faint; font.pixelSize: Theme.smallSize }
                Label { text: model.name; font.bold: true }
                Label { text: model.latency; color: Theme.faint; font.pixelSize: Theme.smallSize; visible: text !== "" }
                Elided {
                    text: model.result > 0 ? Theme.resultText(model.result) + " " + model.detail : model.detail
                    color: model.result > 0 ? Theme.bad : Theme.text
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
                text: qsTr("Responses and events of the module appear here.\n"
                           + "Every packet is also decoded in the log below.")
                color: Theme.faint
            }
        }
    }
}
