#include "listfiles.h"

#include "listcodec.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
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
// readAll's answers when the file grew past MaxFileSize, or there was no memory for more of it.
constexpr int ReadPastLimit = -2;
constexpr int ReadNoMemory = -3;

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
bool writeList(const Pieces &text, const Write &write)
{
    return encode(text, write) && write(LineEnd);
}

int writeList(int fd, const Pieces &text)
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
    return {true, status.st_size,
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec,
            quint64(status.st_dev), quint64(status.st_ino)};
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

// The text's part of a list file's bytes: the one CR LF that saving adds comes off again.
QByteArrayView textPart(QByteArrayView bytes)
{
    if (bytes.endsWith(LineEnd))
        bytes.chop(LineEnd.size());
    return bytes;
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

// Reads to the end of the file, which may have grown since it was looked at. Returns 0, the
// system's error, ReadPastLimit or ReadNoMemory.
int readAll(int fd, Bytes &bytes, qsizetype &got)
{
    got = 0;
    for (;;) {
        if (got == bytes.capacity()) {
            if (got > MaxFileSize)
                return ReadPastLimit;
            if (!bytes.reserve(got + 64 * 1024, got))
                return ReadNoMemory;
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.capacity() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        got += n;
    }
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
    writeList(pieces(text), [&bytes](QByteArrayView piece) {
        bytes.append(piece);
        return true;
    });
    return bytes;
}

QString listText(QByteArrayView bytes)
{
    return decode(textPart(bytes));
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
    struct stat status;
    if (::stat(QFile::encodeName(path(list)).constData(), &status) == 0)
        return stampOf(status);
    return {};
}

std::optional<Failure> save(List list, QStringView text, Stamp *written)
{
    return save(list, pieces(text), written);
}

std::optional<Failure> save(List list, const Pieces &text, Stamp *written)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return failure(Failure::Action::Save, list, problem, error);
    };
    if (!dataHome())
        return failed(Problem::NoFolder);
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
        *written = stamp;
    return std::nullopt;
}

Opened open(List list)
{
    using Problem = Failure::Problem;
    const auto failed = [list](Problem problem, int error = 0) {
        return Opened{{}, failure(Failure::Action::Open, list, problem, error), {}};
    };
    if (!dataHome())
        return failed(Problem::NoFolder);
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
    auto data = std::make_unique<ListText::Data>();
    // One byte more than the file holds, so that the read that finds its end needs no room.
    if (!data->bytes.reserve(qsizetype(info.st_size) + 1)) {
        ::close(fd);
        return failed(Problem::NoMemory);
    }
    qsizetype got = 0;
    const int error = readAll(fd, data->bytes, got);
    ::close(fd);
    if (error == ReadPastLimit)
        return failed(Problem::TooLarge);
    if (error == ReadNoMemory)
        return failed(Problem::NoMemory);
    if (error != 0)
        return failed(Problem::System, error);
    data->decoder = Decoder(textPart(QByteArrayView(data->bytes.data(), got)));
    Opened opened;
    opened.text.d = std::move(data);
    opened.stamp = stamp;
    return opened;
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
    if (!dataHome())
        return failed(Problem::NoFolder);
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
    if (auto finished = finish(fd, pieces(text), Failure::Action::Create, list, stamp)) {
        ::unlink(target.constData());
        return {false, finished, {}};
    }
    if (const int error = syncFolder(folderOf(target)))
        return failed(Problem::Unconfirmed, error);
    return {true, std::nullopt, stamp};
}

} // namespace ListFiles
