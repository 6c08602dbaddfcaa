import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// The last answer of the module to a group of commands: green when it succeeded, the result's text
// when it did not, with what to do next below it where that is known.
Label {
    id: status
    property int result: -1
    property string detail
    // The API message whose answers this shows ("sme_start_scan"), for a hint that depends on it.
    property string message
    readonly property string hint: result > 0 ? mainobj.resultHint(result, message) : ""
    function reset() {
        result = -1
        detail = ""
    }
    text: result < 0 ? detail : Theme.resultText(result) + (detail ? "  " + detail : "")
    color: Theme.resultColour(result)
    elide: Text.ElideRight
    bottomPadding: hint !== "" ? hintText.implicitHeight + 2 : 0
    // Cut to its room: the whole text on hover.
    ToolTip.visible: (truncated || hintText.truncated) && hover.hovered
    ToolTip.text: hint !== "" ? text + "\n" + hint : text
    ToolTip.delay: 400
    HoverHandler { id: hover }

    Label {
        id: hintText
        objectName: "hint"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        text: status.hint
        visible: text !== ""
        elide: Text.ElideRight
        color: Theme.text
        font.pixelSize: Theme.smallSize
    }
}
