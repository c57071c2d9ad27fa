#pragma once

// The two list files: where they live, their format, and saving, opening and creating them.
// Failures come back as values; telling the user is the window's business.

#include <QString>
#include <QStringView>

#include <optional>

namespace ListFiles {

enum class List { Servers, Friends };

struct Failure
{
    enum class Action { Save, Open, Create };

    Action action = Action::Save;
    List list = List::Servers;
    QString path;         // as the system shows it
    QString reason;       // the system's words
    bool missing = false; // the file to open does not exist
};

// The folder standing in for the root of drive C where there are no drive letters.
QString folder();
QString path(List list);

// The file holds the text followed by one CR LF; reading takes that CR LF off again.
QByteArray fileBytes(QStringView text);
QString listText(QByteArrayView bytes);

// What a list file was at one moment, enough to tell cheaply that it changed since: another
// writer either replaces the file (a new identity) or rewrites it (a new time, often a new size).
struct Stamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const Stamp &, const Stamp &) = default;
};
// Follows a link, as saving and opening do; a file that cannot be looked at does not exist.
Stamp stamp(List list);

// Replaces the file atomically: a failed save leaves the previous file as it was.
// On success \a written, if given, receives the stamp of the file just written.
std::optional<Failure> save(List list, QStringView text, Stamp *written = nullptr);

struct Opened
{
    QString text;
    std::optional<Failure> failure;
    Stamp stamp; // of the file the text was read from
};
Opened open(List list);

struct Created
{
    bool written = false; // false when the file was there already and was left alone
    std::optional<Failure> failure;
    Stamp stamp; // of the file written
};
// Writes the file only if it does not exist yet.
Created create(List list, QStringView text);

} // namespace ListFiles
