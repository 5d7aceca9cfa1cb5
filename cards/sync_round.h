#pragma once

#include "commands.h"
#include "sync_merge.h"
#include "sync_state.h"

#include "data/entryrecord.h"
#include "data/files.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// One round of the two-way sync: both sides read, each contact merged, the changes written in
// an order that a round killed at any point leaves for the next round to finish.
namespace meridoc {
class CommitJournal;
class NewCardFile;
} // namespace meridoc

namespace meridoc::cards {

struct SyncRequest;

class SyncRound {
public:
    SyncRound(const CommandContext &ctx, const SyncRequest &request);
    ~SyncRound();
    // Reads both sides and works out what to change; throws Failure.
    void plan();
    // Writes the changes: folder files, extra texts and card file, then the state.
    void apply();
    // Whether the round changed a vCard in the folder (only then is there anything to push).
    bool folderChanged() const { return folderChanged_; }

private:
    // A vCard file of the folder.
    struct Card {
        QString file;
        FileStamp stamp;
        QString uid;
        QByteArray bytes;                     // read only when it changed since the last round
        std::optional<Projection> projection; // the same
        bool read = false;
        bool usable = true; // one vCard with a UID of its own: otherwise left alone
    };
    // A distinct entry of the card file (the same entry twice counts once).
    struct Entry {
        QByteArrayView key;  // its fields as FieldsKey gives them, in entryKeys_
        QByteArray textPath; // its extra text's file, empty when there is none
        FileStamp textStamp;
        std::optional<Projection> projection; // worked out when needed
        // The identity its lines in the extra text carry, when not that of its fields: those
        // it had at the last round, before it was edited.
        QString groupId;
        std::array<QByteArray, FieldCount> fields() const { return FieldsOfKey(key); }
    };
    // One contact across the state, the card file and the folder.
    struct Contact {
        int state = -1, entry = -1, card = -1;
        bool nameOnlyPair = false; // new on both sides, paired by name: no common base
    };
    // The extra-text name the viewer looks up for an entry of these fields.
    static QString textNameOf(const std::array<QByteArray, FieldCount> &fields);
    static QByteArray readFile(const QString &path, qint64 limit);
    void readState();
    void readFolder();
    void readCard(Card &card);
    void refuseSharedUids();
    void readCardFile();
    void match();
    void pairNewUids(std::vector<bool> &cardTaken);
    void pairRenamed(const std::vector<SyncedContact> &state, const std::vector<int> &lostStates,
                     std::vector<int> &stateEntry, std::vector<bool> &entryTaken);
    void decide(int contact);
    const Projection &entryProjection(int entry);
    const Projection &mineOf(int contact);
    QString groupIdOf(int entry) const;
    bool takenId(const QString &id);
    bool ambiguousLines(int entry);
    Projection baseOf(const SyncedContact &s) const;
    QString whoOf(const Projection &p) const;
    void report(const QString &line);
    void refuseMassRemoval() const;

    const CommandContext &ctx_;
    const SyncRequest &request_;
    QString folder_; // ends with '/'
    QDate today_;    // the date of the round, for the lines it adds
    QString cardFile_;
    std::optional<SyncState> oldState_;
    std::vector<Card> cards_;
    std::vector<int> cardOfState_; // the folder's file of each contact of the state, unchanged
    std::vector<std::pair<EntryRecord, int>> records_; // the card file's records and their entries
    std::vector<Entry> entries_;
    QByteArray entryKeys_;                  // the entries' keys, one after the other
    QHash<QByteArrayView, int> entryOfKey_; // FieldsKey -> entry
    std::vector<Contact> contacts_;
    std::unique_ptr<class ExtraTexts> texts_;
    // The contacts renamed in the card file whose lines were left behind in the old name's extra
    // text: what the card file holds of each with those lines. Kept apart from the contacts,
    // which stay small: an idle round of 10,000 moves them around.
    std::map<int, Projection> carried_;
    std::optional<QSet<QString>> takenIds_; // the identities of the entries' lines, when needed

    // What a contact's round changes.
    enum class FolderOp { Keep, Write, Remove };
    enum class CardOp { Keep, Put, Remove };
    struct Change {
        int contact = -1;
        FolderOp folder = FolderOp::Keep;
        CardOp cards = CardOp::Keep;
        Projection result;      // what the side or sides written hold afterwards
        QString uid, file;      // the vCard's, for the folder
        bool drop = false;      // gone from both sides: the state forgets it
        bool leftAlone = false; // its vCard cannot be read: the state keeps it as it was
        bool skipped = false;   // its vCard changed while the round ran: the next round merges
        std::optional<Projection> written; // what the card file takes from the vCard written
        QByteArray restoredFrom;           // the last vCard its file held, written again (patched)
    };
    void decideOneWay(Change &change);
    void writeBackups(const QString &stamp);
    void writeFolder();
    void keepLastSeen();
    void writeProgramFolder();
    void writeExtraTexts(CommitJournal &journal,
                         std::vector<std::unique_ptr<files::ReplacementFile>> &staged);
    std::unique_ptr<NewCardFile> writeCardFile(CommitJournal &journal);
    void writeState();

    std::vector<Change> changes_;
    int removalsFromCards_ = 0, removalsFromFolder_ = 0;
    bool folderChanged_ = false;
    bool stateChanged_ = false;
    QStringList reportLines_;
    QSet<QByteArray> touchedTexts_; // the keys (ExtraTextKey) of the extra texts written
    QSet<QString> listedAsOwn_;     // the vCards an older export listed as its own
    bool listed_ = false; // that list is there // upper-cased names of the extra texts written
};

} // namespace meridoc::cards
