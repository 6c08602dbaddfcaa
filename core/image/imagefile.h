#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A firmware image read back from a file: the program flash of a raw image, or the program and boot
// flash of an Intel HEX file. Reading never fails outright: what cannot be read is listed in
// `problems` and left as erased flash (0xFF), so everything else can still be shown.
class ImageFile
{
public:
    static constexpr quint32 flashAddress = 0x1D000000;
    static constexpr quint32 bootAddress = 0x1FC00000;
    static constexpr int bootSize = 0x3000;

    // `name` only labels the messages.
    static ImageFile fromBytes(const QByteArray &bytes, const QString &name);
    // Refuses files larger than any image (a full HEX file is about 1.4 MB) with a problem.
    static ImageFile fromFile(const QString &path);

    QString name;
    bool hex = false;
    bool readable = false; // false: nothing could be read at all (the file, or no records)
    QByteArray flash;      // the program flash as the raw image holds it
    QByteArray boot;       // boot flash, from HEX files only (empty otherwise)
    QStringList problems;

private:
    void readHex(const QByteArray &text);
};
