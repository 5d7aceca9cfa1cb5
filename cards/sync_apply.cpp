#include "sync_round.h"

#include "card_entries.h"
#include "entry_contact.h"
#include "export.h"
#include "export_entry.h"
#include "extra_text_update.h"
#include "output.h"
#include "sync.h"
#include "vcard_patch.h"

#include "data/commitjournal.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/files.h"
#include "data/recordfile.h"
#include "data/rtf.h"
#include "data/text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextDocument>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc::cards {
namespace {

constexpr qint64 MaxTextBytes = 64 << 20;

} // namespace

void SyncRound::apply() {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHHmmss"));
    writeBackups(stamp);
    writeFolder();
    keepLastSeen();
    writeProgramFolder();
    writeState();
    for (const QString &line : std::as_const(reportLines_)) {
        const QByteArray bytes = (line + '\n').toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), ctx_.out);
    }
}

// Whatever a round removes from either side is written first into a file of the state folder,
// as vCards that an import brings back.
void SyncRound::writeBackups(const QString &stamp) {
    QByteArray kept;
    for (const Change &ch : changes_) {
        const Contact &c = contacts_[ch.contact];
        if (ch.cards == CardOp::Remove) {
            // The card file's side, in the last vCard the folder held for it when one is kept.
            const Projection &mine = entryProjection(c.entry);
            const auto last = LastSeen(folder_, ch.file);
            const QByteArray patched = last ? PatchVCard(*last, mine).value_or(QByteArray()) : "";
            kept += patched.isEmpty() ? VCardOfProjection(mine, ch.uid, false) : patched;
        }
        if (ch.folder == FolderOp::Remove) {
            const Card &card = cards_[c.card];
            QByteArray bytes = card.read ? card.bytes : readFile(folder_ + card.file, 16 << 20);
            if (!bytes.endsWith('\n'))
                bytes += "\r\n";
            kept += bytes;
        }
    }
    if (kept.isEmpty())
        return;
    CheckStateFolder(folder_);
    const QString dir = folder_ + SyncStateFolderName;
    if (!QDir().mkpath(dir))
        throw Failure(QStringLiteral("cannot create the folder"), dir);
    QString path = dir + QStringLiteral("/removed-%1.vcf").arg(stamp);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir + QStringLiteral("/removed-%1-%2.vcf").arg(stamp).arg(n);
    WriteFileAtomically(path, kept);
    report(QStringLiteral("kept what was removed in %1").arg(path));
}

