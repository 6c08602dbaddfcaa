// Packet codec: the receive deframer with its resynchronisation, the lookup, and the command encoder.
#include "cls_wifi.h"
#include "messagetable.h"
#include "testmain.h"
#include "wifisink.h"

#include <QSignalSpy>
#include <QTest>

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Collects what send_message hands its callback, joined the way transmit joins it.
struct Captured {
    int calls = 0;
    int fixed_length = 0;
    QByteArray packet;
};

void capture(void *target, uint8_t fixed_length, const uint8_t *fixed, uint16_t array_length,
             const uint8_t *array)
{
    auto *c = static_cast<Captured *>(target);
    ++c->calls;
    c->fixed_length = fixed_length;
    c->packet = QByteArray(reinterpret_cast<const char *>(fixed), fixed_length);
    c->packet.append(reinterpret_cast<const char *>(array), array_length);
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { wifi_register_metatypes(); }
    void resynchronisesOneByteAtATime_data();
    void resynchronisesOneByteAtATime();
    void singleByteFragmentsDecodeOnce();
    void twoPacketsInOneChunkInOrder();
    void longestPayloadWaitsForItsLastByte();
    void undecodedPacketsArePassedOn_data();
    void undecodedPacketsArePassedOn();
    void tableOrderAndHeaders();
    void commandIndexes_data();
    void commandIndexes();
    void fixedLengthsAndSignatures_data();
    void fixedLengthsAndSignatures();
    void encodesCommands_data();
    void encodesCommands();
    void refusesLengthsTheHeaderCannotHold();
    void transmitJoinsBothParts();
    void decodesWhatItEncodes();
};

void TestCodec::resynchronisesOneByteAtATime_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("syncResponses");
    QTest::newRow("stray ff before sync response") << hex("ff08000100") << hex("08000100") << 1;
    QTest::newRow("three stray bytes") << hex("000102"
                                              "08000100")
                                       << hex("08000100") << 1;
    // bit 7 is not part of the device-id mask: an event header is not noise
    QTest::newRow("event passes the mask") << hex("880400000a000000") << hex("880400000a000000") << 0;
    // device id 2 is dropped a byte at a time until the real header
    QTest::newRow("other device id") << hex("10000100"
                                            "08000100")
                                     << hex("08000100") << 1;
}

void TestCodec::resynchronisesOneByteAtATime()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, packet);
    QFETCH(int, syncResponses);
    cls_wifi wifi;
    QSignalSpy data(&wifi, &cls_wifi::parsed_message_data);
    QSignalSpy sync(&wifi.system, &cls_wifi_system::rsp_sync);
    wifi.rx_data(stream);
    QCOMPARE(data.count(), 1);
    QCOMPARE(data.at(0).at(0).toByteArray(), packet);
    QCOMPARE(sync.count(), syncResponses);
}

void TestCodec::singleByteFragmentsDecodeOnce()
{
    cls_wifi wifi;
    QSignalSpy data(&wifi, &cls_wifi::parsed_message_data);
    QSignalSpy rsp(&wifi.sme, &cls_wifi_sme::rsp_wifi_on);
    const QByteArray packet = hex("0802030081 01");
    for (int i = 0; i < packet.size(); ++i) {
        QCOMPARE(rsp.count(), 0);
        wifi.rx_data(packet.mid(i, 1));
    }
    QCOMPARE(rsp.count(), 1);
    QCOMPARE(rsp.at(0).at(0).value<uint16>(), uint16(0x0181));
    QCOMPARE(data.count(), 1);
    QCOMPARE(data.at(0).at(0).toByteArray(), packet);
}

void TestCodec::twoPacketsInOneChunkInOrder()
{
    cls_wifi wifi;
    QSignalSpy data(&wifi, &cls_wifi::parsed_message_data);
    QSignalSpy rsp(&wifi.sme, &cls_wifi_sme::rsp_wifi_on);
    QSignalSpy off(&wifi.sme, &cls_wifi_sme::rsp_wifi_off);
    // wifi_on response (result 0), then wifi_off response (result 0x0186), then half of a third packet
    wifi.rx_data(hex("080203000000"
                     "080203018601"
                     "0802"));
    QCOMPARE(data.count(), 2);
    QCOMPARE(data.at(0).at(0).toByteArray(), hex("080203000000"));
    QCOMPARE(data.at(1).at(0).toByteArray(), hex("080203018601"));
    QCOMPARE(rsp.count(), 1);
    QCOMPARE(off.count(), 1);
    QCOMPARE(off.at(0).at(0).value<uint16>(), uint16(0x0186));
    wifi.rx_data(hex("03000000"));
    QCOMPARE(rsp.count(), 2);
}

