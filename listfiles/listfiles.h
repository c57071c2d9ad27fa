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

// Replaces the file atomically: a failed save leaves the previous file as it was.
std::optional<Failure> save(List list, QStringView text);

struct Opened
{
    QString text;
    std::optional<Failure> failure;
};
Opened open(List list);

struct Created
{
    bool written = false; // false when the file was there already and was left alone
    std::optional<Failure> failure;
};
// Writes the file only if it does not exist yet.
Created create(List list, QStringView text);

} // namespace ListFiles
