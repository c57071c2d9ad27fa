#pragma once

// The files of a recovery copy as bytes: a state file (when, the file stamps, the fields) and one
// journal a list (its baseline, then its edits). Every record carries its length and a checksum,
// so a copy cut short by a crash reads back up to its last whole flush. Nothing here touches
// the disk.

#include "listfiles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <utility>

namespace Recovery {

// What a list's edits apply to: the list as the window last opened or saved it.
enum class Baseline : quint8 {
    Empty,   // the list as at start
    File,    // the list file's bytes, copied while its stamp still matched
    Unknown, // the file changed before it could be copied: the edits begin with the whole list
};

struct Fields
{
    QList<std::pair<QString, QString>> texts;
    QList<std::pair<QString, bool>> options;

    bool isEmpty() const;
    friend bool operator==(const Fields &, const Fields &) = default;
};

// What the state file holds. Put in place after the journals are synced, it is what makes a
// flush whole: a journal counts only up to the size it names, so that lists and fields read back
// as they were at one moment.
struct State
{
    qint64 kept = 0;                         // milliseconds since the epoch
    std::array<quint32, 2> generations = {}; // of each list's journal, by ListFiles::List
    std::array<qint64, 2> journalSizes = {};
    std::array<ListFiles::Stamp, 2> stamps; // the list files as the window last knew them
    Fields fields;
};

QByteArray stateFile(const State &state);
std::optional<State> readState(QByteArrayView bytes);

// A journal's records. A journal starts with journalStart(), then a Base record for
// Baseline::File, then edits, each flush closed by a checkpoint.
QByteArray journalStart(ListFiles::List list, quint32 generation, Baseline baseline,
                        bool separatorsAreBreaks);
// The framing of a Base record around \a size bytes, for a base written in pieces: the header
// before, and after them the checksum that crc32() gave over header and bytes.
QByteArray baseHeader(qint64 size);
QByteArray edit(qint64 position, qint64 removed, QStringView added);
QByteArray checkpoint(qint64 length, bool separatorsAreBreaks, qint64 kept);
QByteArray checksum(quint32 crc);

quint32 crc32(QByteArrayView bytes, quint32 crc = 0);

// One list as a journal rebuilds it.
struct KeptList
{
    enum class Whole { Yes, LatestLost, No };
    Whole whole = Whole::No;
    QString text;                 // with CR LF line breaks, as Save writes it
    std::optional<QString> saved; // the text last opened or saved, where known
    qsizetype records = 0;        // its "------" lines
    qint64 kept = 0;              // when its last whole flush was written
    // Where the journal's whole part ends, to carry on from there.
    quint32 generation = 0;
    qint64 journalSize = 0;
    qsizetype rawLength = 0;
};

KeptList readJournal(QByteArrayView bytes, ListFiles::List list, quint32 generation);

// The text of a document built from \a text the way the list boxes build it, with each line break
// one character, U+2029; and back, with CR LF for each break.
QString rawText(QStringView text);
QString listText(QStringView raw, bool separatorsAreBreaks);

} // namespace Recovery
