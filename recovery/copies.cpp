#include "copies.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using ListFiles::Descriptor;
using ListFiles::systemCalls;

namespace Recovery {

namespace {

// Fields are short, but a comment may be pasted whole from a long text.
constexpr qint64 MaxState = ListFiles::MaxFileSize;
// The list's bytes, then what was typed since, which can outgrow the list.
constexpr qint64 MaxJournal = 4 * ListFiles::MaxFileSize;
constexpr QByteArrayView CopyPrefix = "copy-";
constexpr char LockSuffix[] = ".lock";

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString pathIn(const QString &folder, const QByteArray &name)
{
    return QDir(folder).filePath(QFile::decodeName(name));
}

// A copy of \a fd that a directory stream can own, or -1.
int duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// A regular file of the folder, opened without waiting on whatever stands there instead.
Descriptor openRegular(int folder, const char *name, int &error, qint64 &size)
{
    Descriptor fd(systemCalls().openat(
            folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0));
    struct stat info = {};
    error = 0;
    if (!fd.isValid() || ::fstat(fd.get(), &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    else
        size = info.st_size;
    return error ? Descriptor() : std::move(fd);
}

// A file's bytes, or why they could not be read.
struct Read
{
    QByteArray bytes;
    int error = 0; // errno, EFBIG beyond the limit, EINVAL for not a regular file, or ENOMEM
};

// Reads \a size bytes at most; fewer where the file ends sooner.
Read readUpTo(int fd, qint64 size)
{
    Read read;
    try {
        read.bytes.resize(size);
    } catch (const std::bad_alloc &) {
        read.error = ENOMEM;
        return read;
    }
    qsizetype got = 0;
    while (got < read.bytes.size()) {
        const ssize_t n =
                systemCalls().read(fd, read.bytes.data() + got, size_t(read.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            read.error = n < 0 ? errno : 0;
            break;
        }
        got += n;
    }
    read.bytes.truncate(got);
    return read;
}

// A regular file of the folder read whole, refused beyond \a limit bytes.
Read readFile(int folder, const char *name, qint64 limit)
{
    Read read;
    qint64 size = 0;
    const Descriptor fd = openRegular(folder, name, read.error, size);
    if (read.error)
        return read;
    if (size > limit) {
        read.error = EFBIG;
        return read;
    }
    return readUpTo(fd.get(), size);
}

// False when the folder holds no state yet: its program ended before its first flush.
bool readCopy(Copy &copy, const std::function<bool(qint64)> &roomFor)
{
    const Read state = readFile(copy.folder.get(), StateName, MaxState);
    if (state.error == ENOENT)
        return false;
    const std::optional<State> kept = state.error ? std::nullopt : readState(state.bytes);
    if (state.error == ENOMEM) {
        copy.tooLargeNow = true;
        return true;
    }
    if (state.error == EFBIG)
        copy.unreadable =
                QCoreApplication::translate("Recovery", "It is larger than a copy can be");
    else if (state.error)
        copy.unreadable = reason(state.error);
    else if (!kept)
        copy.unreadable =
                QCoreApplication::translate("Recovery", "It is damaged, or not a recovery copy");
    if (!kept)
        return true;

    // No more of a journal is read than its state names: what follows was written by a flush
    // that did not finish, or by nothing of this program's, and may be any size at all.
    struct Journal
    {
        Descriptor fd;
        int error = 0;
        qint64 size = 0;
    };
    std::array<Journal, 2> journals;
    qint64 toRead = 0;
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        Journal &journal = journals[size_t(list)];
        const QByteArray name =
                QFile::encodeName(journalName(list, kept->generations[size_t(list)]));
        qint64 size = 0;
        journal.fd = openRegular(copy.folder.get(), name.constData(), journal.error, size);
        journal.size =
                std::clamp(std::min(size, kept->journalSizes[size_t(list)]), qint64(0), MaxJournal);
        toRead += journal.size;
    }
    if (roomFor && !roomFor(toRead)) {
        copy.tooLargeNow = true;
        return true;
    }
    qint64 last = kept->kept;
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        const quint32 generation = kept->generations[size_t(list)];
        Journal &journal = journals[size_t(list)];
        const Read read =
                journal.error ? Read{{}, journal.error} : readUpTo(journal.fd.get(), journal.size);
        journal.fd = {};
        KeptList &into = copy.lists[size_t(list)];
        if (read.error == ENOMEM) {
            copy.tooLargeNow = true;
            return true;
        }
        if (read.error)
            into.generation = generation;
        else
            into = readJournal(read.bytes, list, generation);
        if (into.whole == KeptList::Whole::Yes
            && read.bytes.size() < kept->journalSizes[size_t(list)])
            into.whole = KeptList::Whole::LatestLost;
        last = std::max(last, into.kept);
    }
    copy.kept = QDateTime::fromMSecsSinceEpoch(last);
    copy.stamps = kept->stamps;
    copy.fields = kept->fields;
    return true;
}

} // namespace

std::optional<QString> folder()
{
    // As for the lists' folder, the XDG rules say a relative XDG_STATE_HOME is to be ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            return std::nullopt;
        state = home + u"/.local/state"_s;
    }
    return QDir::cleanPath(state + u"/vonnerby"_s);
}

StateFolder openStateFolder(bool make)
{
    StateFolder state;
    const std::optional<QString> path = folder();
    if (!path) {
        state.error = ENOENT;
        return state;
    }
    state.path = QDir::toNativeSeparators(*path);
    ListFiles::FoundFolder found = ListFiles::openFolder(*path, make);
    if (!found.folder.isValid()) {
        state.error = found.error == EPERM && !found.link.isEmpty() ? UntrustedLink : found.error;
        if (!found.link.isEmpty())
            state.path = found.link;
        return state;
    }
    struct stat info = {};
    if (::fstat(found.folder.get(), &info) != 0) {
        state.error = errno;
        return state;
    }
    if (info.st_uid != ::geteuid()) {
        state.error = NotOwned;
        return state;
    }
    // The server list holds passwords: a folder made earlier with wider rights is narrowed.
    if ((info.st_mode & 077) != 0) {
        const Descriptor open(
                ::openat(found.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!open.isValid() || ::fchmod(open.get(), S_IRWXU) != 0) {
            state.error = errno;
            return state;
        }
    }
    state.folder = std::move(found.folder);
    return state;
}

std::vector<QByteArray> namesIn(int folder)
{
    std::vector<QByteArray> names;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name.toByteArray());
    }
    ::closedir(dir);
    return names;
}

