#pragma once

// How much more memory this process can take now: its own limits (RLIMIT_AS, RLIMIT_DATA) and
// what the system has available. Asked before a large job, so that a job that cannot fit is
// refused while nothing has changed, rather than cut short by the allocator ending the program.

#include <QString>

#include <optional>
#include <sys/resource.h>

namespace Memory {

struct Need
{
    qint64 addressSpace = 0; // reserved, touched or not
    qint64 resident = 0;     // written to
    friend Need operator+(Need a, Need b)
    {
        return {a.addressSpace + b.addressSpace, a.resident + b.resident};
    }
};

// The size of the allocation that keeps an array of \a bytes growing by doubling, as Qt's
// containers and their allocator do.
qint64 grown(qint64 bytes);

struct Shortfall
{
    qint64 needed = 0; // bytes
    qint64 left = 0;   // bytes this process could still take
};

// Where the figures come from: the system's files and this process's limits. Tests put files
// and limits of their own in place.
struct Sources
{
    QString statm = QStringLiteral("/proc/self/statm");
    QString meminfo = QStringLiteral("/proc/meminfo");
    QString cgroup = QStringLiteral("/sys/fs/cgroup"); // version 1 has its files under memory/
    int (*getrlimit)(int resource, rlimit *limit) = ::getrlimit;
};
Sources &sources();

// What keeps this process from taking \a need more now, or nothing. An allocation of that size
// is tried and given back, so that limits this code does not know of count too.
std::optional<Shortfall> shortfall(const Need &need);

// Gives memory that is free again back to the system, once a job has let go of a great deal of
// it: the allocator would keep much of it otherwise, and each such job leave the process larger.
void giveBack();

} // namespace Memory
