#include "copies.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace Recovery {

namespace {

// Fields are short, but a comment may be pasted whole from a long text.
constexpr qint64 MaxState = ListFiles::MaxFileSize;
// The list's bytes, then what was typed since, which can outgrow the list.
constexpr qint64 MaxJournal = 4 * ListFiles::MaxFileSize;

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Removes what this program writes in a copy's folder, then the folder if that empties it.
void removeCopyFiles(const QString &path)
{
    QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
    QDir().rmdir(path);
}

// Nothing when the folder holds no state yet: its program ended before its first flush.
std::optional<Copy> readCopy(const QString &path, const std::function<bool(qint64)> &roomFor)
{
    Copy copy;
    copy.path = path;
    const Read state = readFile(QDir(path).filePath(QString::fromUtf16(StateName)), MaxState);
    if (state.error == ENOENT)
        return std::nullopt;
    const std::optional<State> kept = state.error ? std::nullopt : readState(state.bytes);
    if (state.error == EFBIG)
        copy.unreadable =
                QCoreApplication::translate("Recovery", "It is larger than a copy can be");
    else if (state.error)
        copy.unreadable = reason(state.error);
    else if (!kept)
        copy.unreadable =
                QCoreApplication::translate("Recovery", "It is damaged, or not a recovery copy");
    if (!kept)
        return copy;
    qint64 journals = 0;
    for (const qint64 size : kept->journalSizes)
        journals += std::clamp(size, qint64(0), MaxJournal);
    if (roomFor && !roomFor(journals)) {
        copy.tooLargeNow = true;
        return copy;
    }
    qint64 last = kept->kept;
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        const quint32 generation = kept->generations[size_t(list)];
        const Read journal =
                readFile(QDir(path).filePath(journalName(list, generation)), MaxJournal);
        KeptList &into = copy.lists[size_t(list)];
        // What follows the size the state names was written by a flush that did not finish.
        const qint64 size = kept->journalSizes[size_t(list)];
        if (journal.error)
            into.generation = generation;
        else
            into = readJournal(
                    QByteArrayView(journal.bytes).first(std::min(journal.bytes.size(), size)), list,
                    generation);
        if (into.whole == KeptList::Whole::Yes && journal.bytes.size() < size)
            into.whole = KeptList::Whole::LatestLost;
        last = std::max(last, into.kept);
    }
    copy.kept = QDateTime::fromMSecsSinceEpoch(last);
    copy.stamps = kept->stamps;
    copy.fields = kept->fields;
    return copy;
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

int makeFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    qsizetype slash = 0;
    do {
        slash = name.indexOf('/', slash + 1);
        const QByteArray part = slash < 0 ? name : name.first(slash);
        if (::mkdir(part.constData(), S_IRWXU) != 0 && errno != EEXIST)
            return errno;
    } while (slash >= 0);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    // The server list holds passwords: a folder made earlier with wider rights is narrowed.
    if ((info.st_mode & 077) != 0 && ::chmod(name.constData(), S_IRWXU) != 0)
        return errno;
    return 0;
}

QString lockPath(const QString &copyFolder)
{
    return copyFolder + u".lock"_s;
}

QString journalName(ListFiles::List list, quint32 generation)
{
    return (list == ListFiles::List::Servers ? u"servers-%1.journal"_s : u"friends-%1.journal"_s)
            .arg(generation);
}

std::optional<Copy> takeStaleCopy(const std::function<bool(qint64)> &roomFor)
{
    const std::optional<QString> root = folder();
    if (!root)
        return std::nullopt;
    // Newest first: a copy's folder changes with each flush.
    const QFileInfoList found = QDir(*root).entryInfoList(
            {u"copy-*"_s}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Time);
    for (const QFileInfo &entry : found) {
        const QString path = entry.filePath();
        auto lock = std::make_unique<QLockFile>(lockPath(path));
        // Stale only when its program is gone, however long that program has been running.
        lock->setStaleLockTime(0);
        qint64 pid = 0;
        QString host;
        // A number this program now has was an earlier program's, which has ended.
        if (lock->getLockInfo(&pid, &host, nullptr) && pid == QCoreApplication::applicationPid()
            && host == QSysInfo::machineHostName())
            lock->removeStaleLockFile();
        if (!lock->tryLock(0))
            continue;
        QFile::setPermissions(lock->fileName(), QFile::ReadOwner | QFile::WriteOwner);
        // Its program may have removed it and let go of its lock just now.
        if (!QFileInfo(path).isDir())
            continue;
        std::optional<Copy> copy = readCopy(path, roomFor);
        if (!copy) {
            removeCopyFiles(path);
            continue;
        }
        copy->lock = std::move(lock);
        return copy;
    }
    return std::nullopt;
}

void discard(Copy &copy)
{
    removeCopyFiles(copy.path);
    copy.lock.reset();
}

QString setAside(Copy &copy)
{
    const QFileInfo info(copy.path);
    const QString aside = info.dir().filePath(u"damaged-"_s + info.fileName());
    const bool moved = QDir().rename(copy.path, aside);
    copy.lock.reset();
    return moved ? aside : QString();
}

Read readFile(const QString &path, qint64 limit)
{
    Read read;
    // Whatever stands there is looked at before anything waits on it: a named pipe would block.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        read.error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        read.error = EINVAL;
    } else if (info.st_size > limit) {
        read.error = EFBIG;
    } else {
        read.bytes.resize(info.st_size);
        qsizetype got = 0;
        while (got < read.bytes.size()) {
            const ssize_t n = ::read(fd, read.bytes.data() + got, size_t(read.bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                read.error = n < 0 ? errno : 0;
                break;
            }
            got += n;
        }
        read.bytes.truncate(got);
    }
    if (fd >= 0)
        ::close(fd);
    return read;
}

} // namespace Recovery
