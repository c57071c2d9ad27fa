#include "files.h"
#include "memory.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr qint64 Page = 4096;

// The limits the table gives, in MB; 0 for none.
qint64 addressLimit = 0;
qint64 dataLimit = 0;

int fakeLimit(int resource, rlimit *limit)
{
    const qint64 mb = resource == RLIMIT_AS ? addressLimit
            : resource == RLIMIT_DATA       ? dataLimit
                                            : 0;
    limit->rlim_cur = limit->rlim_max = mb ? rlim_t(mb * MB) : RLIM_INFINITY;
    return 0;
}

} // namespace

class TestMemory : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void shortfallFromLimitsAndTheSystem_data();
    void shortfallFromLimitsAndTheSystem();

private:
    Memory::Sources m_real = Memory::sources();
};

void TestMemory::cleanup()
{
    Memory::sources() = m_real;
}

void TestMemory::shortfallFromLimitsAndTheSystem_data()
{
    // Sizes in MB. The process holds 600 of address space, 400 of it data.
    QTest::addColumn<qint64>("as");        // RLIMIT_AS, 0 for none
    QTest::addColumn<qint64>("data");      // RLIMIT_DATA
    QTest::addColumn<qint64>("available"); // MemAvailable
    QTest::addColumn<QString>("cgroup");   // "v1"/"v2 LIMIT USAGE CACHE", "v2 max" or none
    QTest::addColumn<qint64>("need");      // address space and resident alike
    QTest::addColumn<qint64>("left");      // what it says is left, -1 when it fits
    QTest::newRow("unlimited") << 0ll << 0ll << 8000ll << QString() << 500ll << -1ll;
    QTest::newRow("address space, fits") << 1200ll << 0ll << 8000ll << QString() << 500ll << -1ll;
    QTest::newRow("address space limit") << 1000ll << 0ll << 8000ll << QString() << 500ll << 400ll;
    QTest::newRow("data limit") << 0ll << 700ll << 8000ll << QString() << 500ll << 300ll;
    QTest::newRow("the lower of both") << 1000ll << 700ll << 8000ll << QString() << 500ll << 300ll;
    QTest::newRow("little available") << 0ll << 0ll << 200ll << QString() << 500ll << 200ll;
    // What the group holds in page cache it can drop counts as free.
    QTest::newRow("cgroup v2 limit")
            << 0ll << 0ll << 8000ll << u"v2 2000 1700 100"_s << 500ll << 400ll;
    QTest::newRow("cgroup v2, fits")
            << 0ll << 0ll << 8000ll << u"v2 2000 1700 300"_s << 500ll << -1ll;
    QTest::newRow("cgroup v2 without a limit")
            << 0ll << 0ll << 8000ll << u"v2 max"_s << 500ll << -1ll;
    QTest::newRow("cgroup v1 without a limit")
            << 0ll << 0ll << 8000ll << u"v1 none 1700 100"_s << 500ll << -1ll;
    QTest::newRow("cgroup v1 limit")
            << 0ll << 0ll << 8000ll << u"v1 2000 1700 100"_s << 500ll << 400ll;
    QTest::newRow("available below the group's room")
            << 0ll << 0ll << 300ll << u"v2 2000 1000 0"_s << 500ll << 300ll;
}

void TestMemory::shortfallFromLimitsAndTheSystem()
{
    QFETCH(qint64, as);
    QFETCH(qint64, data);
    QFETCH(qint64, available);
    QFETCH(QString, cgroup);
    QFETCH(qint64, need);
    QFETCH(qint64, left);
    QTemporaryDir dir;
    const QByteArray sizePages = QByteArray::number(600 * MB / Page);
    const QByteArray dataPages = QByteArray::number(400 * MB / Page);
    TestFiles::write(dir.filePath(u"statm"_s), sizePages + " 1000 500 10 0 " + dataPages + " 0\n");
    TestFiles::write(dir.filePath(u"meminfo"_s),
                     "MemTotal:       16000000 kB\nMemFree:          100 kB\nMemAvailable: "
                             + QByteArray::number(available * 1024) + " kB\n");
    const QStringList group = cgroup.split(u' ', Qt::SkipEmptyParts);
    const auto bytes = [&group](int i) {
        if (group[i] == u"max")
            return QByteArray("max");
        // What version 1 says for no limit: the largest number of whole pages.
        if (group[i] == u"none")
            return QByteArray("9223372036854771712");
        return QByteArray::number(group[i].toLongLong() * MB);
    };
    if (group.value(0) == u"v2") {
        TestFiles::write(dir.filePath(u"cgroup/memory.max"_s), bytes(1) + '\n');
        TestFiles::write(dir.filePath(u"cgroup/memory.current"_s),
                         group.size() > 2 ? bytes(2) + '\n' : "1000\n");
        if (group.size() > 3)
            TestFiles::write(dir.filePath(u"cgroup/memory.stat"_s),
                             "active_file 5\ninactive_file " + bytes(3) + "\n");
    } else if (group.value(0) == u"v1") {
        TestFiles::write(dir.filePath(u"cgroup/memory/memory.limit_in_bytes"_s), bytes(1));
        TestFiles::write(dir.filePath(u"cgroup/memory/memory.usage_in_bytes"_s), bytes(2));
        TestFiles::write(dir.filePath(u"cgroup/memory/memory.stat"_s),
                         "inactive_file 7\ntotal_inactive_file " + bytes(3) + "\n");
    }
    Memory::sources() = {dir.filePath(u"statm"_s), dir.filePath(u"meminfo"_s),
                         dir.filePath(u"cgroup"_s), fakeLimit};
    addressLimit = as;
    dataLimit = data;

    const auto shortfall = Memory::shortfall({need * MB, need * MB});
    QCOMPARE(shortfall ? shortfall->left / MB : -1, left);
    if (shortfall)
        QCOMPARE(shortfall->needed, need * MB);
}

QTEST_GUILESS_MAIN(TestMemory)
#include "tst_memory.moc"
