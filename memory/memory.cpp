#include "memory.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <limits>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Memory {

namespace {

constexpr qint64 Unknown = std::numeric_limits<qint64>::max();

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The number after \a key on its line of a "key value" file, or nothing.
std::optional<qint64> field(const QByteArray &text, QByteArrayView key)
{
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(key))
            continue;
        bool ok = false;
        const qint64 value = line.mid(key.size()).trimmed().split(' ').first().toLongLong(&ok);
        if (ok)
            return value;
    }
    return std::nullopt;
}

std::optional<qint64> number(const QString &path)
{
    bool ok = false;
    const qint64 value = contents(path).trimmed().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

qint64 limitLeft(int resource, qint64 used)
{
    rlimit limit = {};
    if (sources().getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return Unknown;
    return std::max(qint64(0), qint64(limit.rlim_cur) - used);
}

// Memory the system and the control group this process runs in can still give, page cache
// that can be dropped included.
qint64 availableLeft()
{
    qint64 left = Unknown;
    if (const auto available = field(contents(sources().meminfo), "MemAvailable:"))
        left = *available * 1024;
    // A limit of the control group: version 2, else version 1.
    struct Group
    {
        const char16_t *limit, *usage, *stat;
        const char *cache;
    };
    for (const Group group :
         {Group{u"/memory.max", u"/memory.current", u"/memory.stat", "inactive_file "},
          Group{u"/memory/memory.limit_in_bytes", u"/memory/memory.usage_in_bytes",
                u"/memory/memory.stat", "total_inactive_file "}}) {
        const QString root = sources().cgroup;
        const auto limit = number(root + QString::fromUtf16(group.limit));
        const auto usage = number(root + QString::fromUtf16(group.usage));
        if (!limit || !usage || *limit >= Unknown / 2)
            continue;
        const qint64 cache =
                field(contents(root + QString::fromUtf16(group.stat)), group.cache).value_or(0);
        left = std::min(left, std::max(qint64(0), *limit - *usage + cache));
        break;
    }
    return left;
}

} // namespace

Sources &sources()
{
    static Sources sources;
    return sources;
}

qint64 grown(qint64 bytes)
{
    qint64 size = 4096;
    while (size < bytes)
        size *= 2;
    return size;
}

std::optional<Shortfall> shortfall(const Need &need)
{
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    // Pages of the whole address space, and of the data the limit of RLIMIT_DATA counts.
    const QList<QByteArray> statm = contents(sources().statm).split(' ');
    const qint64 size = statm.size() > 5 ? statm[0].toLongLong() * page : 0;
    const qint64 data = statm.size() > 5 ? statm[5].toLongLong() * page : 0;
    const qint64 addressLeft = std::min(limitLeft(RLIMIT_AS, size), limitLeft(RLIMIT_DATA, data));
    if (need.addressSpace > addressLeft)
        return Shortfall{need.addressSpace, addressLeft};
    const qint64 memoryLeft = availableLeft();
    if (need.resident > memoryLeft)
        return Shortfall{need.resident, memoryLeft};
    // Nothing is written to it, so nothing of it becomes resident.
    void *probe = ::mmap(nullptr, size_t(std::max(need.addressSpace, page)), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED)
        return Shortfall{need.addressSpace, std::min(addressLeft, memoryLeft)};
    ::munmap(probe, size_t(std::max(need.addressSpace, page)));
    return std::nullopt;
}

void giveBack()
{
#ifdef __GLIBC__
    // Large blocks freed raise glibc's bar for mapping blocks of their own, so those that follow
    // come from the heap, which it gives back only from its end.
    ::malloc_trim(0);
#endif
}

} // namespace Memory