std::unique_ptr<Lock> Lock::take(int stateFolder, const QByteArray &copyName)
{
    const QByteArray name = copyName + LockSuffix;
    // Another program may remove the file between its open and its lock: then the lock taken
    // is of a file nobody else can find, and is taken again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<Lock> lock(new Lock);
        lock->m_file = Descriptor(systemCalls().openat(stateFolder, name.constData(),
                                                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK
                                                               | O_NOCTTY | O_CLOEXEC,
                                                       S_IRUSR | S_IWUSR));
        struct stat held = {};
        if (!lock->m_file.isValid() || ::fstat(lock->m_file.get(), &held) != 0
            || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid())
            return nullptr;
        if (::flock(lock->m_file.get(), LOCK_EX | LOCK_NB) != 0)
            return nullptr;
        struct stat named = {};
        if (::fstatat(stateFolder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
            || named.st_dev != held.st_dev || named.st_ino != held.st_ino)
            continue;
        lock->m_folder = Descriptor(duplicate(stateFolder));
        lock->m_name = name;
        // Who holds it, for whoever looks.
        const QByteArray who = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                + QCoreApplication::applicationName().toUtf8() + '\n'
                + QSysInfo::machineHostName().toUtf8() + '\n';
        if (::ftruncate(lock->m_file.get(), 0) == 0
            && ::pwrite(lock->m_file.get(), who.constData(), size_t(who.size()), 0) < 0) {
            // Only a courtesy: the lock holds without it.
        }
        return lock;
    }
    return nullptr;
}

Lock::~Lock()
{
    // Removed while still held, so that nobody takes a lock on a file about to go.
    systemCalls().unlinkat(m_folder.get(), m_name.constData(), 0);
}

QString journalName(ListFiles::List list, quint32 generation)
{
    return (list == ListFiles::List::Servers ? u"servers-%1.journal"_s : u"friends-%1.journal"_s)
            .arg(generation);
}

