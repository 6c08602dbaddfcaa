import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Port and baud rate choice, open and close, and whether a module is attached.
Rectangle {
    id: bar
    property bool attached: false
    property string attachedPort
    property string attachedBaud
    // Why the last open failed, until the next open or close.
    property string openError

    color: "#263238"
    implicitHeight: 56

    ListModel { id: ports }
    ListModel { id: bauds }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        spacing: 10

        Label {
            text: "NW300"
            color: "white"
            font.pixelSize: 20
            font.bold: true
        }
        Label {
            text: qsTr("module console")
            color: "#90a4ae"
            font.pixelSize: 13
            Layout.alignment: Qt.AlignBottom
            Layout.bottomMargin: 17
        }
        Item { Layout.fillWidth: true }

        Label { text: qsTr("Port"); color: "#cfd8dc" }
        // Editable, so a device path that the list does not give (a pty, a link) can be typed.
        ComboBox {
            id: portBox
            editable: true
            model: ports
            textRole: "name"
            enabled: !bar.attached
            Layout.preferredWidth: 260
        }
        Button {
            text: qsTr("Refresh")
            enabled: !bar.attached
            onClicked: mainobj.refresh_ports()
        }
        Label { text: qsTr("Baud"); color: "#cfd8dc"; Layout.leftMargin: 6 }
        ComboBox {
            id: baudBox
            model: bauds
            textRole: "text"
            enabled: !bar.attached
            Layout.preferredWidth: 110
        }
        Button {
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
            color: bar.attached ? "#1b5e20" : (bar.openError ? "#b71c1c" : "#37474f")
            implicitHeight: 26
            implicitWidth: stateText.implicitWidth + 34
            Layout.maximumWidth: 360
            Rectangle {
                width: 10
                height: 10
                radius: 5
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                color: bar.attached ? "#69f0ae" : "#78909c"
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
                ToolTip.visible: bar.openError && stateHover.hovered
                ToolTip.text: bar.openError
                HoverHandler { id: stateHover }
            }
        }
    }

    // The connection's signals are capitalised, which handler names cannot express: connect them here.
    property string chosenPort
    function clearPorts() {
        chosenPort = portBox.editText
        ports.clear()
    }
    // Keep the user's choice across a new listing when the port is still there.
    function addPort(name, port) {
        ports.append({ name: name, port: port })
        var i = portBox.find(chosenPort)
        portBox.currentIndex = i >= 0 ? i : 0
    }
    Component.onCompleted: {
        comm.ClearDevices.connect(clearPorts)
        comm.DeviceFound.connect(addPort)
    }

    Connections {
        target: mainobj
        function onBaud_rate(text, value) { bauds.append({ text: text, value: value }) }
        function onSelect_baud_rate(value) {
            for (var i = 0; i < bauds.count; ++i)
                if (bauds.get(i).value === value) baudBox.currentIndex = i
        }
        function onOpen_failed(reason) { bar.openError = reason }
        function onAttached(open, port, baud) {
            bar.openError = ""
            bar.attached = open
            bar.attachedPort = port
            bar.attachedBaud = baud
        }
    }
}
