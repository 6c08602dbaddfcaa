import QtQuick 2.15
import QtQuick.Controls 2.15
import "."

// The last answer of the module to a group of commands: green when it succeeded, the result's text
// when it did not.
Label {
    property int result: -1
    property string detail
    function reset() {
        result = -1
        detail = ""
    }
    text: result < 0 ? detail : Theme.resultText(result) + (detail ? "  " + detail : "")
    color: Theme.resultColour(result)
    elide: Text.ElideRight
    // Cut to its room: the whole text on hover.
    ToolTip.visible: truncated && hover.hovered
    ToolTip.text: text
    ToolTip.delay: 400
    HoverHandler { id: hover }
}
