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

    // The log is shown as it grows: each piece the builder writes is added to the page, never the
    // whole log again, which would hold the window up for seconds on a long build.
    // The end of the log, enough to tell how the build ended; a line the builder has not ended yet.
    property string logTail: ""
    property string pendingLine: ""
    readonly property int shownLines: logLines.count
    ListModel { id: logLines }
    readonly property bool succeeded: !project.building && logTail.endsWith("\nSuccess")
    readonly property bool failed: !project.building && logTail.endsWith("\nFailed")

    readonly property var faultWords: new RegExp("\\b(error|errors|fail|failed|unable|cannot|invalid|expected"
                                                + "|not enough|too (long|short)|longer than|already used"
                                                + "|do not know|required)\\b", "i")

    // The builder's lines, those that report a fault in red and its warnings in amber.
    readonly property string goodColour: Theme.good.toString()
    readonly property string warningColour: Theme.warning.toString()
    readonly property string badColour: Theme.bad.toString()
    readonly property var warningWord: /^warning|\bwarning\b/i
    function lineRow(text) {
        var colour = ""
        if (text === "Success")
            colour = goodColour
        else if (warningWord.test(text))
            colour = warningColour
        else if (faultWords.test(text))
            colour = badColour
        return { line: text, colour: colour }
    }
    function appendLog(text) {
        logTail = (logTail + text).slice(-16)
        var lines = (pendingLine + text).split("\n")
        pendingLine = lines.pop()
        // Once the builder has ended nothing more will end the last line.
        if (!project.building) {
            lines.push(pendingLine)
            pendingLine = ""
        }
        if (lines.length === 0)
            return
        // Follow the newest lines, unless the user has scrolled up to read.
        var following = logView.atYEnd || logLines.count === 0
        logLines.append(lines.map(lineRow))
        if (following)
            Qt.callLater(logView.positionViewAtEnd)
    }
    function clearLog() {
        logLines.clear()
        logTail = ""
        pendingLine = ""
    }
    Connections {
        target: project
        function onBuildOutputAppended(text) { page.appendLog(text) }
        function onBuildOutputCleared() { page.clearLog() }
    }
    Component.onCompleted: if (project.buildOutput !== "") appendLog(project.buildOutput)

    Card {
        title: qsTr("Project")
        RowLayout {
            Button {
                text: qsTr("Open...")
                onClicked: {
                    var file = mainobj.selectFile(project.projectFile, qsTr("Open project"),
                                                  qsTr("Projects (*.xml);;All files (*)"))
                    // Through the window, which offers a copy of a project that cannot be built in place.
                    if (file !== "")
                        mainobj.openProject(file)
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
        // One row per line, made only while in view, so a long log costs no more than a short one.
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 120
            color: Theme.well
            border.color: Theme.border
            radius: 4
            ListView {
                id: logView
                objectName: "buildLog"
                anchors.fill: parent
                anchors.margins: 6
                clip: true
                model: logLines
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}
                delegate: TextEdit {
                    width: logView.width - 12
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.Wrap
                    textFormat: TextEdit.PlainText
                    font.family: "monospace"
                    text: model.line
                    color: model.colour === "" ? Theme.ink : model.colour
                }
            }
            Label {
                anchors.centerIn: parent
                visible: logLines.count === 0
                text: qsTr("The builder's report appears here.")
                color: Theme.faint
            }
        }
    }
}
