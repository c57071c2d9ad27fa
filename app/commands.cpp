#include "commands.h"

#include "busypointer.h"
#include "form.h"
#include "listfiles.h"
#include "records.h"

#include <QHash>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString FriendsList = u"txtfriends"_s;
const QString ServerList = u"txtserver"_s;

} // namespace

Commands::Commands(Form &form)
    : m_form(form)
{ }

void Commands::addFriend()
{
    Records::Friend entry;
    entry.name = m_form.text(u"txtname"_s);
    entry.aim = m_form.text(u"txtaim"_s);
    entry.yim = m_form.text(u"txtyim"_s);
    entry.msn = m_form.text(u"txtmsn"_s);
    entry.email = m_form.text(u"txtemail"_s);
    entry.clan = m_form.text(u"txtclan"_s);
    entry.website = m_form.text(u"txtwebsite"_s);
    entry.xbl = m_form.text(u"txtxbl"_s);
    entry.xbc = m_form.text(u"txtxbc"_s);
    entry.xfire = m_form.text(u"txtxfire"_s);
    entry.games = m_form.text(u"txtgames"_s);
    entry.comments = m_form.text(u"txtcomments"_s);
    m_form.appendText(FriendsList, Records::appendedText(Records::friendLines(entry)));
}

void Commands::addServer()
{
    Records::Server entry;
    entry.name = m_form.text(u"txtsname"_s);
    entry.ip = m_form.text(u"txtip"_s);
    entry.password = m_form.text(u"txtpass"_s);
    entry.dedicatedYes = m_form.value(u"optyes"_s);
    entry.dedicatedNo = m_form.value(u"optno"_s);
    entry.comments = m_form.text(u"txtnotes"_s);
    m_form.appendText(ServerList, Records::appendedText(Records::serverLines(entry)));
}

void Commands::clearFields()
{
    for (const QString &field :
         {u"txtname"_s, u"txtaim"_s, u"txtyim"_s, u"txtmsn"_s, u"txtemail"_s, u"txtclan"_s,
          u"txtwebsite"_s, u"txtxbl"_s, u"txtxbc"_s, u"txtxfire"_s, u"txtgames"_s, u"txtcomments"_s,
          u"txtsname"_s, u"txtip"_s, u"txtpass"_s})
        m_form.setText(field, QString());
    m_form.setValue(u"optyes"_s, false);
    m_form.setValue(u"optno"_s, false);
    m_form.setText(u"txtnotes"_s, QString());
}

void Commands::open()
{
    if (const QString unsaved = unsavedLists(); !unsaved.isEmpty()) {
        const Question replace{
                tr("Open"),
                tr("%1\n\nOpening the list files replaces what is on screen.").arg(unsaved),
                {Choice::Replace, Choice::Cancel},
                Choice::Cancel,
                Choice::Cancel,
        };
        if (m_form.ask(replace) != Choice::Replace)
            return;
    }
    const BusyPointer busy;
    if (!openList(ListFiles::List::Servers, ServerList, m_savedServers))
        return;
    openList(ListFiles::List::Friends, FriendsList, m_savedFriends);
}

bool Commands::save()
{
    const BusyPointer busy;
    if (!saveList(ListFiles::List::Servers, ServerList, m_savedServers))
        return false;
    if (!saveList(ListFiles::List::Friends, FriendsList, m_savedFriends))
        return false;
    m_form.showInformation(tr("File Saved!"), tr("Saved"));
    return true;
}

void Commands::create()
{
    m_form.showInformation(tr("This will create all the files you need to run this program. "
                              "Make sure you have a c:/"),
                           tr("Setting Up"));
    bool written = false;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        // Only missing files are made: a list the user saved is never overwritten here.
        const ListFiles::Created created = ListFiles::create(file, m_form.text(u"txt1"_s));
        if (created.failure) {
            m_form.reportError(describe(*created.failure));
            return;
        }
        written = written || created.written;
    }
    if (written)
        m_form.showInformation(tr("File Saved!"), tr("Saved"));
    else
        m_form.showInformation(tr("The list files already exist. Nothing was changed."),
                               tr("Setting Up"));
}

