#pragma once

// Where recovery copies live, and the copies left behind by programs that are no longer
// running: finding the newest, reading it, and deleting it or setting it aside. Everything in
// the state folder is reached through descriptors held from the moment it was made or found, so
// that nothing renamed or linked meanwhile can turn a write or a removal elsewhere.

#include "copyformat.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Recovery {

// $XDG_STATE_HOME/vonnerby, or ~/.local/state/vonnerby; nothing when neither names a folder.
std::optional<QString> folder();

// Why a folder cannot hold copies, besides the system's errors.
inline constexpr int NotOwned = -100;      // it belongs to another user
inline constexpr int UntrustedLink = -101; // a link of another user's stands on the way to it

// The state folder, reached as the lists' folder is; made owner-only when \a make. A folder
// that belongs to another user holds nothing of this program's: they could read or change it.
struct StateFolder
{
    ListFiles::Descriptor folder;
    int error = 0;
    QString path; // where it failed: the folder, or the link not followed
};
StateFolder openStateFolder(bool make);

// The names in the folder that \a folder names, but "." and "..".
std::vector<QByteArray> namesIn(int folder);

// A copy's lock: a file beside the copy's folder, locked with flock(), which the system lets go
// of when its program ends, however it ends. It names the program's process.
class Lock
{
public:
    // Nothing when a running program holds it, or it cannot be made.
    static std::unique_ptr<Lock> take(int stateFolder, const QByteArray &copyName);
    // Removes the lock file, then lets go of it.
    ~Lock();
    Q_DISABLE_COPY_MOVE(Lock)

private:
    Lock() = default;
    ListFiles::Descriptor m_folder;
    QByteArray m_name;
    ListFiles::Descriptor m_file;
};

// A copy's folder holds a state file and its lists' journals.
QString journalName(ListFiles::List list, quint32 generation);
inline constexpr char StateName[] = "state";

// Removes a copy's folder: its state first, so that a copy cut short by a crash while going
// never names journals that are gone; then the rest, then the folder itself.
int removeCopy(int stateFolder, const QByteArray &name, int copyFolder);

// A copy whose program has ended, locked by this one while it decides.
struct Copy
{
    QString path; // to show
    QByteArray name;
    ListFiles::Descriptor stateFolder;
    ListFiles::Descriptor folder; // not valid when it is not a folder of this user's
    std::unique_ptr<Lock> lock;
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
// \a roomFor, if given, says whether lists kept in journals of so many bytes can be read back
// and shown with the memory there is now.
std::optional<Copy> takeStaleCopy(const std::function<bool(qint64)> &roomFor = {});
void discard(Copy &copy);
// Moves a copy that cannot be read out of the way; returns where it went, or an empty string.
QString setAside(Copy &copy);

} // namespace Recovery
