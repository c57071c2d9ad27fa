#pragma once

#include "listfiles.h"

#include <QCoreApplication>
#include <QString>
#include <QStringView>

#include <cstddef>

class Form;
namespace Recovery {
class Keeper;
struct Copy;
} // namespace Recovery

// What each button and menu item does, in terms of the window's runtime operations.
class Commands
{
    Q_DECLARE_TR_FUNCTIONS(Commands)

public:
    explicit Commands(Form &form);
    // Notes the list files as they are on disk, so that Save can tell a change from outside;
    // the window does this as it starts.
    void takeStamps();

    void addFriend();
    void addServer();
    void clearFields();
    void open();
    bool save();
    void create();
    void about();
    void exit();

    // Before the window closes: saves or discards unsaved lists, or says to keep it open.
    bool mayClose();
    // Stops the Open or Save at work under its progress window as Cancel does, but without a
    // word, as nobody may be there to read it; false when no command is at work so.
    bool interrupt();

    // The entry fields, as work kept aside holds them.
    static const QStringList &textFields();
    static const QStringList &optionFields();
    // Keeps work aside with \a keeper from here on, after offering back the work of a program
    // that ended without closing.
    void keepWorkWith(Recovery::Keeper &keeper);
    void reportKeepingFailure(const QString &path, int error);

private:
    // Enough to tell whether a list still holds what was last saved or opened.
    struct Fingerprint
    {
        qsizetype size = 0;
        quint64 hash = 0;
        friend bool operator==(const Fingerprint &, const Fingerprint &) = default;
    };
    // Takes a text a piece at a time; the same text gives the same fingerprint, however it is
    // cut into pieces.
    class Fingerprinter
    {
    public:
        bool add(QStringView text);
        Fingerprint result() const;

    private:
        qsizetype m_size = 0;
        quint64 m_hash[2] = {0, 1};
        char16_t m_pending[8] = {};
        int m_held = 0; // characters in m_pending
    };
    static Fingerprint fingerprintOf(QStringView text);
    // Of a list box's text.
    Fingerprint fingerprint(const QString &list) const;

    bool isUnsaved(const QString &list, const Fingerprint &saved) const;
    QString unsavedLists() const;
    void markSaved(const QString &list, Fingerprint &saved, const Fingerprint &now);
    // How far Open or Save has got, told to its progress window.
    class Steps;
    // A list on its way between its box and its file.
    struct Opening;
    struct Saving;
    // Whether both list files, \a bytes in all, can be opened beside the lists on screen.
    bool roomToOpen(qint64 &bytes);
    // Reads and builds the list; on failure, what to tell the user.
    QString openList(Opening &list, Steps &steps);
    void showList(Opening &list);
    void stageList(Saving &list, Steps &steps);
    bool commitList(Saving &list, bool &confirmed);
    ListFiles::Failure noMemory(ListFiles::List file, qint64 needed, qint64 left) const;
    QString describe(const ListFiles::Failure &failure) const;
    ListFiles::Stamp &stamp(ListFiles::List file);
    bool mayOverwrite();
    void offerRecovery(Recovery::Copy &copy);
    void recover(const Recovery::Copy &copy);

    Form &m_form;
    // At start both lists are empty and there is nothing to lose.
    Fingerprint m_savedServers = Fingerprinter().result();
    Fingerprint m_savedFriends = Fingerprinter().result();
    // The list files as this window last opened, saved or created them, or found them at start.
    ListFiles::Stamp m_serverStamp;
    ListFiles::Stamp m_friendsStamp;
    Recovery::Keeper *m_keeper = nullptr;
    Steps *m_steps = nullptr; // of the command at work under its progress window
};
