#include "listfiles.h"

#include "listcodec.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace ListFiles {

namespace {

constexpr QByteArrayView LineEnd = "\r\n";

// The server list holds passwords in clear.
constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t OwnerOnlyFolder = S_IRWXU;

// writeAll's answer when the system took part of the bytes and gave no error.
constexpr int PartWritten = -1;
// readAll's answers when the file grew past MaxFileSize, or there was no memory for more of it.
constexpr int ReadPastLimit = -2;
constexpr int ReadNoMemory = -3;
// The answer when the caller stopped reading or writing half-way.
constexpr int StoppedHalfWay = -4;
// Read this much at a time, so that the caller hears how far reading has got.
constexpr qsizetype ReadStep = 4 * 1024 * 1024;

QString fileName(List list)
{
    return list == List::Servers ? u"vyserver.txt"_s : u"vyfriends.txt"_s;
}

// The XDG base directory rules: a relative XDG_DATA_HOME is to be ignored.
std::optional<QString> dataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return QDir::cleanPath(home + u"/.local/share"_s);
    return std::nullopt;
}

Failure failure(Failure::Action action, List list, Failure::Problem problem, int error = 0)
{
    Failure f;
    f.action = action;
    f.list = list;
    f.path = QDir::toNativeSeparators(path(list));
    f.problem = problem;
    if (error > 0)
        f.reason = QString::fromLocal8Bit(std::strerror(error));
    return f;
}

Failure::Kind kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return Failure::Kind::Directory;
    if (S_ISFIFO(mode))
        return Failure::Kind::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Failure::Kind::Device;
    if (S_ISSOCK(mode))
        return Failure::Kind::Socket;
    return Failure::Kind::Other;
}

int openAt(int folder, const char *name, int flags, mode_t mode = 0)
{
    return systemCalls().openat(folder, name, flags | O_CLOEXEC, mode);
}

// What stands at a list's path, found without opening it: opening a FIFO or a device can block
// or have effects of its own. The folder that holds it stays open, and every later step works
// in that folder, never on the path again: a link changed meanwhile changes nothing.
struct Found
{
    enum class State { Missing, File, NotAFile, Error };
    State state = State::Missing;
    Failure::Kind kind = Failure::Kind::Other;
    int error = 0;
    QByteArray link;       // with UntrustedLink
    Descriptor folder;     // not valid when a folder on the way is missing
    QByteArray name;       // of the file in that folder
    struct stat info = {}; // of the file itself, links followed
    int unsynced = 0;      // a folder was made, but its parent could not be synced: why
};

QList<QByteArray> namesIn(const QByteArray &path)
{
    QList<QByteArray> names = path.split('/');
    names.removeIf([](const QByteArray &name) { return name.isEmpty() || name == "."; });
    return names;
}

// Run as root, only root's own links are followed: another user's, even in that user's own
// folder, could lead root onto any file. Others keep the rule the kernel applies to links in
// shared folders, which following links one at a time would otherwise bypass.
bool mayFollow(const struct stat &folder, const struct stat &link)
{
    const uid_t me = ::geteuid();
    if (me == 0)
        return link.st_uid == 0;
    if (link.st_uid == folder.st_uid)
        return true;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || link.st_uid == me;
}

enum class Folders { Leave, Make };
// What the path's last name is to be: a folder is opened itself, not only the folder it is in.
enum class Target { File, Folder };

