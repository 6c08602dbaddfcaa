import QtQuick 2.15
import QtQuick.Controls 2.15
import "Codec.js" as Codec

// The last answer of the module to a group of commands: green when it succeeded.
Label {
    property int result: -1
    property string detail
    text: result < 0 ? detail : (result === 0 ? "OK" : Codec.code(result)) + (detail ? "  " + detail : "")
    color: result > 0 ? "#c62828" : (result === 0 ? "#2e7d32" : "#607d8b")
    elide: Text.ElideRight
}
