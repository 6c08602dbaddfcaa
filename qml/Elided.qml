import QtQuick 2.15
import QtQuick.Controls 2.15

// A text that is cut to its room shows the whole of it as a tool tip.
Label {
    elide: Text.ElideRight
    ToolTip.visible: truncated && hover.hovered
    ToolTip.text: text
    ToolTip.delay: 400
    HoverHandler { id: hover }
}
