#pragma once

#include <QString>
#include <QStringList>

class ScriptApi;

// A short account of an image file for the programs that send it: whether the module takes it (and
// why not), the sections' sizes, the events the script handles and the certificates it carries.
struct ImageSummary {
    QString name;
    bool accepted = false; // the upload's own check passes
    QString verdict;       // "valid", or why not
    qint64 software = -1, hardware = -1, script = -1, files = -1, certificates = -1, usb = -1;
    int fileCount = 0;
    QStringList events;
    QStringList certificateSubjects;

    // `api` names the script's events; without it they are counted by number.
    static ImageSummary of(const QString &path, const ScriptApi *api);
    QString oneLine() const;
    QStringList lines() const;
};
