pragma Singleton
import QtQuick 2.15
import "Codec.js" as Codec

// Colours, sizes and the look of a result code, for every page of the interface.
QtObject {
    // Surfaces.
    readonly property color page: "#eef2f4"
    readonly property color card: "white"
    readonly property color well: "#fafbfc"
    readonly property color border: "#d8dee2"
    readonly property color bar: "#263238"
    readonly property color barText: "#cfd8dc"

    // Text, darkest first.
    readonly property color ink: "#263238"
    readonly property color heading: "#37474f"
    readonly property color text: "#455a64"
    readonly property color textSoft: "#546e7a"
    readonly property color muted: "#607d8b"
    readonly property color idle: "#78909c"
    readonly property color faint: "#90a4ae"

    // States.
    readonly property color good: "#2e7d32"
    readonly property color goodMark: "#43a047"
    readonly property color bad: "#c62828"
    readonly property color badMark: "#e53935"
    readonly property color warning: "#ef6c00"
    readonly property color attached: "#1b5e20"
    readonly property color attachedMark: "#69f0ae"
    readonly property color failed: "#b71c1c"

    // Sizes.
    readonly property int spacing: 10
    readonly property int margin: 12
    readonly property int radius: 6
    readonly property int headingSize: 13
    readonly property int smallSize: 11
    readonly property int barHeight: 56
    readonly property int feedWidth: 330
    // Longest list kept on any page: older rows go first.
    readonly property int maxRows: 200

    // Result and reason codes: 0 succeeded, above 0 failed, below 0 carries no result.
    function resultColour(result) {
        return result > 0 ? bad : (result === 0 ? good : muted)
    }
    function resultMark(result) {
        return result > 0 ? badMark : (result === 0 ? goodMark : faint)
    }
    // "OK", or the code with its text from the module's result table.
    function resultText(result) {
        if (result === 0)
            return qsTr("OK")
        var words = mainobj.resultText(result)
        return Codec.code(result) + (words ? " " + words : "")
    }
}
