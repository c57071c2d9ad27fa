#include "records.h"

using namespace Qt::Literals::StringLiterals;

namespace Records {

QStringList friendLines(const Friend &entry)
{
    // The prefixes are the list's own wording, not the panel's labels.
    return {
            Separator.toString(),
            u"Name: "_s + entry.name,
            u"Aim: "_s + entry.aim,
            u"YIM: "_s + entry.yim,
            u"MSN: "_s + entry.msn,
            u"Email: "_s + entry.email,
            u"Clan: "_s + entry.clan,
            u"Website: "_s + entry.website,
            u"Xbl: "_s + entry.xbl,
            u"Xbc: "_s + entry.xbc,
            u"Xfire: "_s + entry.xfire,
            u"Games Friend has: "_s + entry.games,
            u"Comments: "_s + entry.comments,
    };
}

QStringList serverLines(const Server &entry)
{
    QStringList lines{
            Separator.toString(),
            u"Name: "_s + entry.name,
            u"IP: "_s + entry.ip,
            u"Password: "_s + entry.password,
    };
    if (entry.dedicatedYes)
        lines << u"Dedicated: Yes"_s;
    if (entry.dedicatedNo)
        lines << u"Dedicated: No"_s;
    lines << u"Comments: "_s + entry.comments;
    return lines;
}

QString appendedText(const QStringList &lines)
{
    qsizetype size = 0;
    for (const QString &line : lines)
        size += LineBreak.size() + line.size();
    QString text;
    text.reserve(size);
    for (const QString &line : lines)
        text.append(LineBreak).append(line);
    return text;
}

qsizetype count(QStringView list)
{
    const auto isBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
    qsizetype records = 0;
    for (qsizetype at = list.indexOf(Separator); at != -1;
         at = list.indexOf(Separator, at + Separator.size())) {
        const qsizetype end = at + Separator.size();
        if ((at == 0 || isBreak(list[at - 1])) && (end == list.size() || isBreak(list[end])))
            ++records;
    }
    return records;
}

} // namespace Records
