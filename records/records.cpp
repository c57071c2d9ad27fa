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

void Counter::add(QStringView piece)
{
    for (qsizetype at = 0; at < piece.size();) {
        const QChar c = piece[at];
        if (c == u'\r' || c == u'\n') {
            m_records += m_dashes == Separator.size();
            m_dashes = 0;
            ++at;
        } else if (c == u'-' && m_dashes >= 0 && m_dashes < Separator.size()) {
            ++m_dashes;
            ++at;
        } else {
            // Dashes are rare but in separators: the rest of any other line is skipped unread.
            m_dashes = -1;
            at = piece.indexOf(u'\n', at);
            if (at == -1)
                break;
        }
    }
}

qsizetype Counter::records() const
{
    return m_records + (m_dashes == Separator.size());
}

} // namespace Records