void TestCodec::longestPayloadWaitsForItsLastByte()
{
    cls_wifi wifi;
    QSignalSpy data(&wifi, &cls_wifi::parsed_message_data);
    QSignalSpy ps(&wifi.flash, &cls_wifi_flash::evt_ps_key);
    // ps_key event: key, then a uint8array whose length byte says 0; the rest of the 2047 bytes are padding
    QByteArray packet = hex("8fff0700");
    packet.append(char(0x34)).append(char(0x12)).append(char(0));
    packet.append(QByteArray(2047 - 3, '\x5a'));
    QCOMPARE(packet.size(), 2051);
    wifi.rx_data(packet.left(2050));
    QCOMPARE(data.count(), 0);
    wifi.rx_data(packet.right(1));
    QCOMPARE(data.count(), 1);
    QCOMPARE(data.at(0).at(0).toByteArray().size(), 2051);
    QCOMPARE(ps.count(), 1);
    QCOMPARE(ps.at(0).at(0).value<uint16>(), uint16(0x1234));
}

void TestCodec::undecodedPacketsArePassedOn_data()
{
    QTest::addColumn<QByteArray>("packet");
    // no descriptor
    QTest::newRow("class 13") << hex("08000d00");
    QTest::newRow("response id past its class") << hex("08000004"); // dfu has 4 commands
    QTest::newRow("event id past its class") << hex("88000001");    // dfu has 1 event
    QTest::newRow("event of a class without events") << hex("88000800");
    QTest::newRow("event of util") << hex("88000c00");
    // too short for the message: scan_result has a 12-byte fixed part
    QTest::newRow("fixed part cut short") << hex("880b0302 020000000001 06 baff 10 01");
    QTest::newRow("array runs past the end") << hex("880e0302 020000000001 06 baff 10 01 03 4142");
    QTest::newRow("empty payload") << hex("88000302");
}

void TestCodec::undecodedPacketsArePassedOn()
{
    QFETCH(QByteArray, packet);
    cls_wifi wifi;
    WifiSink everything(wifi);
    QSignalSpy data(&wifi, &cls_wifi::parsed_message_data);
    wifi.rx_data(packet);
    // parsed_message_data alone: no typed or QML signal, no log entry
    QCOMPARE(everything.hits, 1L);
    QCOMPARE(data.count(), 1);
    QCOMPARE(data.at(0).at(0).toByteArray(), packet);
    // the stream goes on: the next whole packet is decoded
    QSignalSpy evt(&wifi.sme, &cls_wifi_sme::evt_scan_result);
    wifi.rx_data(hex("880f0302 020000000001 06 baff 10 01 03 414243"));
    QCOMPARE(evt.count(), 1);
    QCOMPARE(evt.at(0).at(5).toByteArray(), QByteArray("ABC"));
}

void TestCodec::tableOrderAndHeaders()
{
    // commands, responses, events; each sorted by class id then message id
    for (int group = 0; group < 3; ++group) {
        const int begin = group == 0 ? 0 : group == 1 ? 108 : 216;
        const int end = group == 0 ? 108 : group == 1 ? 216 : 282;
        for (int i = begin; i < end; ++i) {
            const MessageDescriptor &d = message_table[i];
            QCOMPARE(int(d.header[0]), group == 2 ? 0x88 : 0x08);
            QVERIFY(d.handler);
            if (i > begin) {
                const MessageDescriptor &p = message_table[i - 1];
                QVERIFY2(p.header[2] < d.header[2] ||
                             (p.header[2] == d.header[2] && p.header[3] < d.header[3]),
                         qPrintable(QString::number(i)));
            }
        }
    }
    // every response carries its command's class and id
    for (int i = 0; i < 108; ++i) {
        QCOMPARE(message_table[108 + i].header[2], message_table[i].header[2]);
        QCOMPARE(message_table[108 + i].header[3], message_table[i].header[3]);
    }
    // per-class counts of commands and events
    const int commands[13] = {4, 4, 2, 24, 23, 7, 16, 6, 3, 4, 3, 10, 2};
    const int events[13] = {1, 4, 1, 23, 13, 5, 5, 3, 0, 6, 1, 4, 0};
    for (int c = 0; c < 13; ++c) {
        QCOMPARE(int(message_response_lookup[c].count), commands[c]);
        QCOMPARE(int(message_event_lookup[c].count), events[c]);
        for (int id = 0; id < events[c]; ++id) {
            const uint8_t header[4] = {0x88, 0, uint8_t(c), uint8_t(id)};
            const MessageDescriptor *d = find_message(header);
            QVERIFY(d);
            QCOMPARE(int(d->header[2]), c);
            QCOMPARE(int(d->header[3]), id);
            QCOMPARE(int(d->header[0]), 0x88);
        }
    }
    // a received command decodes as the response of the same class and id
    const uint8_t command[4] = {0x08, 0, 3, 7};
    QCOMPARE(find_message(command), &message_table[108 + 10 + 7]);
}

