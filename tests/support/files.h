#pragma once

#include "listfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// Files as a test lays them down and finds them afterwards.
namespace TestFiles {

// "(too large)" for a file past what Open takes, which is not read in only to be compared.
inline QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(missing)";
    return file.size() > ListFiles::MaxFileSize ? QByteArray("(too large)") : file.readAll();
}

// Makes the folders on the way.
inline void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A plain file where the data folder should be: every Save, Open and Create fails there.
inline void blockDataFolder(const QTemporaryDir &home)
{
    write(home.filePath(QStringLiteral("file")), "x");
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("file")).toLocal8Bit());
}

// Folders synced through ListFiles::systemCalls().fsync, by their paths, once recordSyncs() put
// the recorder in.
inline QStringList syncedFolders;
inline void recordSyncs()
{
    syncedFolders.clear();
    ListFiles::systemCalls().fsync = [](int fd) {
        syncedFolders << QFile::symLinkTarget(QStringLiteral("/proc/self/fd/")
                                              + QString::number(fd));
        return ::fsync(fd);
    };
}

} // namespace TestFiles
