#pragma once

// Keeps unsaved work aside while the program runs, so that a kill, a crash or a power cut loses
// at most the last two seconds of typing; the next start offers it back (copies.h).
//
// Each list is kept as its baseline (the text the window last opened or saved; the list file's
// bytes, copied once) and a journal of the edits since, taken from the document as they happen:
// a keystroke costs the window a few microseconds, and a writer thread puts the journal and the
// fields on the disk at most a second after the first change, and syncs them.

#include "copies.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <memory>

namespace Recovery {

class Writer;

class Keeper : public QObject
{
    Q_OBJECT

public:
    // The window as the keeper sees it, asked on the window's thread only. A list's text here is
    // its document's own: one character a line break, as U+2029 or U+2028.
    class Window
    {
    public:
        virtual ~Window() = default;
        virtual qsizetype length(ListFiles::List list) const = 0;
        virtual QString text(ListFiles::List list, qsizetype from, qsizetype count) const = 0;
        virtual bool separatorsAreBreaks(ListFiles::List list) const = 0;
        virtual bool isModified(ListFiles::List list) const = 0;
        virtual Fields fields() const = 0;
    };

    // Keeps a copy of its own next to those of other running programs, once there is anything
    // to keep.
    explicit Keeper(Window &window, QObject *parent = nullptr);
    // Brings the copy up to date and leaves it for the next start.
    ~Keeper() override;

    // A list's document changed, as QTextDocument::contentsChange() tells it.
    void edited(ListFiles::List list, int position, int removed, int added);
    void fieldsEdited();
    // The list now holds what its file held when stamped so (after Open or Save).
    void setBaseline(ListFiles::List list, const ListFiles::Stamp &stamp);
    // The list file as the window now knows it, for a recovered Save to check.
    void setStamp(ListFiles::List list, const ListFiles::Stamp &stamp);
    // Carries on with a copy whose work the window now shows.
    void adopt(Copy copy);

    // Brings the copy on the disk up to date now, and waits for it.
    void flush();
    // Leaves no copy, and keeps nothing more: the user chose to leave.
    void discard();

signals:
    // Work cannot be kept aside; said once, until keeping it works again.
    void failed(const QString &path, int error);

private:
    struct Tracked
    {
        quint32 generation = 0;
        Baseline baseline = Baseline::Empty;
        bool separatorsAreBreaks = true;
        ListFiles::Stamp baselineStamp;
        ListFiles::Stamp stamp;
        qsizetype baseLength = 0; // -1 when the baseline's length is not known here
        qsizetype length = 0;
        QByteArray records;
        std::optional<qsizetype> wholeReplaces; // the whole text is read at the next flush
        struct LargeEdit
        {
            qsizetype position, removed, added;
            qsizetype before; // the list's length before it
            qsizetype shift;  // how far later changes before it moved its characters
            QString read;     // of its characters, so far
        };
        std::optional<LargeEdit> large; // not read whole yet
        bool edited = false;            // since the last checkpoint
        bool started = false;           // its journal was handed to the writer
    };

    Tracked &tracked(ListFiles::List list) { return m_lists[size_t(list)]; }
    void startWriter();
    void startBaseline(ListFiles::List list, Baseline baseline);
    void schedule();
    void submit();
    // Reads the rest of a large edit, or with \a all false a slice of it; read whole, it joins the
    // records.
    void readLarge(ListFiles::List list, bool all);
    void readLargeEdits(bool all);
    void handle(bool ok, const QString &path, int error,
                std::optional<std::pair<ListFiles::List, quint32>> baselineChanged);

    Window &m_window;
    std::array<Tracked, 2> m_lists;
    quint32 m_lastGeneration = 0;
    Fields m_fields;
    bool m_fieldsEdited = false;
    bool m_onDisk = false;
    bool m_failing = false;
    bool m_discarded = false;
    QString m_folder;
    std::unique_ptr<Writer> m_writer;
    QTimer m_timer;
    QTimer m_retry;
    QTimer m_settle;
};

} // namespace Recovery
