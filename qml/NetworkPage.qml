import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "Codec.js" as Codec
import "."

// The TCP/IP stack: addressing, name lookup and a TCP connection to talk through.
ColumnLayout {
    id: page
    signal activity(string name, string detail, int result)
    spacing: Theme.spacing

    Card {
        title: qsTr("IP configuration")
        RowLayout {
            Button { text: qsTr("Use DHCP"); onClicked: tcpip.qml_cmd_configure(0, 0, 0, 1) }
            TextField { id: address; placeholderText: qsTr("Address"); Layout.preferredWidth: 120 }
            TextField {
                id: netmask
                placeholderText: qsTr("Netmask")
                text: "255.255.255.0"
                Layout.preferredWidth: 120
            }
            TextField { id: gateway; placeholderText: qsTr("Gateway"); Layout.preferredWidth: 120 }
            Button {
                text: qsTr("Set static")
                enabled: Codec.ipv4Value(address.text) !== -1 && Codec.ipv4Value(netmask.text) !== -1
                         && Codec.ipv4Value(gateway.text) !== -1
                onClicked: tcpip.qml_cmd_configure(Codec.ipv4Value(address.text), Codec.ipv4Value(netmask.text),
                                                   Codec.ipv4Value(gateway.text), 0)
            }
            Item { Layout.fillWidth: true }
        }
        Status { id: ipStatus; Layout.fillWidth: true }
    }

    Card {
        title: qsTr("Name lookup")
        RowLayout {
            TextField { id: hostName; placeholderText: qsTr("Host name"); Layout.preferredWidth: 240 }
            Button {
                text: qsTr("Resolve")
                enabled: hostName.text.length > 0
                onClicked: tcpip.qml_cmd_dns_gethostbyname(Codec.textToHex(hostName.text))
            }
            Status { id: dnsStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
    }

    Card {
        title: qsTr("TCP connection")
        RowLayout {
            TextField { id: remote; placeholderText: qsTr("Remote address"); Layout.preferredWidth: 140 }
            SpinBox { id: remotePort; from: 1; to: 65535; value: 80; editable: true }
            Button {
                text: qsTr("Connect")
                enabled: Codec.ipv4Value(remote.text) !== -1
                onClicked: tcpip.qml_cmd_tcp_connect(Codec.ipv4Value(remote.text), remotePort.value, -1)
            }
            Status { id: tcpStatus; Layout.fillWidth: true; Layout.leftMargin: 8 }
        }
        RowLayout {
            Label { text: qsTr("Endpoint") }
            SpinBox { id: endpointId; from: 0; to: 255; editable: true }
            TextField { id: payload; placeholderText: qsTr("Text to send"); Layout.fillWidth: true }
            Button {
                text: qsTr("Send")
                enabled: payload.text.length > 0
                onClicked: endpoint.qml_cmd_send(endpointId.value, Codec.textToHex(payload.text))
            }
            Button { text: qsTr("Close"); onClicked: endpoint.qml_cmd_close(endpointId.value) }
        }
        Elided {
            id: received
            text: qsTr("Nothing received")
            color: Theme.muted
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    Item { Layout.fillHeight: true }

    Connections {
        target: mainobj
        function onAttached(open) {
            if (open) return
            ipStatus.reset()
            dnsStatus.reset()
            tcpStatus.reset()
            received.text = qsTr("Nothing received")
            received.color = Theme.muted
        }
    }

    Connections {
        target: tcpip
        function onQml_rsp_configure(result) { ipStatus.result = result; page.activity("IP configure", "", result) }
        function onQml_evt_configuration(addr, mask, gw, use_dhcp) {
            ipStatus.detail = qsTr("%1 / %2 via %3%4").arg(Codec.ipv4Text(addr)).arg(Codec.ipv4Text(mask))
                              .arg(Codec.ipv4Text(gw)).arg(use_dhcp ? qsTr(" (DHCP)") : "")
            page.activity("IP address", ipStatus.detail, -1)
        }
        function onQml_rsp_dns_gethostbyname(result) { dnsStatus.result = result; page.activity("lookup", "", result) }
        function onQml_evt_dns_gethostbyname_result(result, addr, name) {
            dnsStatus.result = result
            dnsStatus.detail = Codec.printable(name) + " = " + Codec.ipv4Text(addr)
            page.activity("lookup result", dnsStatus.detail, result)
        }
        function onQml_rsp_tcp_connect(result, ep) {
            tcpStatus.result = result; tcpStatus.detail = qsTr("endpoint %1").arg(ep)
            if (result === 0) endpointId.value = ep
            page.activity("TCP connect", tcpStatus.detail, result)
        }
        function onQml_evt_endpoint_status(ep, local_ip, local_port, remote_ip, remote_port) {
            page.activity("endpoint " + ep, Codec.ipv4Text(remote_ip) + ":" + remote_port, -1)
        }
    }
    Connections {
        target: endpoint
        function onQml_rsp_send(result, ep) { page.activity("send", qsTr("endpoint %1").arg(ep), result) }
        function onQml_evt_data(ep, data) {
            received.text = qsTr("Endpoint %1: %2").arg(ep).arg(Codec.printable(data))
            received.color = Theme.ink
            page.activity("data", received.text, -1)
        }
        function onQml_evt_closing(reason, ep) { page.activity("closing", qsTr("endpoint %1").arg(ep), reason) }
    }
}