void TestCodec::commandIndexes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("classId");
    QTest::addColumn<int>("messageId");
    QTest::newRow("first") << 0 << 0 << 0;
    QTest::newRow("first system") << 4 << 1 << 0;
    QTest::newRow("first sme") << 10 << 3 << 0;
    QTest::newRow("last sme") << 33 << 3 << 23;
    for (int i = 34; i <= 56; ++i)
        QTest::addRow("tcpip %d", i) << i << 4 << i - 34;
    QTest::newRow("first util") << 106 << 12 << 0;
    QTest::newRow("last") << 107 << 12 << 1;
}

void TestCodec::commandIndexes()
{
    QFETCH(int, index);
    QFETCH(int, classId);
    QFETCH(int, messageId);
    QCOMPARE(int(message_table[index].header[2]), classId);
    QCOMPARE(int(message_table[index].header[3]), messageId);
}

void TestCodec::fixedLengthsAndSignatures_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("fixedLength");
    QTest::addColumn<uint>("signature");
    QTest::newRow("set_mac command") << 9 << 7 << 0xA2u;
    QTest::newRow("rtc_set_time command") << 75 << 8 << 0x03333335u;
    QTest::newRow("scan_result event") << 224 << 12 << 0x0082353Au;
    QTest::newRow("rtc_get_time response") << 108 + 76 << 10 << 0x33333354u;
    QTest::newRow("rtc_set_time response") << 108 + 75 << 2 << 0x4u;
    QTest::newRow("udp_data event") << 249 << 9 << 0xB462u;
    QTest::newRow("sync response") << 112 << 0 << 0u;
}

void TestCodec::fixedLengthsAndSignatures()
{
    QFETCH(int, index);
    QFETCH(int, fixedLength);
    QFETCH(uint, signature);
    const MessageDescriptor &d = message_table[index];
    QCOMPARE(int(d.header[1]), fixedLength);
    QCOMPARE(uint(d.signature), signature);
    if (index >= 108)
        QCOMPARE(find_message(d.header), &d);
}

void TestCodec::encodesCommands_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("fixedLength");
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0x01};
    const char bytes[3] = {'\xaa', '\xbb', '\xcc'};
    Captured c;
    send_message(capture, &c, 9, {1, mac});
    QTest::newRow("config set_mac") << c.packet << hex("0807020101020000000001") << 11;
    send_message(capture, &c, 2, {3, bytes});
    QTest::newRow("dfu flash_upload") << c.packet << hex("0804000203aabbcc") << 5;
    // 192.168.1.10 held with the first octet in the low byte
    send_message(capture, &c, 35, {0x0a01a8c0u, 80, -1});
    QTest::newRow("tcpip tcp_connect") << c.packet << hex("08070401c0a8010a5000ff") << 11;
    send_message(capture, &c, 0, {0x101});
    QTest::newRow("int takes only its low byte") << c.packet << hex("0801000001") << 5;
    send_message(capture, &c, 13, {0, 0, nullptr});
    QTest::newRow("empty array") << c.packet
                                 << hex("0802030300"
                                        "00")
                                 << 6;
    QByteArray big(300, '\x11');
    send_message(capture, &c, 100, {7, uint32(big.size()), big.constData()});
    QTest::newRow("uint16array over 255") << c.packet << hex("092f0b04072c01") + big << 7;
}

void TestCodec::encodesCommands()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);
    QCOMPARE(sent.toHex(), expected.toHex());
}