// The folder's vCards are written all before any takes its place, and flushed to disk at once:
// a first round of 10,000 entries took 18 s when each file was flushed on its own.
void SyncRound::writeFolder() {
    struct Staged {
        Change *change;
        std::unique_ptr<files::ReplacementFile> file;
        FileStamp read; // the vCard it replaces, as read
    };
    std::vector<Staged> staged;
    // A few files are flushed one by one: flushing the whole file system waits for what other
    // programs wrote too.
    const bool together = std::count_if(changes_.begin(), changes_.end(), [](const Change &ch) {
                              return ch.folder == FolderOp::Write;
                          }) > 16;
    // A vCard is replaced or removed only as it was read: a change since then waits for the
    // next round.
    const auto unchanged = [&](Change &ch, const QString &path, const FileStamp &read) {
        if (StampOf(path) == read)
            return true;
        ch.skipped = true;
        report(QStringLiteral("left for the next round: %1 changed meanwhile").arg(ch.file));
        return false;
    };
    for (Change &ch : changes_) {
        const Contact &c = contacts_[ch.contact];
        const QString path = folder_ + ch.file;
        if (ch.folder == FolderOp::Remove) {
            if (!unchanged(ch, path, cards_[c.card].stamp))
                continue;
            if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
                throw Failure(QStringLiteral("cannot remove the file"), path);
            folderChanged_ = true;
            continue;
        }
        if (ch.folder != FolderOp::Write)
            continue;
        QByteArray bytes;
        FileStamp read;
        if (c.card >= 0) {
            Card &card = cards_[c.card];
            if (!card.read)
                card.bytes = readFile(path, 16 << 20);
            bytes = PatchVCard(card.bytes, ch.result).value_or(QByteArray());
            if (bytes == card.bytes)
                continue;
            read = card.stamp;
            if (!request_.pair.isEmpty()) // the push follows in the same run
                KeepUnpushed(folder_, ch.uid, card.bytes);
        } else if (!ch.restoredFrom.isEmpty()) {
            bytes = PatchVCard(ch.restoredFrom, ch.result).value_or(QByteArray());
        }
        if (bytes.isEmpty())
            bytes = VCardOfProjection(ch.result, ch.uid, request_.version4);
        // Whatever took a vCard's place that is not a regular file (a link, a pipe) stays.
        if (struct stat st{};
            ::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
            ch.skipped = true;
            report(QStringLiteral("left alone: %1: not a regular file").arg(ch.file));
            continue;
        }
        try {
            // A link put there meanwhile is replaced, never written through.
            auto file = std::make_unique<files::ReplacementFile>(
                path, files::modeFor(path),
                files::Replacement{files::Staging::Beside, files::Link::Replace,
                                   together ? files::Flush::Together : files::Flush::Each});
            file->file().writeAt(bytes.constData(), bytes.size(), 0);
            file->finish();
            staged.push_back({&ch, std::move(file), read});
        } catch (const Exception &e) {
            throw Failure(e.message(), path);
        }
        ch.written = ProjectionOfVCard(bytes);
    }
    if (together && !staged.empty())
        files::syncFileSystem(folder_);
    for (Staged &s : staged) {
        if (!unchanged(*s.change, folder_ + s.change->file, s.read)) {
            s.change->written.reset();
            continue;
        }
        try {
            s.file->commit(true);
        } catch (const Exception &e) {
            throw Failure(e.message(), folder_ + s.change->file);
        }
        folderChanged_ = true;
    }
    if (folderChanged_)
        files::syncDirectory(folder_);
}

// The vCards read or written are kept as the last ones their files held; a contact gone from
// both sides is forgotten.
void SyncRound::keepLastSeen() {
    for (const Change &ch : changes_) {
        const Contact &c = contacts_[ch.contact];
        if (ch.skipped || ch.leftAlone)
            continue;
        if (ch.drop)
            ForgetLastSeen(folder_, ch.file);
        else if (ch.written || (c.card >= 0 && cards_[c.card].read))
            KeepLastSeen(folder_, ch.file);
    }
}

// The card file and the extra texts change as one step (see CommitJournal): a round killed at
// any point leaves no text of a removed entry behind, and none written for an entry the card
// file does not take, whose lines the next round would write again.
void SyncRound::writeProgramFolder() {
    // The journal goes first: until the card file is replaced, a journal left by a failure goes
    // with it, before the staged files.
    std::unique_ptr<NewCardFile> card;
    std::vector<std::unique_ptr<files::ReplacementFile>> texts;
    CommitJournal journal(ctx_.folder());
    card = writeCardFile(journal);
    writeExtraTexts(journal, texts);
    try {
        journal.seal();
        if (card)
            card->commit();
        for (const auto &text : texts)
            text->release(); // the journal puts it in place
        journal.complete();
    } catch (const Exception &e) {
        throw Failure(e.message(), cardFile_);
    }
}

