#pragma once

#include "capturefile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

struct CapturedPacket {
    int interfaceId = 0;
    qint64 timeNs = 0; // since the epoch; 0 where the file records no time
    capture::Direction direction = capture::Direction::Unknown;
    QByteArray data;
    QString comment;
    // Bytes the recording receiver dropped as noise, not a packet.
    bool isDiscarded() const { return comment == QLatin1String(capture::discardedComment); }
};

struct CaptureInterface {
    QString name;
    QString description;
    int linkType = 0;
};

// Reads a capture one packet at a time, without holding the file in memory. Damage after the last
// whole block (a file cut by a crash or a full disk) ends the packets with a warning that counts the
// bytes ignored; damage that makes the rest meaningless (impossible lengths, a broken header) ends them
// with an error. Packets of interfaces with another link type are skipped with a warning.
class CaptureReader
{
public:
    enum class Result { Packet, End, Failed };

    CaptureReader();
    ~CaptureReader();

    bool open(const QString &path);
    Result next(CapturedPacket &packet);

    // Packets on interfaces of any other link type are skipped (and counted); the module's by default.
    void setLinkType(int linkType) { wantedLinkType = linkType; }

    QString errorString() const { return error; }
    QStringList warnings() const { return notes; }
    qint64 ignoredBytes() const { return ignored; }
    qint64 skippedPackets() const { return skipped; }
    qint64 fileSize() const { return fileBytes; }
    qint64 position() const { return offset; }
    bool isClassicPcap() const { return classic; }
    // The interfaces of the section being read.
    QVector<CaptureInterface> interfaces() const;

private:
    struct Interface {
        CaptureInterface info;
        quint8 tsresol = 6;
        qint64 tsoffset = 0;
    };

    qint64 available();
    const char *peek(qint64 n);
    const char *take(qint64 n);
    quint16 u16(const char *p) const;
    quint32 u32(const char *p) const;
    Result fail(const QString &reason);
    Result cut(qint64 bytes);
    Result nextClassic(CapturedPacket &packet);
    Result nextBlock(CapturedPacket &packet, bool &isPacket);
    bool readSection(const char *body, int size);
    void readInterface(const char *body, int size);
    bool readEnhanced(const char *body, int size, CapturedPacket &packet);
    bool readSimple(const char *body, int size, CapturedPacket &packet);
    bool accept(int interfaceId);

    QFile file;
    QByteArray buffer;
    qint64 bufferPos = 0;
    qint64 offset = 0; // of the next unread byte in the file
    qint64 fileBytes = 0;
    bool swapped = false;
    bool classic = false;
    bool finished = false;
    int classicNanos = 0;
    int wantedLinkType = 147;
    QVector<Interface> ifaces;
    QVector<bool> wrongLinkNoted;
    QString error;
    QStringList notes;
    qint64 ignored = 0;
    qint64 skipped = 0;
    qint64 unknownBlocks = 0;
};
