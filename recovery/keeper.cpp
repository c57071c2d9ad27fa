#include "keeper.h"

#include "writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using ListFiles::List;

namespace Recovery {

namespace {

constexpr std::array Lists{List::Servers, List::Friends};
// A change at most this long after the first of a burst reaches the disk, synced; the second left
// of the promised two covers the writing and syncing.
constexpr int FlushDelay = 1000;
constexpr int RetryDelay = 5000;
// An edit larger than this is read a slice at a time, each in a turn of the event loop of its
// own, so that the window never waits long for it; or never, when the edit was an Open, whose
// new baseline follows it at once.
constexpr qsizetype LargeEdit = 1024 * 1024;
constexpr qsizetype ReadSlice = 256 * 1024;
// How long the end of the program waits for the disk before it goes without.
constexpr std::chrono::seconds FlushLimit{20};

// Nothing when no folder for copies can be named.
QByteArray ownCopyName()
{
    if (!folder())
        return {};
    return u"copy-%1-%2"_s.arg(QCoreApplication::applicationPid())
            .arg(QRandomGenerator::system()->generate(), 8, 16, QChar(u'0'))
            .toLatin1();
}

} // namespace

Keeper::Keeper(Window &window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    for (const List list : Lists)
        startBaseline(list, Baseline::Empty);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Keeper::submit);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Keeper::submit);
    m_settle.setSingleShot(true);
    m_settle.setInterval(0);
    connect(&m_settle, &QTimer::timeout, this, [this] { readLargeEdits(false); });
}

void Keeper::readLarge(List list, bool all)
{
    Tracked &t = tracked(list);
    if (!t.large)
        return;
    Tracked::LargeEdit &large = *t.large;
    const qsizetype done = large.read.size();
    const qsizetype rest = large.added - done;
    large.read += m_window.text(list, large.position + large.shift + done,
                                all ? rest : std::min(rest, ReadSlice));
    if (large.read.size() < large.added)
        return;
    t.records += edit(large.position, large.removed, large.read);
    t.large.reset();
}

void Keeper::readLargeEdits(bool all)
{
    for (const List list : Lists)
        readLarge(list, all);
    if (std::any_of(m_lists.begin(), m_lists.end(), [](const Tracked &t) { return t.large; }))
        m_settle.start();
}

Keeper::~Keeper()
{
    flush();
}

void Keeper::edited(List list, int position, int removed, int added)
{
    Tracked &t = tracked(list);
    const qsizetype now = m_window.length(list);
    // A change that reaches the end counts the document's last, implicit break in both.
    const qsizetype gone = std::min<qsizetype>(removed, t.length - position);
    const qsizetype come = std::min<qsizetype>(added, now - position);
    if (t.large) {
        // Changed again before the large edit was read: this change is in the document already.
        const qsizetype at = t.large->position + t.large->shift;
        if (position + gone <= at) {
            t.large->shift += come - gone;
        } else if (position < at + t.large->added) {
            // Into its characters: what it added can no longer be read, the whole list is.
            t.wholeReplaces = t.large->before;
            t.large.reset();
        }
        // Its record goes before this change's.
        readLarge(list, true);
    }
    if (!t.wholeReplaces) {
        if (position < 0 || gone < 0 || come < 0 || t.length - gone + come != now) {
            t.wholeReplaces = t.length;
        } else if (come > LargeEdit) {
            t.large = {position, gone, come, t.length, 0, {}};
            t.large->read.reserve(come);
            m_settle.start();
        } else {
            t.records += edit(position, gone, m_window.text(list, position, come));
        }
    }
    t.length = now;
    t.edited = true;
    schedule();
}

void Keeper::fieldsEdited()
{
    m_fieldsEdited = true;
    schedule();
}

void Keeper::setBaseline(List list, const ListFiles::Stamp &stamp)
{
    startBaseline(list, Baseline::File);
    tracked(list).baselineStamp = stamp;
    tracked(list).stamp = stamp;
    schedule();
}

void Keeper::setStamp(List list, const ListFiles::Stamp &stamp)
{
    tracked(list).stamp = stamp;
    schedule();
}

void Keeper::adopt(Copy copy)
{
    std::array<std::optional<std::pair<quint32, qint64>>, 2> journals;
    for (const List list : Lists) {
        const KeptList &kept = copy.lists[size_t(list)];
        m_lastGeneration = std::max(m_lastGeneration, kept.generation);
        // The window holds what the journal rebuilt; from there on the journal goes on.
        if (kept.whole != KeptList::Whole::No && m_window.length(list) == kept.rawLength) {
            journals[size_t(list)] = {kept.generation, kept.journalSize};
            tracked(list).stamp = copy.stamps[size_t(list)];
        }
    }
    for (const List list : Lists) {
        Tracked &t = tracked(list);
        if (journals[size_t(list)]) {
            t.generation = journals[size_t(list)]->first;
            t.length = m_window.length(list);
            t.baseLength = -1;
            t.records.clear();
            t.wholeReplaces.reset();
            t.large.reset();
            t.edited = false;
            t.started = true;
        } else {
            startBaseline(list, Baseline::Unknown);
        }
    }
    startWriter();
    m_writer->waitUntilDone(FlushLimit);
    m_writer->adopt(std::move(copy), journals);
    m_onDisk = true;
    m_fieldsEdited = true;
    schedule();
}

