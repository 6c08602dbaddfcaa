#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// What a script's byte code refers to by number, read from the API definition file: the classes in
// order with their event-table entries (as the compiler lays them out), and the commands by script id.
class ScriptApi
{
public:
    struct Class {
        QString name;
        QStringList entries; // event names, one per table entry (gaps repeat the next event's name)
        int events = 0;      // the class's events; the class table's offsets grow by these, not by entries
    };

    // False with `error` set when the file cannot be read or is not XML.
    bool load(const QString &path, QString *error = nullptr);
    bool loadXml(const QByteArray &xml, QString *error = nullptr);

    bool isLoaded() const { return loaded; }
    QVector<Class> classes;
    QHash<int, QString> commands; // script id -> class_command
    int entryCount() const;
    qint64 tablesSize() const { return 2 * (qint64(classes.size()) + entryCount()); }

private:
    bool loaded = false;
};
