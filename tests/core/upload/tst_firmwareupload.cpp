#include "cls_wifi.h"
#include "firmwareupload.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixtures;

namespace
{

// The engine on an API root whose packets are recorded; the test plays the module by feeding packets
// to rx_data, one at a time, as the link would.
struct Rig {
    Rig()
    {
        QObject::connect(&wifi, &cls_wifi::tx_data, [this](const QByteArray &p) { sent << p; });
        up.connectApi();
    }
    void feed(const QByteArray &p) { wifi.rx_data(p); }
    int uploadsSent() const { return int(std::count_if(sent.begin(), sent.end(), isUpload)); }

    cls_wifi wifi;
    FirmwareUpload up{wifi};
    QList<QByteArray> sent;
    QSignalSpy messages{&up, &FirmwareUpload::message};
    QSignalSpy logging{&up, &FirmwareUpload::trafficLogging};
    QSignalSpy finished{&up, &FirmwareUpload::finished};
    QSignalSpy progress{&up, &FirmwareUpload::upload_progress};
};

QString redLine(const QString &text)
{
    return "<font color=red>" + text + "</font>";
}

} // namespace

class TestFirmwareUpload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Set-address answered, then every chunk answered in order until the finish goes out.
    void sendWholeImage(Rig &rig, int window)
    {
        rig.feed(rspSetAddress(0));
        for (;;) {
            const int inFlight = rig.up.chunksInFlight();
            QVERIFY(inFlight <= window);
            if (rig.sent.last() == cmdFinish()) break;
            QVERIFY(inFlight > 0);
            rig.feed(rspUpload(0));
        }
    }