void SyncRound::writeExtraTexts(CommitJournal &journal,
                                std::vector<std::unique_ptr<files::ReplacementFile>> &staged) {
    struct Edit {
        SectionOwner owner;
        QStringList removed, added;
    };
    // The edits of each extra text, by its key (the name without regard to letter case).
    QMap<QByteArray, QPair<QString, QList<Edit>>> byKey;
    const auto keyOf = [](const std::array<QByteArray, FieldCount> &fields) {
        return ExtraTextKey(fields[int(Field::NAME)], fields[int(Field::SURNAME)]);
    };
    const auto edit = [&](const std::array<QByteArray, FieldCount> &textOf, const Edit &e) {
        // Lines that stay as they were get the identity of the entry they are now.
        const bool remark =
            !e.owner.id.isEmpty() && !e.owner.newId.isEmpty() && e.owner.id != e.owner.newId;
        if (!e.removed.isEmpty() || !e.added.isEmpty() || remark) {
            auto &slot = byKey[keyOf(textOf)];
            slot.first = textNameOf(textOf);
            slot.second.append(e);
        }
    };
    // The texts of the entries the card file keeps, when an entry is removed.
    QSet<QByteArray> remaining;
    if (std::any_of(changes_.begin(), changes_.end(),
                    [](const Change &ch) { return ch.cards == CardOp::Remove; })) {
        std::vector<bool> leaving(entries_.size(), false);
        for (const Change &ch : changes_)
            if (contacts_[ch.contact].entry >= 0 && ch.cards != CardOp::Keep)
                leaving[contacts_[ch.contact].entry] = true;
        for (std::size_t e = 0; e < entries_.size(); ++e)
            if (!leaving[e])
                remaining.insert(keyOf(entries_[e].fields()));
    }
    for (const Change &ch : changes_) {
        const Contact &c = contacts_[ch.contact];
        if (ch.skipped || ch.leftAlone)
            continue;
        if (ch.cards == CardOp::Keep) {
            // An entry edited here keeps its lines: they get its new identity.
            if (c.entry >= 0 && !entries_[c.entry].groupId.isEmpty() &&
                !entryProjection(c.entry).lines.isEmpty()) {
                const auto fields = entries_[c.entry].fields();
                edit(fields, {{fields, groupIdOf(c.entry), EntryUid(fields), {}}, {}, {}});
            }
            continue;
        }
        const QStringList old = c.entry >= 0 ? entryProjection(c.entry).lines : QStringList();
        // The entry's lines as they are found now, and as the card file's new entry has them.
        const SectionOwner was =
            c.entry >= 0
                ? SectionOwner{entries_[c.entry].fields(), groupIdOf(c.entry), {}, HeadingOf(old)}
                : SectionOwner{};
        if (ch.cards == CardOp::Remove) {
            // A text that no entry keeps is removed with the card file's entry, as the search
            // window does; one that others share loses only this contact's lines.
            if (remaining.contains(keyOf(entries_[c.entry].fields())))
                edit(entries_[c.entry].fields(), {was, old, {}});
            continue;
        }
        const QString heading = HeadingOf(ch.result.lines);
        const QString newId = EntryUid(ch.result.fields);
        if (carried_.count(ch.contact)) {
            // The lines left in the old name's text go, unless another entry has that name.
            const SyncedContact &s = oldState_->contacts[c.state];
            const QByteArray left = keyOf(s.fields());
            if (std::none_of(entries_.begin(), entries_.end(),
                             [&](const Entry &e) { return keyOf(e.fields()) == left; }))
                edit(s.fields(),
                     {{s.fields(), EntryUid(s.fields()), {}, HeadingOf(s.lines)}, s.lines, {}});
        }
        if (c.entry < 0 || keyOf(entries_[c.entry].fields()) != keyOf(ch.result.fields)) {
            if (c.entry >= 0)
                edit(entries_[c.entry].fields(), {was, old, {}});
            edit(ch.result.fields, {{ch.result.fields, {}, newId, heading}, {}, ch.result.lines});
        } else {
            edit(ch.result.fields,
                 {{was.fields, was.id, newId, heading.isEmpty() ? was.heading : heading},
                  LinesWithout(old, ch.result.lines),
                  LinesWithout(ch.result.lines, old)});
        }
    }
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
        const QString &name = it->first;
        const QString target = texts_->folder().path(name);
        if (target.isEmpty()) {
            report(QStringLiteral("left alone: the extra text of %1: not a name a file can have")
                       .arg(name));
            continue;
        }
        const QByteArray shown = texts_->shownPath(name);
        const QByteArray original =
            shown.isEmpty() ? QByteArray() : readFile(QFile::decodeName(shown), MaxTextBytes);
        QTextDocument doc;
        if (!shown.isEmpty()) {
            try {
                LoadExtraTextFile(shown, doc);
            } catch (const Exception &e) {
                throw Failure(e.message(), QFile::decodeName(shown));
            }
        }
        bool changed = false, onlyAppended = true;
        QStringList appended;
        for (const Edit &e : it->second) {
            const SectionEdit done = EditSection(doc, e.owner, e.removed, e.added);
            changed = changed || done.changed;
            onlyAppended = onlyAppended && done.onlyAppended;
            appended += e.added;
        }
        if (!changed)
            continue;
        QByteArray bytes;
        if (!original.isEmpty() && HoldsMoreThanText(original)) {
            // Pictures and links stay: the text is only appended to.
            const auto kept = onlyAppended ? rtf::appendParagraphs(original, appended)
                                           : std::optional<QByteArray>();
            if (!kept) {
                report(QStringLiteral("left alone: the extra text of %1 holds pictures or links; "
                                      "its lines were not changed")
                           .arg(name));
                continue;
            }
            bytes = *kept;
        } else if (text::trimmed(doc.toPlainText()).isEmpty()) {
            if (!shown.isEmpty())
                journal.remove(QFile::decodeName(shown));
            touchedTexts_.insert(it.key());
            continue;
        } else {
            bytes = rtf::write(doc);
        }
        try {
            auto file = std::make_unique<files::ReplacementFile>(
                target, files::modeFor(target),
                files::Replacement{files::Staging::Beside, files::Link::Follow,
                                   files::Flush::Each});
            file->file().writeAt(bytes.constData(), bytes.size(), 0);
            file->finish();
            journal.put(file->stagedPath(), file->target());
            staged.push_back(std::move(file));
        } catch (const Exception &e) {
            throw Failure(e.message(), target);
        }
        touchedTexts_.insert(it.key());
    }
}

