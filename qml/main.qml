import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// velmo's interface: the serial port on top, the module's functions by topic, and a feed of what
// the module answered. The log pane below the interface shows every packet.
Rectangle {
    id: root
    color: "#eef2f4"
    width: 1078
    height: 560

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ConnectionBar {
            id: connectionBar
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 12
            spacing: 12

            ColumnLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 10

                TabBar {
                    id: tabs
                    Layout.fillWidth: true
                    TabButton { text: qsTr("System") }
                    TabButton { text: qsTr("Wi-Fi") }
                    TabButton { text: qsTr("Network") }
                    TabButton { text: qsTr("Hardware") }
                    TabButton { text: qsTr("Storage") }
                    TabButton { text: qsTr("Project") }
                    TabButton { text: qsTr("Firmware") }
                }
                StackLayout {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    currentIndex: tabs.currentIndex
                    // While an upload runs only its own page may send commands.
                    enabled: !mainobj.uploading || children[currentIndex] === uploadPage
                    SystemPage { onActivity: feed.add(name, detail, result) }
                    WifiPage { onActivity: feed.add(name, detail, result) }
                    NetworkPage { onActivity: feed.add(name, detail, result) }
                    HardwarePage { onActivity: feed.add(name, detail, result) }
                    StoragePage { onActivity: feed.add(name, detail, result) }
                    ProjectPage {}
                    UploadPage { id: uploadPage; onActivity: feed.add(name, detail, result) }
                }
            }

            ActivityFeed {
                id: feed
                Layout.preferredWidth: 330
                Layout.fillHeight: true
            }
        }
    }
}
