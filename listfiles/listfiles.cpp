#include "listfiles.h"

#include "listcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace ListFiles {

namespace {

constexpr QByteArrayView LineEnd = "\r\n";

// The server list holds passwords in clear.
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString fileName(List list)
{
    return list == List::Servers ? u"vyserver.txt"_s : u"vyfriends.txt"_s;
}

Failure failure(Failure::Action action, List list, const QString &reason)
{
    return {action, list, QDir::toNativeSeparators(path(list)), reason};
}

// The one definition of a list file's bytes: the text, then one CR LF, handed out in pieces.
bool writeList(QStringView text, const std::function<bool(QByteArrayView)> &write)
{
    return encode(text, write) && write(LineEnd);
}

bool writeList(QFileDevice &file, QStringView text)
{
    // A short write on a full disk is not always flagged as an error: count the bytes.
    return writeList(text, [&file](QByteArrayView bytes) {
        return file.write(bytes.data(), bytes.size()) == bytes.size();
    });
}

#ifdef Q_OS_UNIX
Stamp stampOf(const struct stat &status)
{
    return {true, status.st_size,
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec,
            quint64(status.st_dev), quint64(status.st_ino)};
}
#endif

// The file itself, whatever its name leads to by now; nothing where the system cannot tell.
std::optional<Stamp> stampOf([[maybe_unused]] const QFileDevice &file)
{
#ifdef Q_OS_UNIX
    struct stat status;
    if (::fstat(file.handle(), &status) == 0)
        return stampOf(status);
#endif
    return std::nullopt;
}

} // namespace

QString folder()
{
#ifdef Q_OS_WIN
    return u"C:/"_s;
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/vonnerby"_s;
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
    if (bytes.endsWith(LineEnd))
        bytes.chop(LineEnd.size());
    return decode(bytes);
}

Stamp stamp(List list)
{
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(path(list)).constData(), &status) == 0)
        return stampOf(status);
    return {};
#else
    const QFileInfo info(path(list));
    if (!info.exists())
        return {};
    return {true, info.size(), info.lastModified().toMSecsSinceEpoch() * 1'000'000, 0, 0};
#endif
}

std::optional<Failure> save(List list, QStringView text, Stamp *written)
{
    const auto failed = [list](const QString &reason) {
        return failure(Failure::Action::Save, list, reason);
    };
    // Drive C always exists; our stand-in for it may not yet.
    QDir().mkpath(folder());

    const QString target = path(list);
    const bool isNew = !QFileInfo::exists(target);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(file.errorString());
    if (isNew)
        file.setPermissions(OwnerOnly);
    if (!writeList(file, text)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failed(reason);
    }
    // Taken before the rename, so that no other writer can come in between.
    const auto stamp = stampOf(file);
    if (!file.commit())
        return failed(file.errorString());
    if (written)
        *written = stamp ? *stamp : ListFiles::stamp(list);
    return std::nullopt;
}

Opened open(List list)
{
    QFile file(path(list));
    if (!file.open(QIODevice::ReadOnly)) {
        Failure f = failure(Failure::Action::Open, list, file.errorString());
        f.missing = !file.exists();
        return {{}, f, {}};
    }
    // Before reading: a change made while reading shows as a change since.
    const auto stamp = stampOf(file);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, failure(Failure::Action::Open, list, file.errorString()), {}};
    return {listText(bytes), std::nullopt, stamp ? *stamp : ListFiles::stamp(list)};
}

Created create(List list, QStringView text)
{
    const auto failed = [list](const QString &reason) {
        return Created{false, failure(Failure::Action::Create, list, reason), {}};
    };
    const QString target = path(list);
    if (QFileInfo::exists(target))
        return {};
    QDir().mkpath(folder());

    // NewOnly: a file that appears meanwhile is still never overwritten.
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, OwnerOnly)) {
        if (file.exists())
            return {};
        return failed(file.errorString());
    }
    if (!writeList(file, text)) {
        const QString reason = file.errorString();
        file.remove();
        return failed(reason);
    }
    const auto stamp = stampOf(file);
    file.close();
    return {true, std::nullopt, stamp ? *stamp : ListFiles::stamp(list)};
}

} // namespace ListFiles
