#pragma once

// The two list files: where they live, their format, and saving, opening and creating them.
// Failures come back as values; telling the user is the window's business.

#include "descriptor.h"
#include "listcodec.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <sys/types.h>

namespace ListFiles {

enum class List { Servers, Friends };

// Open refuses a larger file: the window could not hold it, and reading it would only run the
// machine out of memory. A million records take about 270 MB.
constexpr qint64 MaxFileSize = 512 * 1024 * 1024;

struct Failure
{
    enum class Action { Save, Open, Create };
    enum class Problem {
        System,       // the system refused; reason says why
        Missing,      // the file to open does not exist, and nothing stands in its way
        NoFolder,     // no data folder can be named: HOME is not set
        NotAFile,     // something other than a regular file stands at the path; see kind
        TooLarge,     // larger than MaxFileSize
        NoMemory,     // more than this program can hold now; reason may say how much
        PartWritten,  // the system took only part of the list and gave no reason
        Unconfirmed,  // written, but the system did not confirm the file is stored
        RelativeHome, // no data folder can be named: HOME is not an absolute path
        Stopped,      // the caller stopped it half-way; nothing was changed
    };
    enum class Kind { Directory, Fifo, Device, Socket, DanglingLink, Other, UntrustedLink };

    Action action = Action::Save;
    List list = List::Servers;
    QString path;   // as the system shows it
    QString reason; // the system's words, where it gave any
    Problem problem = Problem::System;
    Kind kind = Kind::Other; // with NotAFile
    bool existed = false;    // Save: a list file was there before and still holds what it held
    QString link;            // with UntrustedLink: the link that was not followed
};

// The folder standing in for the root of drive C where there are no drive letters.
QString folder();
QString path(List list);

// The file holds the text followed by one CR LF; reading takes that CR LF off again.
QByteArray fileBytes(QStringView text);
QString listText(QByteArrayView bytes);

// What a list file was at one moment, enough to tell cheaply that it changed since: another
// writer either replaces the file (a new identity) or rewrites it (a new change time, which no
// program can set back as it can the modification time).
struct Stamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    quint64 device = 0;
    quint64 inode = 0;
    qint64 changed = 0; // status change time, nanoseconds since the epoch
    friend bool operator==(const Stamp &, const Stamp &) = default;
};
// Follows links as saving and opening do; a file that cannot be looked at does not exist.
Stamp stamp(List list);
// The stamp of a file open as \a fd.
Stamp stampOfOpen(int fd);

// Replaces the file atomically: a failed save leaves the previous file as it was. A link to a
// list file stays a link; the file it points to is replaced. Run as root, a link that belongs
// to neither root nor the owner of its folder is not followed. \a written, if given, receives
// the stamp of the file just written, on success and with Unconfirmed, when it is in place.
std::optional<Failure> save(List list, QStringView text, Stamp *written = nullptr);
// The same for a list too large to copy: \a text is gone through twice. Stopped when \a text
// stops before its end.
std::optional<Failure> save(List list, const Pieces &text, Stamp *written = nullptr);

// The first half of save(): the new list written in full next to the list file and synced, but
// not yet in its place. Until commit(), the list file keeps what it held, and a Staged list that
// goes uncommitted is removed again; so several lists can be written before any file changes.
class Staged
{
public:
    Staged();
    Staged(Staged &&) noexcept;
    Staged &operator=(Staged &&) noexcept;
    ~Staged();

    // Why nothing is staged, if nothing is.
    const std::optional<Failure> &failure() const { return m_failure; }
    // The second half of save(), with its failures; once only.
    std::optional<Failure> commit(Stamp *written = nullptr);

private:
    friend Staged stage(List list, const Pieces &text);
    struct Data;
    std::unique_ptr<Data> d;
    std::optional<Failure> m_failure;
};
Staged stage(List list, const Pieces &text);

struct Opened;
// Told how many bytes of a file have been read so far; returns false to stop reading.
using Reading = std::function<bool(qint64 bytes)>;

// A list file's text as read from the disk, decoded only as it is handed out: a huge list never
// exists as one string beside the box that shows it, nor its bytes beside the whole text.
class ListText
{
public:
    ListText();
    ListText(ListText &&) noexcept;
    ListText &operator=(ListText &&) noexcept;
    ~ListText();

    // Characters in all.
    qsizetype size() const;
    // Whether every character is below U+0080.
    bool isAscii() const;
    // Hands out the text a piece at a time, as often as asked.
    bool read(const Piece &piece);
    // The same, once: the file's bytes are given back to the system as they are decoded, and the
    // text is empty afterwards.
    bool take(const Piece &piece);
    QString toString();

private:
    friend Opened open(List list, const Reading &reading);
    struct Data;
    std::unique_ptr<Data> d;
};

struct Opened
{
    ListText text;
    std::optional<Failure> failure;
    Stamp stamp; // of the file the text was read from
};
// Reads the file; its bytes stay in memory until the text is taken. \a reading, if given, is
// told as the bytes come in, and may stop the reading (Stopped).
Opened open(List list, const Reading &reading = {});

// A folder reached the way the lists' folder is: a name at a time, each link judged before it is
// followed. With \a make, missing folders are made owner-only, each synced into its parent.
struct FoundFolder
{
    Descriptor folder; // O_PATH; not valid on failure
    int error = 0;     // the system's, or ENOTDIR, or EPERM for a link not followed
    QString link;      // the link not followed, if that was why
};
FoundFolder openFolder(const QString &path, bool make);
// Syncs the folder that \a folder names, so that the names made or removed in it last.
// Returns 0 or the system's error.
int syncFolder(int folder);

// Whether the file is simply not there yet, in a folder that is usable or can be made.
bool isMissing(List list);

struct Created
{
    bool written = false;           // false when the file was there already and was left alone
    std::optional<Failure> failure; // with Unconfirmed, the file was written all the same
    Stamp stamp;                    // of the file written
};
// Writes the file only if it does not exist yet.
Created create(List list, QStringView text);

// The calls that can fail half-way through reading or writing a list, or that another program
// can race. Tests put failing or racing ones in.
struct SystemCalls
{
    ssize_t (*write)(int fd, const void *data, size_t size);
    int (*fdatasync)(int fd);
    int (*renameat)(int fromFolder, const char *from, int toFolder, const char *to);
    int (*close)(int fd);
    int (*openat)(int folder, const char *name, int flags, mode_t mode);
    ssize_t (*read)(int fd, void *data, size_t size);
    int (*fsync)(int fd); // of a folder
    int (*mkdirat)(int folder, const char *name, mode_t mode);
    int (*unlinkat)(int folder, const char *name, int flags);
};
SystemCalls &systemCalls();

} // namespace ListFiles
