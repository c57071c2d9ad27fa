#include "listfiles.h"

#include "listcodec.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace ListFiles {

namespace {

constexpr QByteArrayView LineEnd = "\r\n";

// The server list holds passwords in clear.
constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t OwnerOnlyFolder = S_IRWXU;

// writeAll's answer when the system took part of the bytes and gave no error.
constexpr int PartWritten = -1;

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

// What stands at a list's path, found without opening it: opening a FIFO or a device can block
// or have effects of its own.
struct Found
{
    enum class State { Missing, File, NotAFile, Error };
    State state = State::Missing;
    Failure::Kind kind = Failure::Kind::Other;
    int error = 0;
    struct stat info = {}; // of the file itself, links followed
};

Found inspect(const QByteArray &target)
{
    Found found;
    if (::stat(target.constData(), &found.info) == 0) {
        found.kind = kindOf(found.info.st_mode);
        found.state = S_ISREG(found.info.st_mode) ? Found::State::File : Found::State::NotAFile;
        return found;
    }
    found.error = errno;
    struct stat link = {};
    if (found.error == ENOENT && ::lstat(target.constData(), &link) == 0) {
        found.state = Found::State::NotAFile;
        found.kind = Failure::Kind::DanglingLink;
    } else {
        found.state = found.error == ENOENT ? Found::State::Missing : Found::State::Error;
    }
    return found;
}

std::optional<Failure> refusal(Failure::Action action, List list, const Found &found)
{
    switch (found.state) {
    case Found::State::NotAFile: {
        Failure f = failure(action, list, Failure::Problem::NotAFile);
        f.kind = found.kind;
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

// Makes the folder and its missing parents, owner-only as the XDG rules ask. Returns 0 or the
// system's error, which QDir::mkpath would drop.
int makeFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), OwnerOnlyFolder) != 0 && errno != EEXIST)
            return errno;
        if (slash < 0)
            break;
    }
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
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
bool writeList(QStringView text, const std::function<bool(QByteArrayView)> &write)
{
    return encode(text, write) && write(LineEnd);
}

int writeList(int fd, QStringView text)
{
    int error = 0;
    writeList(text, [fd, &error](QByteArrayView bytes) {
        error = writeAll(fd, bytes);
        return error == 0;
    });
    return error;
}

Failure writeFailure(Failure::Action action, List list, int error)
{
    return error == PartWritten ? failure(action, list, Failure::Problem::PartWritten)
                                : failure(action, list, Failure::Problem::System, error);
}

// A renamed or new file is only kept for sure once its folder's entry is on the disk.
int syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Some file systems cannot sync a folder and say so with EINVAL; there is nothing to confirm.
    const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return error;
}

QByteArray folderOf(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    return slash > 0 ? file.left(slash) : QByteArray("/");
}

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

// The stamp of \a file if it is still the file \a written was taken of; putting a file in
// place changes its change time.
Stamp stampInPlace(const QByteArray &file, const Stamp &written)
{
    struct stat info = {};
    if (::lstat(file.constData(), &info) != 0)
        return written;
    const Stamp now = stampOf(info);
    return now.device == written.device && now.inode == written.inode ? now : written;
}

// Writes, syncs and closes \a fd, which is closed afterwards whatever happens. \a written
// receives the stamp of the file as written, taken while it is still ours.
std::optional<Failure> finish(int fd, QStringView text, Failure::Action action, List list,
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

} // namespace

SystemCalls &systemCalls()
{
    static SystemCalls calls{::write, ::fdatasync, ::rename, ::close};
    return calls;
}

QString folder()
{
#ifdef Q_OS_WIN
    return u"C:/"_s;
#else
    // Named even when it cannot be found, so that the message can say which folder is meant.
    return dataHome().value_or(u"$HOME/.local/share"_s) + u"/vonnerby"_s;
#endif
}

QString path(List list)
{
    return QDir(folder()).filePath(fileName(list));
}

