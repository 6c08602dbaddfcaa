#pragma once

#include "imagefile.h"
#include "imagesections.h"

#include <QJsonObject>
#include <QStringList>

class ScriptApi;

// Everything an image holds, read back: as a JSON object for tools and as text for people.
struct Inspection {
    ImageFile image;
    ImageSections table;
    QJsonObject json;
    QStringList text;
    QStringList problems;  // everything that is wrong, each naming where
    bool accepted = false; // the upload's own check passes

    // `codeInJson`: the script's instructions in `json` too (the text always has them).
    static Inspection of(const ImageFile &image, const ScriptApi *api, bool codeInJson = true);
};

// Writes the files section's files below `dir`, refusing every name that would land outside it; each
// file written or refused gets a line in `messages`. False when any file was refused or not written.
bool extractFiles(const ImageFile &image, const QString &dir, QStringList &messages);

// Which sections hold different bytes in two images, with the script's code side by side where it
// changed. `same` is false when anything differs.
struct ImageDiff {
    QStringList differing;
    QStringList text;
    bool same() const { return differing.isEmpty(); }
};
ImageDiff diffImages(const ImageFile &a, const ImageFile &b, const ScriptApi *api);
