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
    // Dashes are rare but in separators: look at the lines that hold one, from their first dash.
    for (qsizetype at = list.indexOf(u'-'); at != -1;) {
        if (at == 0 || isBreak(list[at - 1])) {
            const QStringView line = list.sliced(at);
            if (line.startsWith(Separator)
                && (line.size() == Separator.size() || isBreak(line[Separator.size()])))
                ++records;
        }
        const qsizetype next = list.indexOf(u'\n', at);
        if (next == -1)
            break;
        at = list.indexOf(u'-', next);
    }
    return records;
}

} // namespace Records
