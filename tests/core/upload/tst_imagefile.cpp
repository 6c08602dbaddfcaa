// What the upload takes for an image file: only a regular file. A FIFO would block the window until some
// writer came, and a device could feed anything.
#include "firmwareupload.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestImageFile : public QObject
{
    Q_OBJECT

private slots:
    void onlyRegularFiles()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("wifi.dfu"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString link = dir.filePath(QStringLiteral("link.dfu"));
        QVERIFY(fixtures::writeFile(dir.filePath(QStringLiteral("good.dfu")), fixtures::image()));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("good.dfu")), link));
        for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")}) {
            QElapsedTimer timer;
            timer.start();
            QByteArray image;
            QString why;
            QVERIFY(!FirmwareUpload::readDfuFile(path, &image, &why));
            QCOMPARE(why, path + QStringLiteral(" is not a regular file"));
            QVERIFY(timer.elapsed() < 2000);
        }
        // A link to an image is the image.
        QVERIFY(FirmwareUpload::validateDfuFile(link));
    }
};

NW_TEST(TestImageFile)
#include "tst_imagefile.moc"