// Walks the path a name at a time, as the system would, judging each link before following it.
// With Folders::Make, missing folders of the path itself are made, owner-only as the XDG rules
// ask, and their parents synced so that they outlast a power cut; a link's missing target is not.
Found locate(const QByteArray &path, Folders folders, Target wanted = Target::File)
{
    Found found;
    const auto stop = [&found](Found::State state, int error = 0,
                               Failure::Kind kind = Failure::Kind::Other) {
        found.state = state;
        found.error = error;
        found.kind = kind;
        return std::move(found);
    };
    Descriptor folder(openAt(AT_FDCWD, "/", O_PATH | O_DIRECTORY));
    if (!folder.isValid())
        return stop(Found::State::Error, errno);
    QByteArray where = "/";
    QList<QByteArray> names = namesIn(path);
    qsizetype ownNames = names.size(); // the path's own, at the end; a link's target goes before
    int links = 0;
    bool throughLink = false; // the last name was a link: what is missing now is its target
    while (!names.isEmpty()) {
        const bool own = names.size() == ownNames;
        const QByteArray name = names.takeFirst();
        ownNames -= own ? 1 : 0;
        const bool last = names.isEmpty();
        const bool aFolder = !last || wanted == Target::Folder;
        // A folder on the way is asked for as one, which mounts it if it is mounted on demand;
        // what is not a folder is looked at again below.
        const auto look = [&folder, &name, aFolder] {
            const int flags = O_PATH | O_NOFOLLOW;
            const int fd =
                    openAt(folder.get(), name.constData(), flags | (aFolder ? O_DIRECTORY : 0));
            return Descriptor(fd >= 0 || errno != ENOTDIR
                                      ? fd
                                      : openAt(folder.get(), name.constData(), flags));
        };
        Descriptor entry = look();
        if (!entry.isValid() && errno == ENOENT && own && aFolder && folders == Folders::Make) {
            if (systemCalls().mkdirat(folder.get(), name.constData(), OwnerOnlyFolder) == 0) {
                if (const int error = syncFolder(folder.get()); error && !found.unsynced)
                    found.unsynced = error;
            } else if (errno != EEXIST) {
                return stop(Found::State::Error, errno);
            }
            entry = look();
        }
        if (!entry.isValid()) {
            if (errno != ENOENT)
                return stop(Found::State::Error, errno);
            if (throughLink)
                return stop(Found::State::NotAFile, 0, Failure::Kind::DanglingLink);
            if (last) {
                found.folder = std::move(folder);
                found.name = name;
            }
            return stop(Found::State::Missing);
        }
        struct stat info = {};
        if (::fstat(entry.get(), &info) != 0)
            return stop(Found::State::Error, errno);
        if (S_ISLNK(info.st_mode)) {
            struct stat holder = {};
            if (++links > 40 || ::fstat(folder.get(), &holder) != 0)
                return stop(Found::State::Error, links > 40 ? ELOOP : errno);
            if (!mayFollow(holder, info)) {
                found.link = where + name;
                return stop(Found::State::NotAFile, 0, Failure::Kind::UntrustedLink);
            }
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t size = ::readlinkat(entry.get(), "", target.data(), size_t(PATH_MAX));
            if (size < 0 || size == PATH_MAX)
                return stop(Found::State::Error, size < 0 ? errno : ENAMETOOLONG);
            target.truncate(size);
            if (target.startsWith('/')) {
                folder = Descriptor(openAt(AT_FDCWD, "/", O_PATH | O_DIRECTORY));
                where = "/";
            }
            names = namesIn(target) + names;
            throughLink = throughLink || last;
            continue;
        }
        if (last && wanted == Target::Folder && S_ISDIR(info.st_mode)) {
            found.info = info;
            found.folder = std::move(entry);
            return stop(Found::State::File);
        }
        if (last) {
            found.info = info;
            found.folder = std::move(folder);
            found.name = name;
            return S_ISREG(info.st_mode) ? stop(Found::State::File)
                                         : stop(Found::State::NotAFile, 0, kindOf(info.st_mode));
        }
        if (!S_ISDIR(info.st_mode))
            return stop(Found::State::Error, ENOTDIR);
        folder = std::move(entry);
        where += name + '/';
    }
    return stop(Found::State::NotAFile, 0, Failure::Kind::Directory);
}

std::optional<Failure> refusal(Failure::Action action, List list, const Found &found)
{
    switch (found.state) {
    case Found::State::NotAFile: {
        Failure f = failure(action, list, Failure::Problem::NotAFile);
        f.kind = found.kind;
        f.link = QDir::toNativeSeparators(QFile::decodeName(found.link));
        return f;
    }
    case Found::State::Error:
        return failure(action, list, Failure::Problem::System, found.error);
    default:
        return std::nullopt;
    }
}

// Why no folder for the lists can be named, if none can.
std::optional<Failure::Problem> noFolder()
{
    if (dataHome())
        return std::nullopt;
    return qEnvironmentVariableIsEmpty("HOME") ? Failure::Problem::NoFolder
                                               : Failure::Problem::RelativeHome;
}

// A full disk can take part of a write and report no error: the rest is tried again, and the
// system then says why it stopped, or PartWritten if it still says nothing.
int writeAll(int fd, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = systemCalls().write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return PartWritten;
        data += written;
        left -= written;
    }
    return 0;
}