std::unique_ptr<NewCardFile> SyncRound::writeCardFile(CommitJournal &journal) {
    QSet<QByteArray> dropped; // the entries replaced or removed, by their fields
    std::vector<bool> droppedEntries(entries_.size(), false); // the same by their index
    std::vector<EntryRecord> records;
    std::vector<QByteArray> orphans; // extra-text keys of the entries removed
    for (const Change &ch : changes_) {
        const Contact &c = contacts_[ch.contact];
        if (ch.skipped || ch.cards == CardOp::Keep)
            continue;
        if (c.entry >= 0) {
            const auto fields = entries_[c.entry].fields();
            dropped.insert(entries_[c.entry].key.toByteArray());
            droppedEntries[c.entry] = true;
            if (ch.cards == CardOp::Remove)
                orphans.push_back(
                    ExtraTextKey(fields[int(Field::NAME)], fields[int(Field::SURNAME)]));
        }
        if (ch.cards == CardOp::Put)
            records.push_back(EntryRecord::fromFields(ch.result.fields));
    }
    if (dropped.isEmpty() && records.empty())
        return nullptr;
    // The card file's records less those dropped, in their order, and the new ones where their
    // sort keys place them (stably, after their equals); a card file out of order is sorted.
    std::vector<std::pair<SortKey, EntryRecord>> all;
    all.reserve(records_.size() + records.size());
    for (const auto &[r, entry] : records_)
        if (!droppedEntries[entry])
            all.emplace_back(SortKey(r), r);
    const auto byKey = [](const auto &a, const auto &b) { return a.first < b.first; };
    if (!std::is_sorted(all.begin(), all.end(), byKey))
        std::stable_sort(all.begin(), all.end(), byKey);
    QSet<QByteArray> added;
    for (const EntryRecord &r : records) {
        // The same entry twice is kept once.
        const QByteArray key = KeyOfRecord(r);
        if ((entryOfKey_.contains(key) && !dropped.contains(key)) || added.contains(key))
            continue;
        added.insert(key);
        const std::pair<SortKey, EntryRecord> item(SortKey(r), r);
        all.insert(std::upper_bound(all.begin(), all.end(), item, byKey), item);
    }
    try {
        auto out = std::make_unique<NewCardFile>(cardFile_, files::modeFor(cardFile_));
        for (const auto &[key, r] : all)
            out->writer().write(r);
        out->writer().flush();
        journal.cardFile(out->stagedPath());
        for (const QByteArray &key : orphans)
            journal.removeOrphan(key);
        return out;
    } catch (const Exception &e) {
        throw Failure(e.message(), cardFile_);
    }
}

