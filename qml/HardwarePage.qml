import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "."
import "Codec.js" as Codec

// The module's peripherals: analog inputs, I/O ports and the real-time clock.
ColumnLayout {
    id: page
    signal activity(string name, string detail, int result)
    spacing: Theme.spacing

    Card {
        title: qsTr("Analog input")
        RowLayout {
            Label { text: qsTr("Input") }
            SpinBox { id: adcInput; from: 0; to: 255; editable: true }
            Button { text: qsTr("Read"); onClicked: hardware.qml_cmd_adc_read(adcInput.value) }
            Status { id: adcStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    Card {
        title: qsTr("I/O port")
        RowLayout {
            Label { text: qsTr("Port") }
            SpinBox { id: ioPort; from: 0; to: 255; editable: true }
            Label { text: qsTr("Mask") }
            TextField { id: ioMask; text: "ffff"; font.family: "monospace"; Layout.preferredWidth: 70 }
            Label { text: qsTr("Data") }
            TextField { id: ioData; text: "0000"; font.family: "monospace"; Layout.preferredWidth: 70 }
            Label { text: qsTr("Direction") }
            TextField { id: ioDirection; text: "0000"; font.family: "monospace"; Layout.preferredWidth: 70 }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            Button {
                text: qsTr("Read")
                onClicked: hardware.qml_cmd_io_port_read(ioPort.value, page.hexValue(ioMask))
            }
            Button {
                text: qsTr("Write")
                onClicked: hardware.qml_cmd_io_port_write(ioPort.value, page.hexValue(ioMask), page.hexValue(ioData))
            }
            Button {
                text: qsTr("Set direction")
                onClicked: hardware.qml_cmd_io_port_config_direction(ioPort.value, page.hexValue(ioMask),
                                                                     page.hexValue(ioDirection))
            }
            Status { id: ioStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    Card {
        title: qsTr("Real-time clock")
        RowLayout {
            Button { text: qsTr("Start"); onClicked: hardware.qml_cmd_rtc_init(1, 0) }
            Button { text: qsTr("Get time"); onClicked: hardware.qml_cmd_rtc_get_time() }
            Button {
                text: qsTr("Set to this computer's time")
                onClicked: {
                    var now = new Date()
                    hardware.qml_cmd_rtc_set_time(now.getFullYear(), now.getMonth() + 1, now.getDate(), now.getDay(),
                                                  now.getHours(), now.getMinutes(), now.getSeconds())
                }
            }
            Status { id: rtcStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    Item { Layout.fillHeight: true }

    function hexValue(field) {
        return parseInt(field.text, 16) || 0
    }

    Connections {
        target: mainobj
        function onAttached(open) {
            if (open) return
            adcStatus.reset()
            ioStatus.reset()
            rtcStatus.reset()
        }
    }

    Connections {
        target: hardware
        function onQml_rsp_adc_read(result, input, value) {
            adcStatus.result = result; adcStatus.detail = qsTr("input %1 = %2").arg(input).arg(value)
            page.activity("ADC", adcStatus.detail, result)
        }
        function onQml_rsp_io_port_read(result, port, data) {
            ioStatus.result = result; ioStatus.detail = qsTr("port %1 = %2").arg(port).arg(Codec.code(data))
            page.activity("I/O read", ioStatus.detail, result)
        }
        function onQml_rsp_io_port_write(result) {
            ioStatus.result = result
            ioStatus.detail = qsTr("written")
            page.activity("I/O write", "", result)
        }
        function onQml_rsp_io_port_config_direction(result) {
            ioStatus.result = result
            ioStatus.detail = qsTr("direction set")
            page.activity("I/O direction", "", result)
        }
        function onQml_rsp_rtc_init(result) { rtcStatus.result = result; page.activity("RTC start", "", result) }
        function onQml_rsp_rtc_set_time(result) {
            rtcStatus.result = result
            rtcStatus.detail = qsTr("time set")
            page.activity("RTC set", "", result)
        }
        function onQml_rsp_rtc_get_time(result, year, month, day, weekday, hour, minute, second) {
            function two(n) { return ("0" + n).slice(-2) }
            rtcStatus.result = result
            rtcStatus.detail = year + "-" + two(month) + "-" + two(day) + " "
                               + two(hour) + ":" + two(minute) + ":" + two(second)
            page.activity("RTC time", rtcStatus.detail, result)
        }
    }
}
