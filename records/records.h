#pragma once

// Friend and server records: what the entry panels become in the lists.
// Pure text work on plain data, no widgets; a list is one CR LF-separated string.

#include <QString>
#include <QStringList>
#include <QStringView>

namespace Records {

inline constexpr QStringView LineBreak = u"\r\n";
inline constexpr QStringView Separator = u"------";

struct Friend
{
    QString name;
    QString aim;
    QString yim;
    QString msn;
    QString email;
    QString clan;
    QString website;
    QString xbl;
    QString xbc;
    QString xfire;
    QString games;
    QString comments;
};

struct Server
{
    QString name;
    QString ip;
    QString password;
    // Two separate answers, as the panel has two option buttons; normally at most one is set.
    bool dedicatedYes = false;
    bool dedicatedNo = false;
    QString comments;
};

// The record's lines in list order, field texts verbatim.
QStringList friendLines(const Friend &entry);
QStringList serverLines(const Server &entry);

// A list with one line appended: the old text, CR LF, the line.
QString appendLine(QStringView list, QStringView line);

// What appending each line in turn adds to the end of any list: CR LF before every line.
QString appendedText(const QStringList &lines);

} // namespace Records