void SyncRound::writeState() {
    if (oldState_ && !stateChanged_ && touchedTexts_.isEmpty() && !listed_ &&
        oldState_->cardFile == ctx_.cardBaseName && oldState_->contacts.size() == contacts_.size())
        return;
    SyncState state;
    state.cardFile = ctx_.cardBaseName;
    if (oldState_)
        state.read = oldState_->read;  // the lines of the contacts moved over are in it
    std::optional<ExtraTexts> written; // the extra texts as written, listed when needed
    // What the card file holds of the entry of `fields` now, and its extra text's stamp.
    const auto readBack = [&](SyncedContact &s) {
        s.asRead = {};
        // The extra texts as read before the round, unless the round wrote some.
        ExtraTexts &after = touchedTexts_.isEmpty() ? *texts_
                            : written               ? *written
                                                    : written.emplace(ctx_.folder());
        const std::array<QByteArray, FieldCount> fields = s.fields();
        const QByteArray &name = fields[int(Field::NAME)], &surname = fields[int(Field::SURNAME)];
        s.lines = ProjectionOfEntry(fields, after.plainText(name, surname)).lines;
        const QByteArray path =
            after.has(name, surname) ? after.shownPath(textNameOf(fields)) : QByteArray();
        s.textSeen = path.isEmpty() ? FileStamp{} : StampOf(QFile::decodeName(path), Links::Follow);
    };
    const auto touched = [&](QByteArrayView key) {
        if (touchedTexts_.isEmpty())
            return false;
        const auto [name, surname] = NameOfKey(key);
        return touchedTexts_.contains(ExtraTextKey(name.toByteArray(), surname.toByteArray()));
    };
    std::vector<const Change *> changeOf(contacts_.size(), nullptr);
    for (const Change &ch : changes_)
        changeOf[ch.contact] = &ch;
    // Contacts the last round knew come first, in the state's order (by UID).
    std::optional<std::size_t> known;
    for (std::size_t i = 0; i < contacts_.size(); ++i) {
        const Contact &c = contacts_[i];
        SyncedContact *old = c.state >= 0 ? &oldState_->contacts[c.state] : nullptr;
        if (!old && !known)
            known = state.contacts.size();
        const Change *ch = changeOf[i];
        if (!ch || ch->leftAlone || ch->skipped) {
            if (!old)
                continue;
            state.contacts.push_back(std::move(*old));
            // Unchanged, but its extra text may have been written for another person sharing it.
            if (!ch && touched(state.contacts.back().key))
                readBack(state.contacts.back());
            continue;
        }
        if (ch->drop)
            continue;
        const Card *card = c.card >= 0 ? &cards_[c.card] : nullptr;
        SyncedContact s;
        s.uid = ch->uid;
        s.file = ch->file;
        s.fileSeen = ch->folder == FolderOp::Write ? StampOf(folder_ + ch->file) : card->stamp;
        s.vhash = ch->written          ? ProjectionHash(*ch->written)
                  : card && card->read ? ProjectionHash(*card->projection)
                                       : old->vhash;
        s.key = ch->cards == CardOp::Put ? FieldsKey(ch->result.fields)
                                         : entries_[c.entry].key.toByteArray();
        if (ch->cards == CardOp::Put || touched(s.key)) {
            readBack(s);
        } else {
            const Entry &e = entries_[c.entry];
            s.lines = e.projection ? e.projection->lines : old->lines;
            s.textSeen = e.textStamp;
        }
        state.contacts.push_back(std::move(s));
    }
    const auto byUid = [](const SyncedContact &a, const SyncedContact &b) { return a.uid < b.uid; };
    const auto newOnes = state.contacts.begin() + qsizetype(known.value_or(state.contacts.size()));
    if (std::is_sorted(state.contacts.begin(), newOnes, byUid)) {
        std::sort(newOnes, state.contacts.end(), byUid);
        std::inplace_merge(state.contacts.begin(), newOnes, state.contacts.end(), byUid);
    } else {
        std::sort(state.contacts.begin(), state.contacts.end(), byUid);
    }
    if (const QByteArray bytes = SyncStateBytes(state); !oldState_ || bytes != oldState_->read)
        WriteSyncStateBytes(folder_, bytes);
    // The state now knows the files an older export listed.
    if (listed_ && ::unlink(QFile::encodeName(folder_ + SyncManifestName).constData()) != 0 &&
        errno != ENOENT)
        throw Failure(QStringLiteral("cannot remove the file"), folder_ + SyncManifestName);
}

} // namespace meridoc::cards
