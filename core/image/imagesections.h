#pragma once

#include "imagelayout.h"

#include <QStringList>
#include <QVector>

// The section table of a program flash image, read and checked record by record: where each block
// lies, whether it lies inside the image and apart from the others, and whether its CRC-32 matches.
struct ImageSection {
    imagelayout::Record record = imagelayout::Files;
    QString name;
    imagelayout::SectionRecord stored;
    qint64 offset = -1;  // the block's offset in the image; -1 when it cannot be placed
    bool present = true; // false: the record is all zero (only USB may be absent)
    bool inside = false; // the block lies wholly inside the image, below the table
    quint32 crc = 0;     // CRC-32 of the block as it lies in the image
    QStringList problems;

    bool crcMatches() const { return inside && crc == stored.crc; }
    bool usable() const { return present && inside; }
};

class ImageSections
{
public:
    // Reads the table at its place; an image too short for it yields no sections and one problem.
    static ImageSections read(const QByteArray &flash);

    static QString nameOf(imagelayout::Record record);

    bool tableRead = false;
    quint32 version = 0;
    QVector<ImageSection> sections; // in table order
    QStringList problems;           // about the table as a whole
    QString softwareCheck;          // the upload's own verdict, empty when it takes the image

    const ImageSection &section(imagelayout::Record record) const { return sections[int(record)]; }
    // The block's bytes when it lies inside the image (even with a wrong CRC), else empty.
    QByteArray block(const QByteArray &flash, imagelayout::Record record) const;
    // Every problem of the table and its sections, each naming its section.
    QStringList allProblems() const;
};
