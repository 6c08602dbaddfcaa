import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// velmo's interface: the serial port on top, the module's functions by topic, and a feed of what
// the module answered. The log pane below the interface shows every packet.
Rectangle {
    id: root
    color: Theme.page
    width: 1078
    height: 560

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ConnectionBar {
            id: connectionBar
            objectName: "connectionBar"
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: Theme.margin
            spacing: Theme.margin

            ColumnLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: Theme.spacing

                TabBar {
                    id: tabs
                    objectName: "pageTabs"
                    Layout.fillWidth: true
                    // The page in front is remembered by the window across runs.
                    currentIndex: mainobj.currentTab
                    onCurrentIndexChanged: mainobj.currentTab = currentIndex
                    TabButton { text: qsTr("System") }
                    TabButton { text: qsTr("Wi-Fi") }
                    TabButton { text: qsTr("Network") }
                    TabButton { text: qsTr("Hardware") }
                    TabButton { text: qsTr("Storage") }
                    TabButton { text: qsTr("Project") }
                    TabButton { text: qsTr("Firmware") }
                }
                // A page taller than the room left on a small screen scrolls.
                Flickable {
                    id: pageScroll
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    contentWidth: Math.max(width, pages.children[pages.currentIndex].implicitWidth)
                    contentHeight: Math.max(height, pages.children[pages.currentIndex].implicitHeight)
                    boundsBehavior: Flickable.StopAtBounds
                    // Shown while there is more, so it is not missed.
                    ScrollBar.vertical: ScrollBar {
                        policy: pageScroll.contentHeight > pageScroll.height ? ScrollBar.AlwaysOn
                                                                             : ScrollBar.AsNeeded
                    }
                    ScrollBar.horizontal: ScrollBar {
                        policy: pageScroll.contentWidth > pageScroll.width ? ScrollBar.AlwaysOn
                                                                           : ScrollBar.AsNeeded
                    }
                StackLayout {
                    id: pages
                    width: pageScroll.contentWidth
                    height: pageScroll.contentHeight
                    currentIndex: tabs.currentIndex
                    // While an upload runs only its own page may send commands.
                    enabled: !mainobj.uploading || children[currentIndex] === uploadPage
                    SystemPage {
                        objectName: "systemPage"
                        enabled: connectionBar.attached
                        onActivity: feed.add(name, detail, result)
                    }
                    WifiPage {
                        objectName: "wifiPage"
                        enabled: connectionBar.attached
                        onActivity: feed.add(name, detail, result)
                    }
                    NetworkPage {
                        objectName: "networkPage"
                        enabled: connectionBar.attached
                        onActivity: feed.add(name, detail, result)
                    }
                    HardwarePage {
                        objectName: "hardwarePage"
                        enabled: connectionBar.attached
                        onActivity: feed.add(name, detail, result)
                    }
                    StoragePage {
                        objectName: "storagePage"
                        enabled: connectionBar.attached
                        onActivity: feed.add(name, detail, result)
                    }
                    ProjectPage {
                        objectName: "projectPage"
                        portOpen: connectionBar.attached
                        onShowUpload: {
                            tabs.currentIndex = Array.prototype.indexOf.call(uploadPage.parent.children, uploadPage)
                        }
                    }
                    UploadPage { id: uploadPage; onActivity: feed.add(name, detail, result) }
                }
                }
            }

            ActivityFeed {
                id: feed
                // Gives the pages its room on a small screen: what it shows is in the log pane too.
                visible: root.width >= 900
                Layout.preferredWidth: Math.min(Theme.feedWidth, root.width * 0.27)
                Layout.fillHeight: true
            }
        }
    }
}
