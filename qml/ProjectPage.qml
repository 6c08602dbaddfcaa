import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// The project being worked on: its files, opened in the editor, and the builder's run over them.
ColumnLayout {
    id: page
    spacing: Theme.spacing
    // Asks for the firmware page, where an upload started here shows its progress.
    signal showUpload()
    // Whether a port is open, so an upload can start.
    property bool portOpen: false

    readonly property bool succeeded: !project.building && project.buildOutput.endsWith("\nSuccess")
    readonly property bool failed: !project.building && project.buildOutput.endsWith("\nFailed")

    readonly property var faultWords: new RegExp("\\b(error|errors|fail|failed|unable|cannot|invalid|expected"
                                                + "|not enough|too (long|short)|longer than|already used"
                                                + "|do not know|required)\\b", "i")

    // The builder's lines, those that report a fault in red and its warnings in amber.
    function logHtml(text) {
        if (text === "")
            return ""
        var lines = text.split("\n")
        var out = []
        for (var i = 0; i < lines.length; ++i) {
            var line = lines[i].replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
            var colour = ""
            if (/^(Success)$/.test(lines[i]))
                colour = Theme.good
            else if (/^warning|\bwarning\b/i.test(lines[i]))
                colour = Theme.warning
            else if (page.faultWords.test(lines[i]))
                colour = Theme.bad
            out.push(colour ? "<font color=\"" + colour + "\">" + line + "</font>" : line)
        }
        return "<pre>" + out.join("\n") + "</pre>"
    }

    Card {
        title: qsTr("Project")
        RowLayout {
            Button {
                text: qsTr("Open...")
                onClicked: {
                    var file = mainobj.selectFile(project.projectFile, qsTr("Open project"),
                                                  qsTr("Projects (*.xml);;All files (*)"))
                    if (file !== "")
                        project.open(file)
                }
            }
            Button { text: qsTr("Clone..."); enabled: project.valid; onClicked: mainobj.cloneProject() }
            Button { text: qsTr("Settings..."); onClicked: mainobj.projectSettings() }
            Label {
                Layout.fillWidth: true
                Layout.leftMargin: 8
                text: project.projectFile === "" ? qsTr("No project open")
                                                 : project.valid ? qsTr("Project read")
                                                                 : qsTr("Not a readable project")
                color: project.projectFile === "" ? Theme.muted : project.valid ? Theme.good : Theme.bad
            }
        }
        Repeater {
            model: [
                { label: qsTr("Project file"), path: project.projectFile, edit: true },
                { label: qsTr("Hardware"), path: project.hardwareFile, edit: true },
                { label: qsTr("Script"), path: project.scriptFile, edit: true },
                { label: qsTr("Image"), path: project.imageFile, edit: false }
            ]
            delegate: RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing
                Label { text: modelData.label; color: Theme.textSoft; Layout.preferredWidth: 80 }
                Elided {
                    text: modelData.path === "" ? qsTr("(none)") : modelData.path
                    color: modelData.path === "" ? Theme.faint : Theme.ink
                    font.family: "monospace"
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
                Button {
                    text: qsTr("Edit")
                    visible: modelData.edit
                    enabled: modelData.path !== ""
                    onClicked: mainobj.editFile(modelData.path)
                }
                Button {
                    text: qsTr("Upload image")
                    visible: !modelData.edit
                    enabled: page.portOpen && !mainobj.uploading && project.valid && !project.building
                    ToolTip.visible: hovered && !page.portOpen
                    ToolTip.text: qsTr("Open a port to upload.")
                    onClicked: {
                        mainobj.uploadFile(project.imageFile)
                        page.showUpload()
                    }
                }
            }
        }
    }

    Card {
        title: qsTr("Build")
        Layout.fillHeight: true
        RowLayout {
            Button {
                text: project.building ? qsTr("Building...") : qsTr("Build")
                enabled: !project.building && project.projectFile !== ""
                onClicked: project.build()
            }
            Rectangle {
                width: 10
                height: 10
                radius: 5
                visible: page.succeeded || page.failed
                color: page.succeeded ? Theme.goodMark : Theme.badMark
            }
            Label {
                Layout.fillWidth: true
                font.bold: page.succeeded || page.failed
                text: project.building ? qsTr("The builder is running")
                      : page.succeeded ? qsTr("Build succeeded: the image is ready")
                      : page.failed ? qsTr("Build failed") : ""
                color: page.succeeded ? Theme.good : page.failed ? Theme.bad : Theme.muted
            }
        }
        Flickable {
            id: logView
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 120
            clip: true
            contentWidth: width
            contentHeight: log.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            TextArea.flickable: TextArea {
                id: log
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                textFormat: TextEdit.RichText
                font.family: "monospace"
                text: page.logHtml(project.buildOutput)
                placeholderText: qsTr("The builder's report appears here.")
                background: Rectangle { color: Theme.well; border.color: Theme.border; radius: 4 }
                // Follow the newest lines as the builder writes them.
                onTextChanged: Qt.callLater(function() {
                    logView.contentY = Math.max(0, logView.contentHeight - logView.height)
                })
            }
        }
    }
}