void Commands::about()
{
    m_form.showInformation(tr("Too lazy to make another form for an About page.") + u"\r\n\r\n"_s
                                   + tr("Vonnerby is freeware"),
                           tr("About"));
}

void Commands::exit()
{
    m_form.unload();
}

bool Commands::mayClose()
{
    const QString unsaved = unsavedLists();
    if (unsaved.isEmpty())
        return true;
    const Question close{
            tr("Exit"),
            tr("%1\n\nSave the lists before closing?").arg(unsaved),
            {Choice::Save, Choice::Discard, Choice::Cancel},
            Choice::Save,
            Choice::Cancel,
    };
    switch (m_form.ask(close)) {
    case Choice::Save:
        return save();
    case Choice::Discard:
        return true;
    default:
        return false;
    }
}

Commands::Fingerprint Commands::fingerprint(QStringView text)
{
    return {text.size(), qHash(text)};
}

bool Commands::isUnsaved(const QString &list, const Fingerprint &saved) const
{
    // An unmodified document cannot differ; only an edited one is read and compared, so that
    // typing a record and deleting it again leaves nothing to ask about.
    return m_form.isModified(list) && fingerprint(m_form.text(list)) != saved;
}

QString Commands::unsavedLists() const
{
    const bool servers = isUnsaved(ServerList, m_savedServers);
    const bool friends = isUnsaved(FriendsList, m_savedFriends);
    if (servers && friends)
        return tr("The friends list and the server list have changes that are not saved.");
    if (friends)
        return tr("The friends list has changes that are not saved.");
    if (servers)
        return tr("The server list has changes that are not saved.");
    return {};
}

void Commands::markSaved(const QString &list, Fingerprint &saved, QStringView text)
{
    saved = fingerprint(text);
    m_form.setUnmodified(list);
}

bool Commands::openList(ListFiles::List file, const QString &list, Fingerprint &saved)
{
    const ListFiles::Opened opened = ListFiles::open(file);
    if (opened.failure) {
        m_form.reportError(describe(*opened.failure));
        return false;
    }
    m_form.setText(list, opened.text);
    // The box may have changed line breaks on the way in; what it holds now is the baseline.
    markSaved(list, saved, m_form.text(list));
    return true;
}

bool Commands::saveList(ListFiles::List file, const QString &list, Fingerprint &saved)
{
    const QString text = m_form.text(list);
    if (const auto failure = ListFiles::save(file, text)) {
        m_form.reportError(describe(*failure));
        return false;
    }
    markSaved(list, saved, text);
    return true;
}

QString Commands::describe(const ListFiles::Failure &failure) const
{
    // The path on a line of its own, so that a long one does not break mid-sentence.
    const bool servers = failure.list == ListFiles::List::Servers;
    QString what;
    QString hint;
    switch (failure.action) {
    case ListFiles::Failure::Action::Save:
        what = servers ? tr("Could not save the server list to")
                       : tr("Could not save the friends list to");
        hint = tr("The lists on screen are unchanged, and the file keeps what it held before.");
        break;
    case ListFiles::Failure::Action::Open:
        what = servers ? tr("Could not open the server list file")
                       : tr("Could not open the friends list file");
        if (failure.missing)
            hint = tr("Options, Create Nesacary Items creates the list files for a first run.");
        break;
    case ListFiles::Failure::Action::Create:
        what = servers ? tr("Could not create the server list file")
                       : tr("Could not create the friends list file");
        break;
    }
    QString text = what + u'\n' + failure.path + u"\n\n"_s + failure.reason;
    if (!text.endsWith(u'.'))
        text += u'.';
    if (!hint.isEmpty())
        text += u"\n\n"_s + hint;
    return text;
}
