import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."

// A titled group of controls on a page.
Rectangle {
    id: card
    property string title
    default property alias content: body.data

    color: Theme.card
    border.color: Theme.border
    radius: Theme.radius
    implicitWidth: body.implicitWidth + 28
    implicitHeight: heading.implicitHeight + body.implicitHeight + 34
    Layout.fillWidth: true

    Label {
        id: heading
        x: 14
        y: 10
        text: card.title
        font.bold: true
        font.pixelSize: Theme.headingSize
        color: Theme.heading
    }
    ColumnLayout {
        id: body
        anchors {
            left: parent.left
            right: parent.right
            top: heading.bottom
            bottom: parent.bottom
            margins: 14
            topMargin: 8
        }
        spacing: 8
    }
}
