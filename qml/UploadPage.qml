import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "."

// Loading a firmware image into the module: choose the image, bring the module into its update
// state, upload, and see the module start the new firmware (or why it did not).
ColumnLayout {
    id: page
    objectName: "uploadPage"
    signal activity(string name, string detail, int result)
    // Whether a port is open: set by the window's attached signal.
    property bool portOpen: false
    // idle, dfu (module in its update state), sending, starting, done, failed
    property string phase: "idle"
    property string failure
    property int bytes: 0
    property int total: 0
    property int elapsed: 0
    spacing: Theme.spacing

    // The open project's image, when a project is open.
    function projectImage() {
        return typeof project !== "undefined" && project && project.imageFile ? project.imageFile : ""
    }
    function kib(rate) { return (rate / 1024).toFixed(1) }
    function clock(seconds) {
        var s = Math.round(seconds)
        return Math.floor(s / 60) + ":" + (s % 60 < 10 ? "0" : "") + (s % 60)
    }

    Card {
        title: qsTr("Firmware image")
        RowLayout {
            TextField {
                id: imagePath
                Layout.fillWidth: true
                placeholderText: qsTr("wifi.dfu built by the project")
                text: page.projectImage()
                objectName: "imagePath"
                selectByMouse: true
            }
            Button {
                text: qsTr("Browse…")
                onClicked: chooser.open()
            }
        }
        Label {
            objectName: "imageSummary"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            visible: text !== ""
            text: imagePath.text !== "" ? mainobj.imageSummary(imagePath.text) : ""
        }
        RowLayout {
            Switch {
                text: qsTr("Flow control (4 chunks in flight)")
                checked: mainobj.flowcontrol
                onToggled: mainobj.flowcontrol = checked
            }
            Switch {
                text: qsTr("Erase keys afterwards (keeps the MAC)")
                checked: mainobj.dfuEraseKeys
                onToggled: mainobj.dfuEraseKeys = checked
            }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            Button {
                text: qsTr("Reset to DFU")
                enabled: page.portOpen && !mainobj.uploading
                onClicked: system.qml_cmd_reset(1)
            }
            Button {
                text: qsTr("Upload")
                highlighted: true
                enabled: page.portOpen && !mainobj.uploading && imagePath.text !== ""
                onClicked: {
                    page.failure = ""
                    page.bytes = 0
                    mainobj.uploadFile(imagePath.text)
                }
            }
            Elided {
                text: page.portOpen ? qsTr("Reset to DFU first, unless the module is already in its update state.")
                                    : qsTr("Open a port to upload.")
                color: Theme.muted
                Layout.fillWidth: true
                elide: Text.ElideRight
            }
        }
    }

    Card {
        title: qsTr("Upload")
        ProgressBar {
            Layout.fillWidth: true
            from: 0
            to: Math.max(page.total, 1)
            value: page.bytes
        }
        Label {
            id: figures
            font.family: "monospace"
            text: {
                if (page.total <= 0) return "–"
                var line = page.bytes + " / " + page.total + " bytes  "
                           + Math.floor(page.bytes * 100 / page.total) + "%"
                if (page.elapsed > 0 && page.bytes > 0) {
                    var rate = page.bytes * 1000 / page.elapsed
                    line += "  " + page.kib(rate) + " KiB/s"
                    if (page.phase === "sending")
                        line += "  " + page.clock((page.total - page.bytes) / rate) + " left"
                    else
                        line += "  in " + page.clock(page.elapsed / 1000)
                }
                return line
            }
        }
        Label {
            id: outcome
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            font.bold: page.phase === "done" || page.phase === "failed"
            color: page.phase === "done" ? Theme.good : (page.phase === "failed" ? Theme.bad : Theme.heading)
            text: {
                switch (page.phase) {
                case "dfu": return qsTr("The module is in its update state.")
                case "sending": return qsTr("Sending the image…")
                case "starting": return qsTr("Image sent; waiting for the module to start the new firmware…")
                case "done": return qsTr("Done: the module started the new firmware.")
                case "failed": return qsTr("Failed: %1").arg(page.failure)
                default: return qsTr("No upload yet.")
                }
            }
        }
    }

    Item { Layout.fillHeight: true }

    FileDialog {
        id: chooser
        title: qsTr("Firmware image")
        nameFilters: [qsTr("Firmware images (*.dfu)"), qsTr("All files (*)")]
        onAccepted: imagePath.text = decodeURIComponent(fileUrl.toString().replace(/^file:\/\//, ""))
    }

    Connections {
        target: mainobj
        function onAttached(open, port, baud) { page.portOpen = open }
        function onUploadingChanged() { if (mainobj.uploading) page.phase = "sending" }
        function onUpload_progress(bytes, total, time) {
            page.bytes = bytes
            page.total = total
            page.elapsed = time
            if (bytes === total && page.phase === "sending") page.phase = "starting"
        }
        function onUpload_finished(ok, reason) {
            page.phase = ok ? "done" : "failed"
            page.failure = reason
            page.activity("firmware upload", ok ? qsTr("%1 bytes, module started").arg(page.total) : reason,
                          ok ? 0 : 1)
        }
    }
    Connections {
        target: dfu
        function onQml_evt_boot(version) { if (!mainobj.uploading) page.phase = "dfu" }
    }
    Connections {
        target: typeof project !== "undefined" ? project : null
        ignoreUnknownSignals: true
        function onImageFileChanged() { if (!mainobj.uploading) imagePath.text = page.projectImage() }
    }
}
