import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// Port and baud rate choice, open and close, and whether a module is attached.
Rectangle {
    id: bar
    property bool attached: false
    property string attachedPort
    property string attachedBaud
    // Why the last open failed, until the next open or close.
    property string openError

    color: Theme.bar
    implicitHeight: Theme.barHeight

    ListModel { id: ports }
    ListModel { id: bauds }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        spacing: Theme.spacing

        // The title gives way first when the window is narrow.
        Label {
            text: "NW300"
            color: "white"
            font.pixelSize: 20
            font.bold: true
            visible: bar.width >= 900
        }
        Label {
            text: qsTr("module console")
            color: Theme.faint
            font.pixelSize: Theme.headingSize
            Layout.alignment: Qt.AlignBottom
            Layout.bottomMargin: 17
            visible: bar.width >= 1050
        }
        Item { Layout.fillWidth: true }

        Label { text: qsTr("Port"); color: Theme.barText }
        // Editable, so a device path that the list does not give (a pty, a link) can be typed.
        ComboBox {
            id: portBox
            objectName: "portBox"
            editable: true
            model: ports
            textRole: "name"
            enabled: !bar.attached
            Layout.fillWidth: true
            Layout.minimumWidth: 150
            Layout.maximumWidth: 300
            Layout.preferredWidth: 260
            ToolTip.visible: hovered && displayText !== "" && contentItem.implicitWidth > contentItem.width
            ToolTip.text: displayText
            ToolTip.delay: 400
            delegate: ItemDelegate {
                width: portBox.popup.width
                highlighted: portBox.highlightedIndex === index
                contentItem: Column {
                    Label { text: model.name; width: parent.width; elide: Text.ElideRight }
                    Label {
                        text: model.details
                        visible: text !== ""
                        width: parent.width
                        elide: Text.ElideRight
                        color: Theme.muted
                        font.pixelSize: Theme.smallSize
                    }
                }
            }
        }
        Button {
            text: qsTr("Refresh")
            enabled: !bar.attached
            onClicked: mainobj.refresh_ports()
        }
        Label { text: qsTr("Baud"); color: Theme.barText; Layout.leftMargin: 6 }
        ComboBox {
            id: baudBox
            objectName: "baudBox"
            model: bauds
            textRole: "text"
            enabled: !bar.attached
            Layout.preferredWidth: 110
        }
        Button {
            // As wide for either text, so nothing beside it moves when it changes.
            Layout.preferredWidth: Math.max(openWidth.width, closeWidth.width) + leftPadding + rightPadding
            TextMetrics { id: openWidth; text: qsTr("Open") }
            TextMetrics { id: closeWidth; text: qsTr("Close") }
            text: bar.attached ? qsTr("Close") : qsTr("Open")
            highlighted: !bar.attached
            enabled: bar.attached || (portBox.editText.length > 0 && baudBox.currentIndex >= 0)
            onClicked: {
                if (bar.attached) {
                    mainobj.close_port()
                    return
                }
                var i = portBox.find(portBox.editText)
                var entry = i >= 0 ? ports.get(i) : { name: portBox.editText, port: portBox.editText }
                mainobj.open_port(entry.name, entry.port, bauds.get(baudBox.currentIndex).value)
            }
        }
        Rectangle {
            radius: 12
            color: bar.attached ? Theme.attached : (bar.openError ? Theme.failed : Theme.heading)
            implicitHeight: 26
            // A fixed share of the bar, whatever it says, so the header does not move as the state
            // changes; a text cut to it is shown whole on hover.
            Layout.preferredWidth: Math.max(140, Math.min(320, bar.width * 0.2))
            Rectangle {
                width: 10
                height: 10
                radius: 5
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                color: bar.attached ? Theme.attachedMark : Theme.idle
            }
            Label {
                id: stateText
                x: 26
                anchors.verticalCenter: parent.verticalCenter
                color: "white"
                width: parent.width - 34
                elide: Text.ElideRight
                text: bar.attached ? qsTr("%1 at %2").arg(bar.attachedPort).arg(bar.attachedBaud)
                                   : (bar.openError || qsTr("Not attached"))
                ToolTip.visible: stateHover.hovered && (truncated || bar.openError !== "")
                ToolTip.text: text
                HoverHandler { id: stateHover }
            }
        }
    }

    // The connection's signals are capitalised, which handler names cannot express: connect them here.
    // A new listing keeps the user's choice: the listed port of that name, or the path as typed.
    property string chosenPort
    function clearPorts() {
        chosenPort = portBox.editText
        ports.clear()
        portBox.editText = chosenPort
    }
    function addPort(name, port) {
        if (ports.count >= Theme.maxRows) return
        ports.append({ name: name, port: port, details: "" })
        var i = portBox.find(chosenPort)
        if (i >= 0 || chosenPort === "") {
            portBox.currentIndex = Math.max(i, 0)
        } else {
            portBox.currentIndex = -1
            portBox.editText = chosenPort
        }
    }
    // USB maker, product and serial number, shown under the port's name in the list.
    function addDetails(port, details) {
        for (var i = ports.count - 1; i >= 0; --i)
            if (ports.get(i).port === port) {
                ports.setProperty(i, "details", details)
                return
            }
    }
    Component.onCompleted: {
        comm.ClearDevices.connect(clearPorts)
        comm.DeviceFound.connect(addPort)
        comm.DeviceDetails.connect(addDetails)
    }

    Connections {
        target: mainobj
        function onBaud_rate(text, value) {
            if (bauds.count < Theme.maxRows) bauds.append({ text: text, value: value })
        }
        function onSelect_baud_rate(value) {
            for (var i = 0; i < bauds.count; ++i)
                if (bauds.get(i).value === value) baudBox.currentIndex = i
        }
        function onOpen_failed(reason) { bar.openError = reason }
        // The port used last: its row when listed, else its path as if typed.
        function onSelect_port(port) {
            for (var i = 0; i < ports.count; ++i)
                if (ports.get(i).port === port) {
                    portBox.currentIndex = i
                    bar.chosenPort = ports.get(i).name
                    return
                }
            portBox.currentIndex = -1
            portBox.editText = port
            bar.chosenPort = port
        }
        function onAttached(open, port, baud) {
            bar.openError = ""
            bar.attached = open
            bar.attachedPort = port
            bar.attachedBaud = baud
        }
    }
}