void Keeper::flush()
{
    // Twice at most: a list file found changed starts its list anew from the whole text.
    for (int round = 0; round < 2; ++round) {
        submit();
        if (!m_writer || !m_writer->waitUntilDone(FlushLimit))
            return;
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (!m_timer.isActive())
            return;
    }
}

void Keeper::discard()
{
    m_discarded = true;
    m_timer.stop();
    m_retry.stop();
    for (const List list : Lists) {
        Tracked &t = tracked(list);
        t.records.clear();
        t.edited = false;
        t.started = false;
    }
    if (m_writer && m_onDisk) {
        m_writer->submit({false, {}, {}});
        m_writer->waitUntilDone(FlushLimit);
    }
    m_onDisk = false;
}

void Keeper::startWriter()
{
    if (m_writer)
        return;
    // Results come back on the window's thread.
    m_writer = std::make_unique<Writer>(ownCopyName(), [this](const Writer::Result &r) {
        QMetaObject::invokeMethod(
                this, [this, r] { handle(r.ok, r.path, r.error, r.baselineChanged); },
                Qt::QueuedConnection);
    });
}

void Keeper::startBaseline(List list, Baseline baseline)
{
    Tracked &t = tracked(list);
    t.generation = ++m_lastGeneration;
    t.baseline = baseline;
    t.separatorsAreBreaks = m_window.separatorsAreBreaks(list);
    t.length = m_window.length(list);
    t.baseLength = baseline == Baseline::Unknown ? -1 : t.length;
    t.records.clear();
    t.large.reset();
    // With no baseline to start from, the journal starts with the whole list.
    t.wholeReplaces = baseline == Baseline::Unknown ? std::optional<qsizetype>(0) : std::nullopt;
    t.edited = false;
    t.started = false;
}

void Keeper::schedule()
{
    // The first change after a new baseline goes at once, so that copying a long list file
    // never delays the flushes that follow.
    const bool starting = std::any_of(m_lists.begin(), m_lists.end(),
                                      [](const Tracked &t) { return !t.started; });
    if (starting && (!m_timer.isActive() || m_timer.remainingTime() > 0))
        m_timer.start(0);
    else if (!m_timer.isActive())
        m_timer.start(FlushDelay);
}

void Keeper::submit()
{
    m_timer.stop();
    if (m_discarded)
        return;
    readLargeEdits(true);
    if (m_fieldsEdited) {
        m_fields = m_window.fields();
        m_fieldsEdited = false;
    }
    const bool keep = !m_fields.isEmpty()
            || std::any_of(Lists.begin(), Lists.end(),
                           [this](List list) { return m_window.isModified(list); });
    if (!keep) {
        // Unmodified lists hold their baselines again; a journal started anew begins there.
        for (const List list : Lists) {
            Tracked &t = tracked(list);
            if (t.baseLength < 0 || t.length != t.baseLength) {
                startBaseline(list, Baseline::Unknown);
            } else {
                t.records.clear();
                t.wholeReplaces.reset();
                t.edited = false;
                t.started = false;
            }
        }
        if (m_onDisk && m_writer)
            m_writer->submit({false, {}, {}});
        m_onDisk = false;
        return;
    }
    startWriter();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Job job;
    for (const List list : Lists) {
        Tracked &t = tracked(list);
        ListJob &next = job.lists[size_t(list)];
        next.generation = t.generation;
        next.baseline = t.baseline;
        next.separatorsAreBreaks = t.separatorsAreBreaks;
        next.baselineStamp = t.baselineStamp;
        next.records = std::exchange(t.records, {});
        if (t.wholeReplaces) {
            next.whole = {*t.wholeReplaces, m_window.text(list, 0, t.length)};
            t.wholeReplaces.reset();
            t.edited = true;
        }
        if (t.edited)
            next.checkpoint = checkpoint(t.length, m_window.separatorsAreBreaks(list), now);
        t.edited = false;
        t.started = true;
        job.state.stamps[size_t(list)] = t.stamp;
    }
    job.state.kept = now;
    job.state.fields = m_fields;
    m_writer->submit(std::move(job));
    m_onDisk = true;
}

void Keeper::handle(bool ok, const QString &path, int error,
                    std::optional<std::pair<List, quint32>> baselineChanged)
{
    if (baselineChanged && tracked(baselineChanged->first).generation == baselineChanged->second) {
        startBaseline(baselineChanged->first, Baseline::Unknown);
        schedule();
    }
    if (ok) {
        m_failing = false;
        return;
    }
    if (!std::exchange(m_failing, true))
        emit failed(path, error);
    if (!m_retry.isActive())
        m_retry.start(RetryDelay);
}

} // namespace Recovery