int removeCopy(int stateFolder, const QByteArray &name, int copyFolder)
{
    int error = 0;
    if (systemCalls().unlinkat(copyFolder, StateName, 0) != 0 && errno != ENOENT)
        error = errno;
    else if (const int synced = ListFiles::syncFolder(copyFolder))
        error = synced;
    // Without its state gone for good, the journals it names stay.
    if (error)
        return error;
    for (const QByteArray &entry : namesIn(copyFolder)) {
        if (systemCalls().unlinkat(copyFolder, entry.constData(), 0) != 0 && errno != ENOENT)
            error = errno;
    }
    if (systemCalls().unlinkat(stateFolder, name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        error = error ? error : errno;
    return error;
}

std::optional<Copy> takeStaleCopy(const std::function<bool(qint64)> &roomFor)
{
    StateFolder state = openStateFolder(false);
    if (!state.folder.isValid())
        return std::nullopt;
    const int stateFolder = state.folder.get();
    // Newest first: a copy's folder changes with each flush.
    struct Entry
    {
        QByteArray name;
        qint64 modified = 0;
    };
    std::vector<Entry> found;
    const std::vector<QByteArray> names = namesIn(stateFolder);
    for (const QByteArray &name : names) {
        if (!name.startsWith(CopyPrefix))
            continue;
        if (name.endsWith(LockSuffix)) {
            // The lock of a copy whose program ended before it made the copy's folder.
            const QByteArray copy = name.chopped(qsizetype(sizeof LockSuffix) - 1);
            if (std::find(names.begin(), names.end(), copy) == names.end())
                Lock::take(stateFolder, copy);
            continue;
        }
        struct stat info = {};
        if (::fstatat(stateFolder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            found.push_back(
                    {name, qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
    }
    std::sort(found.begin(), found.end(),
              [](const Entry &a, const Entry &b) { return a.modified > b.modified; });

    const QString root = state.path;
    for (const Entry &entry : found) {
        std::unique_ptr<Lock> lock = Lock::take(stateFolder, entry.name);
        if (!lock)
            continue;
        Copy copy;
        copy.path = QDir::toNativeSeparators(pathIn(root, entry.name));
        copy.name = entry.name;
        copy.stateFolder = Descriptor(duplicate(stateFolder));
        copy.lock = std::move(lock);
        // Its program may have removed it and let go of its lock just now.
        copy.folder =
                Descriptor(::openat(stateFolder, entry.name.constData(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info = {};
        if (!copy.folder.isValid() && errno == ENOENT)
            continue;
        if (!copy.folder.isValid()) {
            copy.unreadable = errno == ELOOP || errno == ENOTDIR
                    ? QCoreApplication::translate("Recovery", "It is not a folder")
                    : reason(errno);
            return copy;
        }
        if (::fstat(copy.folder.get(), &info) != 0 || info.st_uid != ::geteuid()) {
            copy.folder = {};
            copy.unreadable = QCoreApplication::translate("Recovery", "It belongs to another user");
            return copy;
        }
        try {
            if (readCopy(copy, roomFor))
                return copy;
        } catch (const std::bad_alloc &) {
            // Memory ran out while rebuilding its lists after all: it waits for a later start.
            copy.tooLargeNow = true;
            return copy;
        }
        removeCopy(stateFolder, entry.name, copy.folder.get());
    }
    return std::nullopt;
}

void discard(Copy &copy)
{
    if (copy.folder.isValid())
        removeCopy(copy.stateFolder.get(), copy.name, copy.folder.get());
    copy.lock.reset();
}

QString setAside(Copy &copy)
{
    const QByteArray aside = "damaged-" + copy.name;
    const bool moved = systemCalls().renameat(copy.stateFolder.get(), copy.name.constData(),
                                              copy.stateFolder.get(), aside.constData())
            == 0;
    if (moved)
        ListFiles::syncFolder(copy.stateFolder.get());
    copy.lock.reset();
    return moved ? QDir::toNativeSeparators(
                   pathIn(QFileInfo(QDir::fromNativeSeparators(copy.path)).path(), aside))
                 : QString();
}

} // namespace Recovery
