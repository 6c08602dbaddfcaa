// The image layout's one check, which the upload, the inspector and the builder's readers share:
// exact reasons, and the edges of the software block against the file's end.
#include "imagelayout.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QtTest>

using namespace fixtures;

class TestImageLayout : public QObject
{
    Q_OBJECT

private slots:
    void tableOffsetsByHand()
    {
        // Six 12-byte records from 511924, then the version word up to 512000.
        QCOMPARE(imagelayout::recordOffset(imagelayout::Files), qint64(511924));
        QCOMPARE(imagelayout::recordOffset(imagelayout::Certificates), qint64(511936));
        QCOMPARE(imagelayout::recordOffset(imagelayout::Script), qint64(511948));
        QCOMPARE(imagelayout::recordOffset(imagelayout::Usb), qint64(511960));
        QCOMPARE(imagelayout::recordOffset(imagelayout::Hardware), qint64(511972));
        QCOMPARE(imagelayout::softwareRecordOffset, qint64(511984));
        QCOMPARE(imagelayout::tableOffset + imagelayout::tableSize, imagelayout::flashSize);
    }

    void crcIsTheStandardOne()
    {
        QCOMPARE(imagelayout::crc32Of(QByteArray("123456789")), 0xcbf43926u);
        QCOMPARE(imagelayout::crc32Of(QByteArray()), 0u);
    }

    void reasons_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("valid") << image() << QString();
        // The block's last byte is the file's last byte: inside, not past.
        QTest::newRow("block ends at the file's end") << image(512000, 511996, 4) << QString();
        QTest::newRow("block one byte past the end")
            << image(512000, 511996, 5, 0) << "the software block (offset 511996, 5 bytes) lies outside f.dfu";
        QTest::newRow("too large") << image() + QByteArray(1, 0)
                                   << "f.dfu is larger than the module's program flash of 512000 bytes";
        QTest::newRow("too short") << QByteArray(511995, char(0xff))
                                   << "f.dfu is 511995 bytes, too short to hold the section table (511996 bytes "
                                      "at least)";
        QTest::newRow("wrong crc") << image(512000, 0, 300000, 0x12345678)
                                   << QString("the software block's CRC-32 is 0x%1, its section record says 0x12345678")
                                          .arg(crc32Reference(image(), 0, 300000), 8, 16, QLatin1Char('0'));
        QTest::newRow("start + length wraps in 32 bits")
            << image(512000, 0xfffffff0u, 0x20, 0) << "the software block (offset 4294967280, 32 bytes) lies outside f.dfu";
    }
    void reasons()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QCOMPARE(imagelayout::checkSoftwareBlock(content, QStringLiteral("f.dfu")), reason);
    }

    void recordReadsLittleEndian()
    {
        const QByteArray img = image(512000, 0x01020304, 0);
        const auto record = imagelayout::readRecord(img, imagelayout::softwareRecordOffset);
        QCOMPARE(record.location, 0x01020304u);
        QCOMPARE(record.length, 0u);
    }
};

NW_TEST(TestImageLayout)
#include "tst_imagelayout.moc"