private slots:
    void crcOfTheTestsIsTheStandardOne()
    {
        // The check value of the 802.3 CRC-32.
        QCOMPARE(crc32Reference("123456789", 0, 9), 0xcbf43926u);
    }

    void validation_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("valid");
        QTest::newRow("full image") << image() << true;
        QTest::newRow("block reaching up to the table") << image(512000, 400000, 111924) << true;
        QTest::newRow("empty block, crc 0") << image(512000, 1000, 0) << true;
        QTest::newRow("table just fits (511996 bytes)") << image(511996, 0, 1000) << true;
        QTest::newRow("crc word cut short (511995 bytes)") << image(511996, 0, 1000).left(511995) << false;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("wrong crc") << image(512000, 0, 300000, 0x12345678) << false;
        QTest::newRow("block one byte past the end") << image(512000, 400000, 112001) << false;
        // 0xfffffff0 + 0x20 wraps to 0x10 in 32 bits, which would pass a 32-bit bounds check.
        QTest::newRow("start + length wraps around") << image(512000, 0xfffffff0u, 0x20, 0) << false;
        QTest::newRow("larger than the program flash") << image(512000) + QByteArray(1, 0) << false;
    }
    void validation()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, valid);
        const QString file = path("v.dfu");
        QVERIFY(writeFile(file, content));
        QString why;
        QCOMPARE(FirmwareUpload::validateDfuFile(file, &why), valid);
        QCOMPARE(why.isEmpty(), valid);

        // From the file, and as bytes already read (as nwflash hands them over).
        for (const bool fromFile : {true, false}) {
            Rig rig;
            if (fromFile) rig.up.uploadFile(file);
            else rig.up.uploadImage(content, file);
            if (valid) {
                QCOMPARE(rig.sent, QList<QByteArray>{cmdSetAddress0()});
                QCOMPARE(rig.messages.count(), 0);
            } else {
                QVERIFY(rig.sent.isEmpty());
                QCOMPARE(rig.messages.count(), 1);
                QCOMPARE(rig.messages[0][0].toString(),
                         "<font color=red>Failed to validate DFU file:" + file + "</font>");
                QCOMPARE(rig.finished.count(), 1);
                QCOMPARE(rig.finished[0][0].toBool(), false);
                QCOMPARE(rig.finished[0][1].toString(), why);
                QVERIFY(!rig.up.uploading());
            }
        }
    }

    void missingFileIsRefused()
    {
        Rig rig;
        rig.up.uploadFile(path("nothing-here.dfu"));
        QVERIFY(rig.sent.isEmpty());
        QCOMPARE(rig.messages.count(), 1);
    }

    void wholeImage_data()
    {
        QTest::addColumn<bool>("flowcontrol");
        QTest::addColumn<int>("size");
        QTest::newRow("window 4, 512000 bytes") << true << 512000;
        QTest::newRow("window 1, 512000 bytes") << false << 512000;
        QTest::newRow("window 4, short last chunk") << true << 511996;
    }
    void wholeImage()
    {
        QFETCH(bool, flowcontrol);
        QFETCH(int, size);
        const QByteArray content = image(size);
        QVERIFY(writeFile(path("w.dfu"), content));
        const int window = flowcontrol ? 4 : 1;
        const int chunks = (size + 127) / 128;

        Rig rig;
        rig.up.setFlowcontrol(flowcontrol);
        rig.up.uploadFile(path("w.dfu"));
        QCOMPARE(rig.progress.count(), 1);
        QCOMPARE(rig.progress[0], (QVariantList{0, size, rig.progress[0][2]}));

        rig.feed(rspSetAddress(0));
        QCOMPARE(rig.uploadsSent(), window);
        QCOMPARE(rig.logging.count(), 1);
        QCOMPARE(rig.logging[0][0].toBool(), false);
        rig.feed(rspUpload(0));
        QCOMPARE(rig.uploadsSent(), window + 1); // the first response sends the next chunk

        // All responses but the last: no finish yet.
        for (int answered = 1; answered < chunks - 1; ++answered)
            rig.feed(rspUpload(0));
        QVERIFY(!rig.sent.contains(cmdFinish()));
        rig.feed(rspUpload(0));
        QCOMPARE(rig.sent.last(), cmdFinish());
        QCOMPARE(rig.uploadsSent(), chunks);

        // The chunks, in order, are the file from offset 0.
        QByteArray sentBytes;
        for (const QByteArray &p : rig.sent)
            if (isUpload(p)) {
                QCOMPARE(p, cmdUpload(p.mid(5)));
                sentBytes += p.mid(5);
            }
        QCOMPARE(sentBytes, content);
        QCOMPARE(rig.progress.last()[0].toInt(), size);
        QCOMPARE(rig.progress.last()[1].toInt(), size);
        QCOMPARE(rig.logging.count(), 1); // switched back only by the finish response

        const int before = rig.sent.size();
        rig.feed(rspFinish(0));
        QCOMPARE(rig.sent.mid(before), QList<QByteArray>{cmdReset0()});
        QCOMPARE(rig.logging.last()[0].toBool(), true);
        QVERIFY(rig.up.uploading()); // until the module has started again
        rig.feed(evtBoot());
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0][0].toBool(), true);
        QCOMPARE(rig.sent.size(), before + 1);
        QCOMPARE(rig.messages.count(), 0);
    }

    void finishStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("ok");
        QTest::newRow("0x0000") << 0x0000 << true;
        QTest::newRow("0x0100: only the low byte counts") << 0x0100 << true;
        QTest::newRow("0x0001") << 0x0001 << false;
        QTest::newRow("0x0180") << 0x0180 << false;
    }
    void finishStatus()
    {
        QFETCH(int, status);
        QFETCH(bool, ok);
        QVERIFY(writeFile(path("f.dfu"), image()));
        Rig rig;
        rig.up.uploadFile(path("f.dfu"));
        sendWholeImage(rig, 4);
        const int before = rig.sent.size();
        rig.feed(rspFinish(status));
        QCOMPARE(rig.logging.last()[0].toBool(), true);
        if (ok) {
            QCOMPARE(rig.sent.mid(before), QList<QByteArray>{cmdReset0()});
            QCOMPARE(rig.finished.count(), 0);
        } else {
            QCOMPARE(rig.sent.size(), before); // no reset
            QCOMPARE(rig.messages.count(), 0);
            QCOMPARE(rig.finished.count(), 1);
            QVERIFY(!rig.up.uploading());
        }
    }

    void chunkErrorWithFourInFlight()
    {
        QVERIFY(writeFile(path("e.dfu"), image()));
        Rig rig;
        rig.up.uploadFile(path("e.dfu"));
        rig.feed(rspSetAddress(0));
        QCOMPARE(rig.uploadsSent(), 4);
        rig.feed(rspUpload(0x0186));
        const int before = rig.sent.size();
        for (int i = 0; i < 3; ++i)
            rig.feed(rspUpload(0));
        QCOMPARE(rig.sent.size(), before);
        QCOMPARE(rig.messages.count(), 1);
        QCOMPARE(rig.messages[0][0].toString(), redLine("DFU Failed"));
        QCOMPARE(rig.logging.last()[0].toBool(), true);
        QCOMPARE(rig.finished.count(), 1);
        QVERIFY(rig.finished[0][1].toString().contains("0x0186"));
    }

    void erasePhase_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::newRow("erase keys off") << false;
        QTest::newRow("erase keys on") << true;
    }
    void erasePhase()
    {
        QFETCH(bool, erase);
        const QByteArray mac = QByteArray::fromHex("0200000000ab");
        QVERIFY(writeFile(path("k.dfu"), image()));
        Rig rig;
        rig.up.setEraseKeys(erase);
        rig.up.uploadFile(path("k.dfu"));
        sendWholeImage(rig, 4);
        const int before = rig.sent.size();
        rig.feed(rspFinish(0));
        rig.feed(evtBoot());
        rig.feed(evtMac(1, mac));
        rig.feed(evtMac(1, mac)); // a second report erases nothing more
        if (!erase) {
            QCOMPARE(rig.sent.mid(before), QList<QByteArray>{cmdReset0()});
            QCOMPARE(rig.finished.count(), 1);
            return;
        }
        QCOMPARE(rig.sent.mid(before),
                 (QList<QByteArray>{cmdReset0(), cmdGetMac0(), cmdEraseAll(), cmdSetMac(1, mac)}));
        QCOMPARE(rig.finished.count(), 0);
        rig.feed(rspEraseAll(0));
        rig.feed(rspSetMac(0));
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0][0].toBool(), true);
    }

    // A module (or a simulated one in the same thread) may answer before the command's write has
    // returned: the upload still ends once, idle, and is idle already when it says so.
    void answersWithinTheWrite()
    {
        QVERIFY(writeFile(path("s.dfu"), image()));
        Rig rig;
        rig.up.setEraseKeys(true);
        const QByteArray mac = QByteArray::fromHex("0200000000cd");
        QObject::connect(&rig.wifi, &cls_wifi::tx_data, [&](const QByteArray &p) {
            if (p == cmdReset0()) rig.feed(evtBoot());
            if (p == cmdGetMac0()) rig.feed(evtMac(0, mac));
            if (p == cmdEraseAll()) rig.feed(rspEraseAll(0));
            if (p == cmdSetMac(0, mac)) rig.feed(rspSetMac(0));
        });
        QList<bool> uploadingWhenFinished;
        QObject::connect(&rig.up, &FirmwareUpload::finished,
                         [&] { uploadingWhenFinished << rig.up.uploading(); });
        rig.up.uploadFile(path("s.dfu"));
        sendWholeImage(rig, 4);
        rig.feed(rspFinish(0));
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0][0].toBool(), true);
        QCOMPARE(uploadingWhenFinished, QList<bool>{false});
        QVERIFY(!rig.up.uploading());
        QCOMPARE(rig.up.state(), FirmwareUpload::State::Idle);
    }

    // An interface may start the next upload as soon as one ends: that one is watched for answers too.
    void nextUploadStartedAtTheEnd()
    {
        QVERIFY(writeFile(path("n.dfu"), image()));
        Rig rig;
        rig.up.setResponseTimeout(100);
        bool again = false;
        QObject::connect(&rig.up, &FirmwareUpload::uploadingChanged, [&] {
            if (rig.up.uploading() || again) return;
            again = true;
            rig.up.uploadFile(path("n.dfu"));
        });
        rig.up.uploadFile(path("n.dfu"));
        sendWholeImage(rig, 4);
        rig.feed(rspFinish(0));
        rig.feed(evtBoot());
        QVERIFY(again);
        QVERIFY(rig.up.uploading());
        QTRY_COMPARE_WITH_TIMEOUT(rig.finished.count(), 2, 5000);
        QCOMPARE(rig.finished[1][0].toBool(), false);
        QVERIFY(rig.finished[1][1].toString().startsWith("no response from the module"));
    }

    // Success needs both answers of the erase phase, in either order; a refusal of either fails.
    void eraseAnswers_data()
    {
        QTest::addColumn<bool>("macFirst");
        QTest::addColumn<int>("eraseResult");
        QTest::addColumn<int>("macResult");
        QTest::addColumn<QString>("reason"); // empty for success
        QTest::newRow("erase, then mac") << false << 0 << 0 << QString();
        QTest::newRow("mac, then erase") << true << 0 << 0 << QString();
        QTest::newRow("erase refused, mac answered first")
            << true << 0x0102 << 0 << "erasing the key store failed: result 0x0102";
        QTest::newRow("mac write refused after the erase")
            << false << 0 << 0x0102 << "writing the MAC address back failed: result 0x0102";
    }
    void eraseAnswers()
    {
        QFETCH(bool, macFirst);
        QFETCH(int, eraseResult);
        QFETCH(int, macResult);
        QFETCH(QString, reason);
        QVERIFY(writeFile(path("a.dfu"), image()));
        Rig rig;
        rig.up.setEraseKeys(true);
        rig.up.uploadFile(path("a.dfu"));
        sendWholeImage(rig, 4);
        rig.feed(rspFinish(0));
        rig.feed(evtBoot());
        rig.feed(evtMac(0, QByteArray::fromHex("0200000000ab")));
        rig.feed(macFirst ? rspSetMac(macResult) : rspEraseAll(eraseResult));
        // One answer alone is never the end, whatever it says, unless it is a refusal.
        const bool firstRefused = (macFirst ? macResult : eraseResult) != 0;
        QCOMPARE(rig.finished.count(), firstRefused ? 1 : 0);
        if (!firstRefused) rig.feed(macFirst ? rspEraseAll(eraseResult) : rspSetMac(macResult));
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0][0].toBool(), reason.isEmpty());
        QVERIFY(rig.finished[0][1].toString().startsWith(reason));
        QCOMPARE(rig.messages.count(), reason.isEmpty() ? 0 : 1);
        QVERIFY(!rig.up.uploading());
        // Answers to the user's own commands afterwards are not the upload's: no second end, nothing sent.
        const int sent = rig.sent.size();
        rig.feed(evtMac(0, QByteArray::fromHex("0200000000ab")));
        rig.feed(rspEraseAll(0));
        rig.feed(rspSetMac(0));
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.sent.size(), sent);
    }

    // The ways an upload ends early: each says why in red, and nothing that arrives afterwards sends
    // anything. The log boxes are switched back on only when the upload had switched them off.
    void failures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QVariantList>("logging");
        const QVariantList untouched;
        const QVariantList offAndOn{false, true};
        QTest::newRow("set-address rejected")
            << "reject-address"
            << redLine("DFU Failed: the module refused the flash address: result 0x0181 (Device is in wrong "
                       "state to accept command). Reset the module to DFU first, then upload again.")
            << "the module refused the flash address: result 0x0181" << untouched;
        QTest::newRow("module silent before the first chunk")
            << "silent-address" << redLine("DFU Failed: no response from the module")
            << "no response from the module for 0.1 s" << untouched;
        QTest::newRow("port lost before the first chunk")
            << "lost-address" << redLine("DFU Failed: the port was lost") << "the port was lost" << untouched;
        QTest::newRow("module silent while sending")
            << "silent" << redLine("DFU Failed: no response from the module")
            << "no response from the module for 0.1 s" << offAndOn;
        QTest::newRow("module silent after the reset")
            << "silent-boot" << redLine("DFU Failed: the image was accepted, but the module did not restart")
            << "the image was accepted, but the module did not restart within 0.1 s" << offAndOn;
        QTest::newRow("port lost while sending")
            << "lost" << redLine("DFU Failed: the port was lost") << "the port was lost" << offAndOn;
        QTest::newRow("port closed by the user while sending")
            << "closed" << redLine("DFU Failed: the port was closed") << "the port was closed" << offAndOn;
    }
    void failures()
    {
        QFETCH(QString, how);
        QFETCH(QString, line);
        QFETCH(QString, reason);
        QFETCH(QVariantList, logging);
        QVERIFY(writeFile(path("x.dfu"), image()));
        Rig rig;
        rig.up.setResponseTimeout(100);
        rig.up.uploadFile(path("x.dfu"));
        if (how == "reject-address") {
            rig.feed(rspSetAddress(0x0181));
        } else if (how == "silent-address") {
            QVERIFY(rig.finished.wait(2000));
        } else if (how == "lost-address") {
            rig.up.linkLost();
        } else if (how == "silent-boot") {
            sendWholeImage(rig, 4);
            rig.feed(rspFinish(0));
            QVERIFY(rig.finished.wait(2000));
        } else {
            rig.feed(rspSetAddress(0));
            rig.feed(rspUpload(0));
            if (how == "silent")
                QVERIFY(rig.finished.wait(2000));
            else if (how == "lost")
                rig.up.linkLost();
            else
                rig.up.linkClosed();
        }
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0][0].toBool(), false);
        QVERIFY2(rig.finished[0][1].toString().startsWith(reason), qPrintable(rig.finished[0][1].toString()));
        QCOMPARE(rig.messages.count(), 1);
        QCOMPARE(rig.messages[0][0].toString(), line);
        QVariantList seen;
        for (const QVariantList &args : rig.logging)
            seen << args[0];
        QCOMPARE(seen, logging);
        QVERIFY(!rig.up.uploading());

        // Late answers do not bring the upload back to life, nor a second loss report it again.
        const int before = rig.sent.size();
        for (int i = 0; i < 5; ++i)
            rig.feed(rspUpload(0));
        rig.feed(rspSetAddress(0));
        rig.feed(rspFinish(0));
        rig.feed(evtBoot());
        rig.up.linkLost();
        rig.up.linkClosed();
        QCOMPARE(rig.sent.size(), before);
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.messages.count(), 1);
    }

    void noPortSendsNothing()
    {
        QVERIFY(writeFile(path("p.dfu"), image()));
        Rig rig;
        rig.up.setLinkOpenQuery([] { return false; });
        rig.up.uploadFile(path("p.dfu"));
        QVERIFY(rig.sent.isEmpty());
        QCOMPARE(rig.messages.count(), 1);
        QCOMPARE(rig.messages[0][0].toString(), redLine("DFU Failed: no port is open"));
        QCOMPARE(rig.finished.count(), 1);
        QCOMPARE(rig.finished[0], (QVariantList{false, "no port is open"}));
    }

    // A new upload in the middle of one starts again from the address, with the new image.
    void restartWithAnotherImage()
    {
        const QByteArray first = image(512000, 0, 300000);
        const QByteArray second = image(512000, 128, 300000);
        QVERIFY(first.left(128) != second.left(128));
        QVERIFY(writeFile(path("first.dfu"), first));
        QVERIFY(writeFile(path("second.dfu"), second));
        Rig rig;
        rig.up.uploadFile(path("first.dfu"));
        rig.feed(rspSetAddress(0));
        rig.feed(rspUpload(0));
        rig.sent.clear();
        rig.up.uploadFile(path("second.dfu"));
        QCOMPARE(rig.sent, QList<QByteArray>{cmdSetAddress0()});
        QCOMPARE(rig.up.state(), FirmwareUpload::State::Addressing);
        rig.feed(rspSetAddress(0));
        QCOMPARE(rig.sent.mid(1),
                 (QList<QByteArray>{cmdUpload(second.mid(0, 128)), cmdUpload(second.mid(128, 128)),
                                    cmdUpload(second.mid(256, 128)), cmdUpload(second.mid(384, 128))}));
        QCOMPARE(rig.up.chunksInFlight(), 4);
    }

    void initTestCase() { QVERIFY(dir.isValid()); }
};

NW_TEST(TestFirmwareUpload)
#include "tst_firmwareupload.moc"