QByteArray fileBytes(QStringView text)
{
    QByteArray bytes;
    writeList(text, [&bytes](QByteArrayView piece) {
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

Stamp stamp(List list)
{
    struct stat status;
    if (::stat(QFile::encodeName(path(list)).constData(), &status) == 0)
        return stampOf(status);
    return {};
}

std::optional<Failure> save(List list, QStringView text, Stamp *written)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return failure(Failure::Action::Save, list, problem, error);
    };
    if (const auto problem = noFolder())
        return failed(*problem);
    // Drive C always exists; our stand-in for it may not yet.
    if (const int error = makeFolder(folder()))
        return failed(Problem::System, error);

    const QByteArray target = QFile::encodeName(path(list));
    const Found found = inspect(target);
    if (auto refused = refusal(Failure::Action::Save, list, found))
        return refused;
    const bool existed = found.state == Found::State::File;
    const auto stopped = [&failed, existed](int error) {
        Failure f = failed(Problem::System, error);
        f.existed = existed;
        return f;
    };

    // Through a link, the file it points to is replaced and the link kept.
    QByteArray final = target;
    if (existed) {
        char *real = ::realpath(target.constData(), nullptr);
        if (!real)
            return stopped(errno);
        final = real;
        std::free(real);
        // Replacing leaves a read-only file's own bytes alone; its owner meant it to stay as is.
        if (::access(final.constData(), W_OK) != 0)
            return stopped(errno);
    }
    const QByteArray finalFolder = folderOf(final);
    QByteArray temp = finalFolder + "/." + final.mid(finalFolder.size() + 1) + ".XXXXXX";
    // Made owner-only, so a new list is never readable by others, not even for a moment.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return stopped(errno);
    const auto abandon = [&temp, existed](Failure f, int fdToClose = -1) {
        if (fdToClose >= 0)
            ::close(fdToClose);
        ::unlink(temp.constData());
        f.existed = existed;
        return f;
    };
    if (existed) {
        if (::fchmod(fd, found.info.st_mode & 07777) != 0)
            return abandon(failed(Problem::System, errno), fd);
        // Root saving someone's list must not take it from them.
        if (::geteuid() == 0 && ::fchown(fd, found.info.st_uid, found.info.st_gid) != 0)
            return abandon(failed(Problem::System, errno), fd);
    }
    Stamp stamp;
    if (auto finished = finish(fd, text, Failure::Action::Save, list, stamp))
        return abandon(*finished);
    if (systemCalls().rename(temp.constData(), final.constData()) != 0)
        return abandon(failed(Problem::System, errno));
    if (const int error = syncFolder(finalFolder))
        return failed(Problem::Unconfirmed, error);
    if (written)
        *written = stampInPlace(final, stamp);
    return std::nullopt;
}

Opened open(List list)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return Opened{{}, failure(Failure::Action::Open, list, problem, error), {}};
    };
    if (const auto problem = noFolder())
        return failed(*problem);
    const QByteArray target = QFile::encodeName(path(list));
    const Found found = inspect(target);
    if (found.state == Found::State::Missing)
        return failed(Problem::Missing);
    if (auto refused = refusal(Failure::Action::Open, list, found))
        return {{}, refused, {}};
    if (found.info.st_size > MaxFileSize)
        return failed(Problem::TooLarge);

    // Something else may stand there by now: do not wait on it, and look at what was opened.
    const int fd = ::open(target.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(Problem::System, errno);
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(Problem::System, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        Found changed;
        changed.state = Found::State::NotAFile;
        changed.kind = kindOf(info.st_mode);
        return {{}, refusal(Failure::Action::Open, list, changed), {}};
    }
    if (info.st_size > MaxFileSize) {
        ::close(fd);
        return failed(Problem::TooLarge);
    }
    // Before reading: a change made while reading shows as a change since.
    const Stamp stamp = stampOf(info);
    // One byte more than the file holds, so that the read that finds its end needs no room.
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        // The file may have grown since; its end is where read says so.
        if (got == bytes.size()) {
            if (got > MaxFileSize) {
                ::close(fd);
                return failed(Problem::TooLarge);
            }
            bytes.resize(got + 64 * 1024);
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return failed(Problem::System, error);
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    bytes.truncate(got);
    return {listText(bytes), std::nullopt, stamp};
}

bool isMissing(List list)
{
    return dataHome() && inspect(QFile::encodeName(path(list))).state == Found::State::Missing;
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
    Found found = inspect(target);
    if (found.state == Found::State::File)
        return {};
    if (auto refused = refusal(Failure::Action::Create, list, found))
        return {false, refused, {}};
    if (const int error = makeFolder(folder()))
        return failed(Problem::System, error);

    // O_EXCL: whatever appears meanwhile, even a link, is never written through or over.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                          OwnerOnly);
    if (fd < 0) {
        const int error = errno;
        found = inspect(target);
        if (error == EEXIST && found.state == Found::State::File)
            return {};
        if (auto refused = refusal(Failure::Action::Create, list, found))
            return {false, refused, {}};
        return failed(Problem::System, error);
    }
    // The file is ours from here: rather than leave half a list, a failure takes it away.
    Stamp stamp;
    if (auto finished = finish(fd, text, Failure::Action::Create, list, stamp)) {
        ::unlink(target.constData());
        return {false, finished, {}};
    }
    if (const int error = syncFolder(folderOf(target)))
        return failed(Problem::Unconfirmed, error);
    return {true, std::nullopt, stamp};
}

} // namespace ListFiles
