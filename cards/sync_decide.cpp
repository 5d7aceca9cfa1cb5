#include "sync_round.h"

#include "entry_contact.h"
#include "sync.h"

#include "data/extratext.h"
#include "data/text.h"

#include <QDate>
#include <QFileInfo>
#include <QUuid>

namespace meridoc::cards {

const Projection &SyncRound::mineOf(int index) {
    const Contact &c = contacts_[index];
    const Projection &entry = entryProjection(c.entry);
    if (const auto it = carried_.find(index); it != carried_.end())
        return it->second;
    if (c.state < 0 || !entry.lines.isEmpty())
        return entry;
    const SyncedContact &s = oldState_->contacts[c.state];
    const auto [name, surname] = NameOfKey(s.key);
    const auto [newName, newSurname] = NameOfKey(entries_[c.entry].key);
    if (s.lines.isEmpty() || ExtraTextKey(name.toByteArray(), surname.toByteArray()) ==
                                 ExtraTextKey(newName.toByteArray(), newSurname.toByteArray()))
        return entry;
    // The name's own lines go: the new name makes its heading.
    QStringList lines;
    for (const QString &line : s.lines)
        if (!line.startsWith(FullNameHeading) && !line.startsWith(QLatin1String("Name: ")) &&
            !line.startsWith(QLatin1String("Surname: ")))
            lines += line;
    return carried_[index] = ProjectionOfEntry(entries_[c.entry].fields(), lines.join(u'\n'));
}

void SyncRound::decide(int index) {
    const Contact &c = contacts_[index];
    const SyncedContact *s = c.state >= 0 ? &oldState_->contacts[c.state] : nullptr;
    const Card *card = c.card >= 0 ? &cards_[c.card] : nullptr;
    // Most contacts changed on neither side since the last round: nothing to do or remember.
    if (s && card && !card->read && c.entry >= 0 && entries_[c.entry].key == s->key &&
        entries_[c.entry].textStamp == s->textSeen)
        return;
    Change ch;
    ch.contact = index;
    // A vCard's UID, when it changed, is the contact's from now on.
    ch.uid = card ? card->uid : s ? s->uid : QUuid::createUuid().toString(QUuid::WithoutBraces);
    ch.file = card ? card->file : s ? s->file : ch.uid + QStringLiteral(".vcf");
    if (card && !card->usable) {
        ch.leftAlone = true;
        changes_.push_back(std::move(ch));
        return;
    }
    // Lines that may be another person's of the same name are neither read nor written for it.
    if (c.entry >= 0 && ambiguousLines(c.entry)) {
        ch.leftAlone = true;
        report(QStringLiteral("left alone: %1: its extra text %2 holds lines of several people of "
                              "this name, none marked as this entry's (by a line \"%3%4\" after "
                              "the heading)")
                   .arg(whoOf(entryProjection(c.entry)), textNameOf(entries_[c.entry].fields()),
                        EntryIdLabel, groupIdOf(c.entry)));
        changes_.push_back(std::move(ch));
        return;
    }
    // Whether the state the round leaves differs from the last one: only then is it written.
    const auto noteStateChange = [&] {
        const Entry *e = c.entry >= 0 ? &entries_[c.entry] : nullptr;
        if (!s || (card && card->read) || ch.drop || ch.folder != FolderOp::Keep ||
            ch.cards != CardOp::Keep || (e && (e->key != s->key || e->textStamp != s->textSeen)))
            stateChanged_ = true;
    };
    if (request_.oneWay) {
        decideOneWay(ch);
        noteStateChange();
        changes_.push_back(std::move(ch));
        return;
    }
    const auto merged = [&](const Projection *base, const Projection &mine,
                            const Projection &theirs, const QByteArray &theirsHash) {
        MergeOutcome outcome = MergeProjections(base, mine, theirs, today_);
        for (const QString &conflict : outcome.conflicts)
            report(QStringLiteral("conflict: %1: %2").arg(whoOf(outcome.result), conflict));
        ch.result = std::move(outcome.result);
        if (c.entry < 0 || !(ch.result == entryProjection(c.entry)))
            ch.cards = CardOp::Put;
        if (ProjectionHash(ch.result) != theirsHash)
            ch.folder = FolderOp::Write;
        if (ch.cards != CardOp::Keep || ch.folder != FolderOp::Keep)
            report(QStringLiteral("merged: %1%2%3")
                       .arg(whoOf(ch.result),
                            ch.cards != CardOp::Keep ? QStringLiteral(" (card file)") : QString(),
                            ch.folder != FolderOp::Keep ? QStringLiteral(" (folder)") : QString()));
    };

    if (s) {
        // What both held after the last round, worked out only for a contact that changed.
        std::optional<Projection> lastRound;
        const auto base = [&]() -> const Projection & {
            if (!lastRound)
                lastRound = baseOf(*s);
            return *lastRound;
        };
        bool mineChanged = false, theirsChanged = false;
        if (c.entry >= 0) {
            const Entry &e = entries_[c.entry];
            mineChanged =
                (e.key != s->key || e.textStamp != s->textSeen) && !(mineOf(index) == base());
        }
        if (card)
            theirsChanged = card->read && ProjectionHash(*card->projection) != s->vhash;
        const QByteArray theirsHash =
            card && card->read ? ProjectionHash(*card->projection) : s->vhash;
        if (c.entry < 0 && !card) {
            ch.drop = true;
        } else if (c.entry < 0 && theirsChanged) {
            ch.cards = CardOp::Put;
            ch.result = *card->projection;
            report(QStringLiteral("came back: %1: removed from the card file but changed in the "
                                  "folder")
                       .arg(whoOf(ch.result)));
        } else if (c.entry < 0) {
            ch.folder = FolderOp::Remove;
            ch.drop = true;
            ++removalsFromFolder_;
            report(QStringLiteral("removed from the folder: %1 (%2)").arg(whoOf(base()), ch.file));
        } else if (!card && (mineChanged || request_.restoreServer)) {
            ch.folder = FolderOp::Write;
            ch.result = entryProjection(c.entry);
            ch.restoredFrom = LastSeen(folder_, ch.file).value_or(QByteArray());
            if (QFileInfo::exists(folder_ + ch.file))
                ch.file = ch.uid + QStringLiteral(".vcf");
            report(mineChanged ? QStringLiteral("came back: %1: removed from the folder but "
                                                "changed in the card file")
                                     .arg(whoOf(ch.result))
                               : QStringLiteral("written again to the folder: %1 (%2)")
                                     .arg(whoOf(ch.result), ch.file));
        } else if (!card) {
            ch.cards = CardOp::Remove;
            ch.drop = true;
            ++removalsFromCards_;
            report(QStringLiteral("removed from the card file: %1").arg(whoOf(base())));
        } else if (mineChanged || theirsChanged) {
            merged(&base(), mineChanged ? mineOf(index) : base(),
                   theirsChanged ? *card->projection : base(), theirsHash);
        }
    } else if (c.entry >= 0 && card) {
        merged(nullptr, entryProjection(c.entry), *card->projection,
               ProjectionHash(*card->projection));
    } else if (c.entry >= 0) {
        ch.folder = FolderOp::Write;
        ch.result = entryProjection(c.entry);
        report(QStringLiteral("added to the folder: %1 (%2)").arg(whoOf(ch.result), ch.file));
    } else if (listedAsOwn_.contains(card->file)) {
        // Written by an older export for an entry removed since.
        ch.folder = FolderOp::Remove;
        ch.drop = true;
        report(QStringLiteral("removed from the folder: %1 (%2)")
                   .arg(whoOf(*card->projection), ch.file));
    } else {
        ch.cards = CardOp::Put;
        ch.result = *card->projection;
        report(QStringLiteral("added to the card file: %1").arg(whoOf(ch.result)));
    }
    noteStateChange();
    changes_.push_back(std::move(ch));
}

// The folder follows the card file: a vCard is written where its entry changed or the vCard is
// missing, and removed with its entry; what changed in the folder alone stays in the folder.
void SyncRound::decideOneWay(Change &ch) {
    const Contact &c = contacts_[ch.contact];
    const SyncedContact *s = c.state >= 0 ? &oldState_->contacts[c.state] : nullptr;
    const Card *card = c.card >= 0 ? &cards_[c.card] : nullptr;
    if (c.entry < 0) {
        ch.drop = s || (card && listedAsOwn_.contains(card->file));
        ch.leftAlone = !ch.drop; // another program's vCard
        if (ch.drop && card) {
            ch.folder = FolderOp::Remove;
            report(QStringLiteral("removed from the folder: %1").arg(ch.file));
        }
        return;
    }
    const Entry &e = entries_[c.entry];
    const bool mineChanged = !s || e.key != s->key || e.textStamp != s->textSeen;
    if (card && !mineChanged)
        return;
    const Projection &mine = entryProjection(c.entry);
    const QByteArray theirsHash = !card        ? QByteArray()
                                  : card->read ? ProjectionHash(*card->projection)
                                               : s->vhash;
    if (s && card) {
        // What the folder changed meanwhile stays in the vCard beside the entry's change.
        const Projection base = baseOf(*s);
        ch.result =
            MergeProjections(&base, mine, card->read ? *card->projection : base, today_).result;
    } else {
        ch.result = mine;
    }
    if (ProjectionHash(ch.result) == theirsHash)
        return;
    ch.folder = FolderOp::Write;
    report(QStringLiteral("%1 the folder: %2 (%3)")
               .arg(card ? QStringLiteral("changed in") : QStringLiteral("added to"),
                    whoOf(ch.result), ch.file));
}

// A wiped server or an emptied folder shows as most contacts removed on one side: that is
// carried out only when asked for.
void SyncRound::refuseMassRemoval() const {
    const auto refuse = [&](int removed, std::size_t of, const QString &what, const QString &why,
                            const QString &ways, const QString &place) {
        if (removed > 1 && qint64(removed) * 2 > qint64(of) && !request_.forceDelete &&
            !request_.oneWay)
            throw Failure(QStringLiteral("the sync would remove %1 of the %2 %3, because %4; "
                                         "nothing was changed. %5")
                              .arg(removed)
                              .arg(of)
                              .arg(what, why, ways),
                          place);
    };
    const QString onPurpose =
        QStringLiteral("If they were removed on purpose, run the sync again with --force-delete");
    refuse(removalsFromCards_, entries_.size(), QStringLiteral("entries of the card file"),
           QStringLiteral("their vCards are gone from the folder"),
           QStringLiteral("If they were removed on purpose, remove them from the card file too "
                          "with `meridoc-cards sync --force-delete`; to put them back on the "
                          "server instead, run `meridoc-cards sync --restore-server`"),
           request_.folder);
    refuse(removalsFromFolder_, cards_.size(), QStringLiteral("vCards of the folder"),
           QStringLiteral("their entries are gone from the card file"), onPurpose, cardFile_);
    // Removals on both sides add up: each side's half would pass alone.
    if (oldState_)
        refuse(removalsFromCards_ + removalsFromFolder_, oldState_->contacts.size(),
               QStringLiteral("contacts the last round synced"),
               QStringLiteral("%1 are gone from the folder and %2 from the card file")
                   .arg(removalsFromCards_)
                   .arg(removalsFromFolder_),
               onPurpose, request_.folder);
}

} // namespace meridoc::cards
