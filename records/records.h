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

// How many records a list holds: its lines that are a separator and nothing else. Takes the
// list a piece at a time, in one pass, for lists of a million records that are never one string.
class Counter
{
public:
    void add(QStringView piece);
    qsizetype records() const;

private:
    qsizetype m_records = 0;
    qsizetype m_dashes = 0; // the line so far, if it is all dashes; -1 once it is not
};

} // namespace Records
