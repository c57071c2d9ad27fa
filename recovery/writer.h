#pragma once

// The thread that puts a recovery copy on the disk, so that the window never waits for the disk.
// It takes jobs in order: for each list the records to add to its journal (starting a new journal
// for a new baseline, copying the list file into it), then the state file; or, when there is
// nothing to keep, it removes the copy.

#include "copyformat.h"

#include "copies.h"

#include <QString>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Recovery {

struct ListJob
{
    quint32 generation = 0;
    // For a journal not started yet.
    Baseline baseline = Baseline::Empty;
    bool separatorsAreBreaks = true;
    ListFiles::Stamp baselineStamp; // with Baseline::File, the file as opened or saved
    QByteArray records;
    // The whole text as one edit after the records, replacing this many characters.
    std::optional<std::pair<qint64, QString>> whole;
    QByteArray checkpoint;
};

struct Job
{
    bool keep = true;
    std::array<ListJob, 2> lists;
    State state; // its generations are filled in with those on the disk
};

class Writer
{
public:
    struct Result
    {
        bool ok = true;
        QString path;
        int error = 0;
        // A list whose file changed before its baseline could be copied.
        std::optional<std::pair<ListFiles::List, quint32>> baselineChanged;
    };

    // \a copyName names the copy this program makes in the state folder, or nothing when no
    // folder can be named; \a report runs on the writer's thread.
    Writer(QByteArray copyName, std::function<void(const Result &)> report);
    // Finishes the jobs given, then stops.
    ~Writer();

    // Carries on with a copy another program left, whose journals end whole at \a sizes.
    void adopt(Copy copy, const std::array<std::optional<std::pair<quint32, qint64>>, 2> &journals);
    void submit(Job job);
    // Whether every job given is done within \a limit.
    bool waitUntilDone(std::chrono::milliseconds limit);

private:
    struct Journal
    {
        quint32 generation = 0;
        int fd = -1;
        qint64 size = 0;
        // Records of a job that could not be written yet, for the same generation.
        std::optional<quint32> heldGeneration;
        QByteArray held;
    };

    void run();
    void process(Job &job);
    // 0, an errno, NotOwned or UntrustedLink; \a where is the path it concerns.
    int ensureCopy(QString &where);
    // Starts a journal: 0, an errno, or -1 when the list file no longer matches its stamp.
    int startJournal(ListFiles::List list, const ListJob &job);
    int copyBase(int fd, ListFiles::List list, const ListFiles::Stamp &stamp, qint64 &written);
    int writeState(State state);
    int writeWhole(const QByteArray &name, const std::function<int(int fd)> &write);
    void removeOtherJournals();
    void removeCopy();
    void closeJournals();
    QString path(const QString &name) const;

    QByteArray m_name;
    QString m_path; // of the copy's folder, to show
    std::function<void(const Result &)> m_report;
    // Held from the moment the copy's folder was made or found; not valid before.
    ListFiles::Descriptor m_stateFolder;
    ListFiles::Descriptor m_folder;
    std::unique_ptr<Lock> m_lock;
    std::array<Journal, 2> m_journals;
    bool m_stateWritten = false;
    std::optional<State> m_lastState;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace Recovery
