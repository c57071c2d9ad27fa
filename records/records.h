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

// What appending each line in turn adds to the end of a list: CR LF before every line, none
// after the last. The list's own text stays as it is, however it ends.
QString appendedText(const QStringList &lines);

// How many records a list holds: its lines that are a separator and nothing else. One pass over
// the text, for lists of a million records.
qsizetype count(QStringView list);

} // namespace Records
