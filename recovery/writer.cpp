#include "writer.h"

#include "copies.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace Recovery {

namespace {

constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;
constexpr qsizetype CopyBlock = 1024 * 1024;
constexpr int Changed = -1;

// The same calls that saving a list makes, so that a full disk shows the same way.
int writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ListFiles::systemCalls().write(fd, bytes.data(), size_t(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        bytes = bytes.sliced(n);
    }
    return 0;
}

int sync(int fd)
{
    return ListFiles::systemCalls().fdatasync(fd) == 0 ? 0 : errno;
}

int openFile(int folder, const QByteArray &name, int flags)
{
    return ListFiles::systemCalls().openat(folder, name.constData(),
                                           flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, OwnerOnly);
}

bool sameState(const State &a, const State &b)
{
    return a.generations == b.generations && a.journalSizes == b.journalSizes
            && a.stamps == b.stamps && a.fields == b.fields;
}

} // namespace

Writer::Writer(QByteArray copyName, std::function<void(const Result &)> report)
    : m_name(std::move(copyName))
    , m_report(std::move(report))
    , m_thread([this] { run(); })
{ }

Writer::~Writer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    closeJournals();
}

void Writer::adopt(Copy copy,
                   const std::array<std::optional<std::pair<quint32, qint64>>, 2> &journals)
{
    const std::lock_guard guard(m_mutex);
    closeJournals();
    m_name = copy.name;
    m_path = copy.path;
    m_stateFolder = std::move(copy.stateFolder);
    m_folder = std::move(copy.folder);
    m_lock = std::move(copy.lock);
    m_stateWritten = false;
    for (size_t i = 0; i < journals.size(); ++i) {
        Journal &journal = m_journals[i];
        journal = {};
        if (!journals[i])
            continue;
        const auto [generation, size] = *journals[i];
        const int fd = openFile(m_folder.get(),
                                QFile::encodeName(journalName(ListFiles::List(i), generation)),
                                O_WRONLY | O_APPEND);
        // What follows the last whole flush is cut away, so that new records follow whole ones.
        if (fd >= 0 && ::ftruncate(fd, size) == 0) {
            journal.generation = generation;
            journal.fd = fd;
            journal.size = size;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
}

void Writer::submit(Job job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

bool Writer::waitUntilDone(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_done.wait_for(lock, limit, [this] { return m_jobs.empty() && !m_busy; });
}

void Writer::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        process(job);
        lock.lock();
        m_busy = false;
        m_done.notify_all();
    }
}

void Writer::process(Job &job)
{
    Result result;
    const auto failed = [&result](const QString &where, int error) {
        if (result.ok)
            result = {false, QDir::toNativeSeparators(where), error, result.baselineChanged};
    };
    if (!job.keep) {
        removeCopy();
        m_report(result);
        return;
    }
    QString where;
    const int folderError = ensureCopy(where);
    if (folderError)
        failed(where, folderError);
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        ListJob &next = job.lists[size_t(list)];
        Journal &journal = m_journals[size_t(list)];
        QByteArray bytes;
        if (journal.heldGeneration == next.generation)
            bytes = std::exchange(journal.held, {});
        journal.heldGeneration.reset();
        journal.held.clear();
        bytes += next.records;
        if (next.whole)
            bytes += edit(0, next.whole->first, next.whole->second);
        bytes += next.checkpoint;
        // What cannot be written now is tried again with the next job of the same baseline.
        const auto hold = [&] {
            journal.heldGeneration = next.generation;
            journal.held = std::move(bytes);
        };
        if (folderError) {
            hold();
            continue;
        }
        if (journal.fd < 0 || journal.generation != next.generation) {
            const int error = startJournal(list, next);
            if (error == Changed) {
                result.baselineChanged = {list, next.generation};
                continue;
            }
            if (error) {
                failed(path(journalName(list, next.generation)), error);
                hold();
                continue;
            }
        }
        if (bytes.isEmpty())
            continue;
        int error = writeAll(journal.fd, bytes);
        error = error ? error : sync(journal.fd);
        if (error) {
            failed(path(journalName(list, next.generation)), error);
            // Whole records only: what got written of these goes, and they are tried again. A
            // journal that cannot be cut back starts anew from the whole list.
            if (::ftruncate(journal.fd, journal.size) == 0)
                hold();
            else
                result.baselineChanged = {list, next.generation};
            continue;
        }
        journal.size += bytes.size();
    }
    if (!folderError) {
        for (size_t i = 0; i < m_journals.size(); ++i) {
            job.state.generations[i] = m_journals[i].generation;
            job.state.journalSizes[i] = m_journals[i].size;
        }
        if (!m_stateWritten || !m_lastState || !sameState(*m_lastState, job.state)) {
            if (const int error = writeState(job.state))
                failed(path(QString::fromLatin1(StateName)), error);
            else
                removeOtherJournals();
        }
    }
    m_report(result);
}

