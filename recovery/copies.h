#pragma once

// Where recovery copies live, and the copies left behind by programs that are no longer
// running: finding the newest, reading it, and deleting it or setting it aside.

#include "copyformat.h"

#include <QLockFile>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace Recovery {

// $XDG_STATE_HOME/vonnerby, or ~/.local/state/vonnerby; nothing when neither names a folder.
std::optional<QString> folder();
// Makes \a path and its missing parents, owner-only. Returns 0 or the system's error.
int makeFolder(const QString &path);
// A copy's folder holds a state file and its lists' journals; its lock lies beside it.
QString lockPath(const QString &copyFolder);
QString journalName(ListFiles::List list, quint32 generation);
inline constexpr char16_t StateName[] = u"state";

// A copy whose program has ended, locked by this one while it decides.
struct Copy
{
    QString path;
    std::unique_ptr<QLockFile> lock;
    // Why its state cannot be read; then nothing else in it is used.
    std::optional<QString> unreadable;
    // Its lists are more than this program has the memory to read back now; then nothing else
    // in it is read, and it stays for a later start.
    bool tooLargeNow = false;
    QDateTime kept;
    std::array<KeptList, 2> lists;
    std::array<ListFiles::Stamp, 2> stamps;
    Fields fields;
};

// The newest copy left by a program that is no longer running; nothing when there is none.
// With no copies at all, only the folder is listed. \a roomFor, if given, says whether lists
// kept in journals of so many bytes can be read back and shown with the memory there is now.
std::optional<Copy> takeStaleCopy(const std::function<bool(qint64)> &roomFor = {});
void discard(Copy &copy);
// Moves a copy that cannot be read out of the way; returns where it went, or an empty string.
QString setAside(Copy &copy);

// A file read whole, refusing anything but a regular file of at most \a limit bytes.
struct Read
{
    QByteArray bytes;
    int error = 0; // errno, or EFBIG beyond the limit, or EINVAL for not a regular file
};
Read readFile(const QString &path, qint64 limit);

} // namespace Recovery