void TestCodec::refusesLengthsTheHeaderCannotHold()
{
    Captured c;
    QByteArray data(256, 'x');
    QCOMPARE(send_message(capture, &c, 2, {uint32(data.size()), data.constData()}),
             send_status::array_too_long);
    QCOMPARE(c.calls, 0);
    QCOMPARE(send_message(capture, &c, 2, {255u, data.constData()}), send_status::sent);
    QCOMPARE(c.packet.left(4), hex("09000002")); // 256 payload bytes: the ninth length bit
    QCOMPARE(c.packet.size(), 4 + 1 + 255);

    // sdhc fwrite: 3 fixed bytes and a uint16array; the payload may reach 2047 bytes and no further
    QByteArray fdata(2045, 'y');
    c = Captured();
    QCOMPARE(send_message(capture, &c, 100, {1, uint32(fdata.size()), fdata.constData()}),
             send_status::payload_too_long);
    QCOMPARE(c.calls, 0);
    QCOMPARE(send_message(capture, &c, 100, {1, 2044u, fdata.constData()}), send_status::sent);
    QCOMPARE(c.packet.left(4), hex("0fff0b04"));
    QCOMPARE(c.packet.size(), 2051);

    QCOMPARE(send_message(capture, &c, 9, {1}), send_status::missing_argument);
    QCOMPARE(send_message(capture, &c, 108, {}), send_status::bad_index);
    QCOMPARE(send_message(capture, &c, -1, {}), send_status::bad_index);

    // the command slots refuse too, with a red log entry and nothing sent
    cls_wifi wifi;
    QSignalSpy tx(&wifi, &cls_wifi::tx_data);
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    wifi.dfu.cmd_flash_upload(data);
    QCOMPARE(tx.count(), 0);
    QCOMPARE(log.count(), 1);
    const QString entry = log.at(0).at(0).toStringList().join(QString());
    QVERIFY2(entry.startsWith("<font color=red>") && entry.endsWith("</font>"), qPrintable(entry));
    QVERIFY(entry.contains("wifi_cmd_dfu_flash_upload"));
    wifi.sdhc.cmd_fwrite(1, QByteArray(2045, 'z'));
    QCOMPARE(tx.count(), 0);
    wifi.sdhc.cmd_fwrite(1, QByteArray(2044, 'z'));
    QCOMPARE(tx.count(), 1);
}

void TestCodec::transmitJoinsBothParts()
{
    cls_wifi wifi;
    QSignalSpy tx(&wifi, &cls_wifi::tx_data);
    const uint8_t fixed[5] = {0x08, 0x04, 0x00, 0x02, 0x03};
    const uint8_t array[3] = {1, 2, 3};
    wifi.transmit(5, fixed, 3, array);
    QCOMPARE(tx.count(), 1);
    QCOMPARE(tx.at(0).at(0).toByteArray(), hex("080400020301 0203"));
}

// Every message of the table, with a distinct value in every field and a 3-byte array: decoding the
// payload gives arguments that encode to the same bytes, and one byte less does not decode.
void TestCodec::decodesWhatItEncodes()
{
    static const uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    static const uint8_t bytes[3] = {0xa1, 0xb2, 0xc3};
    for (int i = 0; i < message_count; ++i) {
        const MessageDescriptor &d = message_table[i];
        std::vector<message_arg> args;
        uint32_t value = 0x01020304u * uint32_t(i + 1);
        for (uint32_t sig = d.signature; sig != 0; sig >>= 4, value += 0x11111111u) {
            const unsigned code = sig & 0xf;
            if (code == sig_hw_addr) {
                args.emplace_back(static_cast<const void *>(mac));
            } else if (code == sig_uint8array || code == sig_uint16array) {
                args.emplace_back(3);
                args.emplace_back(static_cast<const void *>(bytes));
            } else {
                args.emplace_back(value);
            }
        }
        Captured first, second;
        QCOMPARE(encode_message(capture, &first, d, args.data(), args.size()), send_status::sent);
        const auto *payload = reinterpret_cast<const uint8_t *>(first.packet.constData()) + 4;
        const size_t size = size_t(first.packet.size() - 4);
        std::vector<message_arg> decoded;
        QVERIFY(decode_message(d, payload, size, decoded));
        QCOMPARE(decoded.size(), args.size());
        QCOMPARE(encode_message(capture, &second, d, decoded.data(), decoded.size()), send_status::sent);
        QCOMPARE(second.packet.toHex(), first.packet.toHex());
        if (size > 0) QVERIFY(!decode_message(d, payload, size - 1, decoded));
    }
}

NW_TEST(TestCodec)
#include "tst_codec.moc"