int Writer::ensureCopy(QString &where)
{
    if (m_lock)
        return 0;
    if (m_name.isEmpty())
        return ENOENT;
    StateFolder state = openStateFolder(true);
    where = state.path;
    if (!state.folder.isValid())
        return state.error;
    m_path = QDir(QDir::fromNativeSeparators(state.path)).filePath(QFile::decodeName(m_name));
    where = QDir::toNativeSeparators(m_path);
    errno = 0;
    auto lock = Lock::take(state.folder.get(), m_name);
    if (!lock)
        return errno == 0 || errno == EWOULDBLOCK ? EEXIST : errno;
    if (ListFiles::systemCalls().mkdirat(state.folder.get(), m_name.constData(), S_IRWXU) == 0) {
        // Its name in the state folder outlasts a power cut only once that folder is synced.
        if (const int error = ListFiles::syncFolder(state.folder.get()))
            return error;
    } else if (errno != EEXIST) {
        return errno;
    }
    ListFiles::Descriptor folder(
            ListFiles::systemCalls().openat(state.folder.get(), m_name.constData(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
    struct stat info = {};
    if (!folder.isValid() || ::fstat(folder.get(), &info) != 0)
        return errno;
    if (info.st_uid != ::geteuid())
        return NotOwned;
    m_stateFolder = std::move(state.folder);
    m_folder = std::move(folder);
    m_lock = std::move(lock);
    m_stateWritten = false;
    return 0;
}

// Writes a file under a name of its own and, once it is synced, puts it in place of \a name.
int Writer::writeWhole(const QByteArray &name, const std::function<int(int fd)> &write)
{
    const QByteArray temporary = name + ".new";
    const int fd = openFile(m_folder.get(), temporary, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0)
        return errno;
    int error = write(fd);
    error = error ? error : sync(fd);
    ::close(fd);
    if (!error
        && ListFiles::systemCalls().renameat(m_folder.get(), temporary.constData(), m_folder.get(),
                                             name.constData())
                != 0)
        error = errno;
    if (error)
        ListFiles::systemCalls().unlinkat(m_folder.get(), temporary.constData(), 0);
    return error;
}

int Writer::startJournal(ListFiles::List list, const ListJob &job)
{
    const QByteArray final = QFile::encodeName(journalName(list, job.generation));
    qint64 size = 0;
    if (const int error = writeWhole(final, [&](int fd) {
            const QByteArray start =
                    journalStart(list, job.generation, job.baseline, job.separatorsAreBreaks);
            size = start.size();
            const int started = writeAll(fd, start);
            if (started || job.baseline != Baseline::File)
                return started;
            return copyBase(fd, list, job.baselineStamp, size);
        }))
        return error;
    const int appending = openFile(m_folder.get(), final, O_WRONLY | O_APPEND);
    if (appending < 0)
        return errno;
    // The journal it follows stays named in the state until the state names this one.
    Journal &journal = m_journals[size_t(list)];
    if (journal.fd >= 0)
        ::close(journal.fd);
    journal.fd = appending;
    journal.generation = job.generation;
    journal.size = size;
    return 0;
}

int Writer::copyBase(int fd, ListFiles::List list, const ListFiles::Stamp &stamp, qint64 &written)
{
    // Copied only if the file is still the one the window opened or saved, before and after.
    const int from = ::open(QFile::encodeName(ListFiles::path(list)).constData(),
                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (from < 0)
        return Changed;
    const ListFiles::Stamp before = ListFiles::stampOfOpen(from);
    int error = before == stamp && stamp.size <= ListFiles::MaxFileSize ? 0 : Changed;
    const QByteArray header = baseHeader(stamp.size);
    quint32 crc = crc32(header);
    error = error ? error : writeAll(fd, header);
    QByteArray block(CopyBlock, Qt::Uninitialized);
    qint64 copied = 0;
    while (!error && copied < stamp.size) {
        const ssize_t n =
                ::read(from, block.data(), size_t(std::min(CopyBlock, stamp.size - copied)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : Changed;
            break;
        }
        const QByteArrayView got(block.constData(), n);
        crc = crc32(got, crc);
        error = writeAll(fd, got);
        copied += n;
    }
    if (!error && ListFiles::stampOfOpen(from) != stamp)
        error = Changed;
    ::close(from);
    error = error ? error : writeAll(fd, checksum(crc));
    written += header.size() + copied + 4;
    return error;
}

int Writer::writeState(State state)
{
    int error = writeWhole(StateName, [&state](int fd) { return writeAll(fd, stateFile(state)); });
    // The new journals' names and the state's are kept only once the folder is on the disk.
    error = error ? error : ListFiles::syncFolder(m_folder.get());
    if (error)
        return error;
    m_stateWritten = true;
    m_lastState = std::move(state);
    return 0;
}

void Writer::removeOtherJournals()
{
    QList<QByteArray> current;
    for (size_t i = 0; i < m_journals.size(); ++i)
        current << QFile::encodeName(journalName(ListFiles::List(i), m_journals[i].generation));
    for (const QByteArray &name : namesIn(m_folder.get())) {
        if ((name.endsWith(".journal") || name.endsWith(".new")) && !current.contains(name))
            ListFiles::systemCalls().unlinkat(m_folder.get(), name.constData(), 0);
    }
}

void Writer::removeCopy()
{
    closeJournals();
    if (!m_lock)
        return;
    Recovery::removeCopy(m_stateFolder.get(), m_name, m_folder.get());
    m_folder = {};
    m_stateFolder = {};
    m_lock.reset();
    m_stateWritten = false;
    m_lastState.reset();
}

void Writer::closeJournals()
{
    for (Journal &journal : m_journals) {
        if (journal.fd >= 0)
            ::close(journal.fd);
        journal = {};
    }
}

QString Writer::path(const QString &name) const
{
    return QDir(m_path).filePath(name);
}

} // namespace Recovery
