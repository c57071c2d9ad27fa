#pragma once

#include <QFile>

#include <sys/resource.h>

// Lets this process take only \a headroom bytes more of private memory, until it goes.
class MemoryLimit
{
public:
    explicit MemoryLimit(rlim_t headroom)
    {
        ::getrlimit(RLIMIT_DATA, &m_before);
        rlimit tight = m_before;
        tight.rlim_cur = held() + headroom;
        ::setrlimit(RLIMIT_DATA, &tight);
    }
    ~MemoryLimit() { ::setrlimit(RLIMIT_DATA, &m_before); }
    MemoryLimit(const MemoryLimit &) = delete;
    MemoryLimit &operator=(const MemoryLimit &) = delete;

private:
    // What the limit counts now: VmData.
    static rlim_t held()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmData:"))
                return rlim_t(line.mid(7).trimmed().split(' ').first().toULongLong()) * 1024;
        }
        return 0;
    }

    rlimit m_before = {};
};