// The one definition of a list file's bytes: the text, then one CR LF, handed out in pieces.
bool writeList(const Pieces &text, const Write &write)
{
    return encode(text, write) && write(LineEnd);
}

int writeList(int fd, const Pieces &text)
{
    int error = 0;
    const bool whole = writeList(text, [fd, &error](QByteArrayView bytes) {
        error = writeAll(fd, bytes);
        return error == 0;
    });
    // Stopped with nothing refused: the text itself stopped.
    return whole || error != 0 ? error : StoppedHalfWay;
}

Failure writeFailure(Failure::Action action, List list, int error)
{
    switch (error) {
    case PartWritten:
        return failure(action, list, Failure::Problem::PartWritten);
    case StoppedHalfWay:
        return failure(action, list, Failure::Problem::Stopped);
    default:
        return failure(action, list, Failure::Problem::System, error);
    }
}

// A renamed or new file is only kept for sure once its folder's entry is on the disk.

Stamp stampOf(const struct stat &status)
{
    const auto nanoseconds = [](const timespec &time) {
        return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return {true,
            status.st_size,
            nanoseconds(status.st_mtim),
            quint64(status.st_dev),
            quint64(status.st_ino),
            nanoseconds(status.st_ctim)};
}

// The stamp of \a name in \a folder if it is still the file \a written was taken of; putting a
// file in place changes its change time.
Stamp stampInPlace(int folder, const QByteArray &name, const Stamp &written)
{
    struct stat info = {};
    if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return written;
    const Stamp now = stampOf(info);
    return now.device == written.device && now.inode == written.inode ? now : written;
}

// Writes, syncs and closes \a fd, which is closed afterwards whatever happens. \a written
// receives the stamp of the file as written, taken while it is still ours.
std::optional<Failure> finish(int fd, const Pieces &text, Failure::Action action, List list,
                              Stamp &written)
{
    if (const int error = writeList(fd, text)) {
        ::close(fd);
        return writeFailure(action, list, error);
    }
    if (systemCalls().fdatasync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return failure(action, list, Failure::Problem::System, error);
    }
    struct stat info = {};
    if (::fstat(fd, &info) == 0)
        written = stampOf(info);
    // Linux releases the descriptor even when close fails, so it is not closed again.
    if (systemCalls().close(fd) != 0)
        return failure(action, list, Failure::Problem::System, errno);
    return std::nullopt;
}

// A new, owner-only file next to \a name, never one that was there: nobody can have it open.
int makeTemporary(int folder, const QByteArray &name, QByteArray &temp)
{
    constexpr QByteArrayView Letters =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = '.' + name + '.';
        for (int i = 0; i < 6; ++i)
            temp += Letters[QRandomGenerator::global()->bounded(int(Letters.size()))];
        const int fd = openAt(folder, temp.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, OwnerOnly);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// A file's bytes in memory of their own, outside the heap: an allocation that fails is an
// answer here, not the end of the program, and what is used up goes back to the system a page
// at a time.
class Bytes
{
public:
    Bytes() = default;
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    ~Bytes() { unmap(); }

    char *data() const { return m_data; }
    qsizetype capacity() const { return qsizetype(m_mapped); }

    // Room for \a size bytes, the first \a keep of them kept.
    bool reserve(qsizetype size, qsizetype keep = 0)
    {
        const size_t length = pages(size_t(std::max(size, qsizetype(1))));
        void *mapped =
                ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            return false;
#ifdef MADV_HUGEPAGE
        // Hundreds of megabytes are faulted in and given back far faster in pages of 2 MB.
        ::madvise(mapped, length, MADV_HUGEPAGE);
#endif
        if (keep > 0)
            std::memcpy(mapped, m_data, size_t(keep));
        unmap();
        m_data = static_cast<char *>(mapped);
        m_mapped = length;
        return true;
    }

    // Gives back what lies before \a offset, 2 MB at a time.
    void releaseBefore(qsizetype offset)
    {
        constexpr size_t Step = 2 * 1024 * 1024;
        const size_t end = size_t(offset) / Step * Step;
        if (end <= m_released)
            return;
        ::munmap(m_data + m_released, end - m_released);
        m_released = end;
    }

private:
    static size_t pages(size_t size)
    {
        static const auto page = size_t(::sysconf(_SC_PAGESIZE));
        return (size + page - 1) / page * page;
    }

    void unmap()
    {
        if (m_data && m_released < m_mapped)
            ::munmap(m_data + m_released, m_mapped - m_released);
        m_data = nullptr;
        m_mapped = m_released = 0;
    }

    char *m_data = nullptr;
    size_t m_mapped = 0;
    size_t m_released = 0;
};

// Reads to the end of the file, which may have grown since it was looked at, telling \a reading
// as it goes. Returns 0, the system's error, ReadPastLimit, ReadNoMemory or StoppedHalfWay.
int readAll(int fd, Bytes &bytes, qsizetype &got, const Reading &reading)
{
    got = 0;
    for (;;) {
        if (got == bytes.capacity()) {
            // It grew since: the system says by how much before any of it is read.
            struct stat info = {};
            if (::fstat(fd, &info) != 0)
                return errno;
            if (info.st_size > MaxFileSize || got > MaxFileSize)
                return ReadPastLimit;
            if (!bytes.reserve(std::max(qsizetype(info.st_size), got) + 64 * 1024, got))
                return ReadNoMemory;
        }
        const qsizetype step = std::min(bytes.capacity() - got, ReadStep);
        const ssize_t n = systemCalls().read(fd, bytes.data() + got, size_t(step));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        got += n;
        if (reading && !reading(got))
            return StoppedHalfWay;
    }
}

} // namespace

int syncFolder(int folder)
{
    // The folder was opened only to find names in; syncing needs it open for reading.
    const Descriptor fd(openAt(folder, ".", O_RDONLY | O_DIRECTORY));
    if (!fd.isValid())
        return errno;
    // Some file systems cannot sync a folder and say so with EINVAL; there is nothing to confirm.
    return systemCalls().fsync(fd.get()) == 0 || errno == EINVAL ? 0 : errno;
}

SystemCalls &systemCalls()
{
    static SystemCalls calls{::write,
                             ::fdatasync,
                             ::renameat,
                             ::close,
                             [](int folder, const char *name, int flags, mode_t mode) {
                                 return ::openat(folder, name, flags, mode);
                             },
                             ::read,
                             ::fsync,
                             ::mkdirat,
                             ::unlinkat};
    return calls;
}

QString folder()
{
    // Named even when it cannot be found, so that the message can say which folder is meant.
    return dataHome().value_or(u"$HOME/.local/share"_s) + u"/vonnerby"_s;
}

QString path(List list)
{
    return QDir(folder()).filePath(fileName(list));
}

QByteArray fileBytes(QStringView text)
{
    QByteArray bytes;
    writeList(pieces(text), [&bytes](QByteArrayView piece) {
        bytes.append(piece);
        return true;
    });
    return bytes;
}

QString listText(QByteArrayView bytes)
{
    // Taken off the text, not the bytes: in UTF-16 the line end is four bytes, and two bytes
    // that look like one are a character.
    QString text = decode(bytes);
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    return text;
}

struct ListText::Data
{
    Bytes bytes;
    Decoder decoder;

    // Decodes the text from its start; \a release gives the bytes back as they are decoded.
    bool handOut(const Piece &piece, bool release)
    {
        decoder.rewind();
        for (QStringView text = decoder.next(); !text.isEmpty(); text = decoder.next()) {
            if (!piece(text))
                return false;
            if (release)
                bytes.releaseBefore(decoder.consumed());
        }
        return true;
    }
};

ListText::ListText() = default;
ListText::ListText(ListText &&) noexcept = default;
ListText &ListText::operator=(ListText &&) noexcept = default;
ListText::~ListText() = default;

qsizetype ListText::size() const
{
    return d ? d->decoder.size() : 0;
}

bool ListText::isAscii() const
{
    return !d || d->decoder.isAscii();
}

bool ListText::read(const Piece &piece)
{
    return !d || d->handOut(piece, false);
}

bool ListText::take(const Piece &piece)
{
    const std::unique_ptr<Data> data = std::move(d);
    return !data || data->handOut(piece, true);
}

QString ListText::toString()
{
    QString text;
    text.reserve(size());
    read([&text](QStringView piece) {
        text += piece;
        return true;
    });
    return text;
}

Stamp stamp(List list)
{
    // Whatever stands there, so that a folder or a pipe appearing counts as a change too.
    const Found found = locate(QFile::encodeName(path(list)), Folders::Leave);
    const bool there = found.state == Found::State::File || found.state == Found::State::NotAFile;
    return there && !found.name.isEmpty() ? stampOf(found.info) : Stamp{};
}

Stamp stampOfOpen(int fd)
{
    struct stat status;
    if (::fstat(fd, &status) == 0)
        return stampOf(status);
    return {};
}

std::optional<Failure> save(List list, QStringView text, Stamp *written)
{
    return save(list, pieces(text), written);
}

std::optional<Failure> save(List list, const Pieces &text, Stamp *written)
{
    Staged staged = stage(list, text);
    if (staged.failure())
        return staged.failure();
    return staged.commit(written);
}

struct Staged::Data
{
    List list = List::Servers;
    Descriptor folder;
    QByteArray name;
    QByteArray temp; // the new file's name in the folder, until it takes the list file's place
    bool existed = false;
    Stamp stamp;
    int unsynced = 0; // a folder made on the way could not be synced into its parent: why

    ~Data()
    {
        if (!temp.isEmpty())
            systemCalls().unlinkat(folder.get(), temp.constData(), 0);
    }

    std::optional<Failure> write(const Pieces &text);
};

Staged::Staged() = default;
Staged::Staged(Staged &&) noexcept = default;
Staged &Staged::operator=(Staged &&) noexcept = default;
Staged::~Staged() = default;

Staged stage(List list, const Pieces &text)
{
    Staged staged;
    auto data = std::make_unique<Staged::Data>();
    data->list = list;
    if (auto failed = data->write(text))
        staged.m_failure = std::move(failed);
    else
        staged.d = std::move(data);
    return staged;
}

// On a failure, the new file, if it was made, goes with the data.
std::optional<Failure> Staged::Data::write(const Pieces &text)
{
    using Problem = Failure::Problem;
    const auto failed = [this](Problem problem, int error = 0) {
        Failure f = ListFiles::failure(Failure::Action::Save, list, problem, error);
        f.existed = existed;
        return f;
    };
    if (const auto problem = noFolder())
        return failed(*problem);
    // Drive C always exists; our stand-in for it may not yet.
    Found found = locate(QFile::encodeName(path(list)), Folders::Make);
    if (auto refused = refusal(Failure::Action::Save, list, found))
        return refused;
    existed = found.state == Found::State::File;
    if (!found.folder.isValid())
        return failed(Problem::System, ENOENT);
    folder = std::move(found.folder);
    name = found.name;
    unsynced = found.unsynced;
    // Replacing leaves a read-only file's own bytes alone; its owner meant it to stay as is.
    if (existed && ::faccessat(folder.get(), name.constData(), W_OK, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(Problem::System, errno);

    // Made owner-only, so a new list is never readable by others, not even for a moment.
    const int fd = makeTemporary(folder.get(), name, temp);
    if (fd < 0) {
        const int error = errno;
        temp.clear();
        return failed(Problem::System, error);
    }
    // Owner and mode of the file looked at, never anything found at the path later. The owner
    // first: giving a file away clears its set-user and set-group bits.
    if (existed) {
        // Root saving someone's list must not take it from them.
        if ((::geteuid() == 0 && ::fchown(fd, found.info.st_uid, found.info.st_gid) != 0)
            || ::fchmod(fd, found.info.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            return failed(Problem::System, error);
        }
    }
    if (auto finished = finish(fd, text, Failure::Action::Save, list, stamp)) {
        finished->existed = existed;
        return finished;
    }
    return std::nullopt;
}

std::optional<Failure> Staged::commit(Stamp *written)
{
    if (!d)
        return m_failure;
    const std::unique_ptr<Data> data = std::move(d);
    const int folder = data->folder.get();
    if (systemCalls().renameat(folder, data->temp.constData(), folder, data->name.constData())
        != 0) {
        Failure f = ListFiles::failure(Failure::Action::Save, data->list, Failure::Problem::System,
                                       errno);
        f.existed = data->existed;
        return f;
    }
    data->temp.clear();
    if (written)
        *written = stampInPlace(folder, data->name, data->stamp);
    const int synced = syncFolder(folder);
    if (const int error = synced ? synced : data->unsynced)
        return ListFiles::failure(Failure::Action::Save, data->list, Failure::Problem::Unconfirmed,
                                  error);
    return std::nullopt;
}

Opened open(List list, const Reading &reading)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return Opened{{}, failure(Failure::Action::Open, list, problem, error), {}};
    };
    if (const auto problem = noFolder())
        return failed(*problem);
    const Found found = locate(QFile::encodeName(path(list)), Folders::Leave);
    if (found.state == Found::State::Missing)
        return failed(Problem::Missing);
    if (auto refused = refusal(Failure::Action::Open, list, found))
        return {{}, refused, {}};
    if (found.info.st_size > MaxFileSize)
        return failed(Problem::TooLarge);

    // Something else may stand there by now: do not wait on it, and look at what was opened.
    const Descriptor fd(openAt(found.folder.get(), found.name.constData(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.isValid())
        return failed(Problem::System, errno);
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0)
        return failed(Problem::System, errno);
    if (!S_ISREG(info.st_mode)) {
        Found changed;
        changed.state = Found::State::NotAFile;
        changed.kind = kindOf(info.st_mode);
        return {{}, refusal(Failure::Action::Open, list, changed), {}};
    }
    if (info.st_size > MaxFileSize)
        return failed(Problem::TooLarge);
    // Before reading: a change made while reading shows as a change since.
    const Stamp stamp = stampOf(info);
    auto data = std::make_unique<ListText::Data>();
    // One byte more than the file holds, so that the read that finds its end needs no room.
    if (!data->bytes.reserve(qsizetype(info.st_size) + 1))
        return failed(Problem::NoMemory);
    qsizetype got = 0;
    if (const int error = readAll(fd.get(), data->bytes, got, reading)) {
        switch (error) {
        case ReadPastLimit:
            return failed(Problem::TooLarge);
        case ReadNoMemory:
            return failed(Problem::NoMemory);
        case StoppedHalfWay:
            return failed(Problem::Stopped);
        default:
            return failed(Problem::System, error);
        }
    }
    data->decoder = Decoder(QByteArrayView(data->bytes.data(), got));
    data->decoder.dropFinalLineEnd();
    Opened opened;
    opened.text.d = std::move(data);
    opened.stamp = stamp;
    return opened;
}

FoundFolder openFolder(const QString &path, bool make)
{
    Found found =
            locate(QFile::encodeName(path), make ? Folders::Make : Folders::Leave, Target::Folder);
    FoundFolder result;
    switch (found.state) {
    case Found::State::File:
        // A folder that may not outlast a power cut is no place to keep anything in.
        if (found.unsynced)
            result.error = found.unsynced;
        else
            result.folder = std::move(found.folder);
        break;
    case Found::State::Missing:
        result.error = ENOENT;
        break;
    case Found::State::NotAFile:
        result.error = found.kind == Failure::Kind::UntrustedLink ? EPERM
                : found.kind == Failure::Kind::DanglingLink       ? ENOENT
                                                                  : ENOTDIR;
        result.link = QDir::toNativeSeparators(QFile::decodeName(found.link));
        break;
    case Found::State::Error:
        result.error = found.error;
        break;
    }
    return result;
}

bool isMissing(List list)
{
    return dataHome()
            && locate(QFile::encodeName(path(list)), Folders::Leave).state == Found::State::Missing;
}

Created create(List list, QStringView text)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return Created{false, failure(Failure::Action::Create, list, problem, error), {}};
    };
    if (const auto problem = noFolder())
        return failed(*problem);
    const QByteArray target = QFile::encodeName(path(list));
    const Found found = locate(target, Folders::Make);
    if (found.state == Found::State::File)
        return {};
    if (auto refused = refusal(Failure::Action::Create, list, found))
        return {false, refused, {}};
    if (!found.folder.isValid())
        return failed(Problem::System, ENOENT);

    // O_EXCL: whatever appears meanwhile, even a link, is never written through or over.
    const int folder = found.folder.get();
    const int fd = openAt(folder, found.name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, OwnerOnly);
    if (fd < 0) {
        const int error = errno;
        const Found now = locate(target, Folders::Leave);
        if (error == EEXIST && now.state == Found::State::File)
            return {};
        if (auto refused = refusal(Failure::Action::Create, list, now))
            return {false, refused, {}};
        return failed(Problem::System, error);
    }
    // The file is ours from here: rather than leave half a list, a failure takes it away.
    Stamp stamp;
    if (auto finished = finish(fd, pieces(text), Failure::Action::Create, list, stamp)) {
        systemCalls().unlinkat(folder, found.name.constData(), 0);
        return {false, finished, {}};
    }
    const int synced = syncFolder(folder);
    if (const int error = synced ? synced : found.unsynced)
        return {true, failure(Failure::Action::Create, list, Problem::Unconfirmed, error), stamp};
    return {true, std::nullopt, stamp};
}

} // namespace ListFiles
