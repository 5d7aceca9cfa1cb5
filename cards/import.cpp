#include "card_entries.h"
#include "commands.h"
#include "contact_pipe.h"
#include "entry_contact.h"
#include "extra_text_queue.h"
#include "import_names.h"
#include "input_text.h"
#include "note_spool.h"
#include "progress.h"

#include "data/appstate.h"
#include "data/cardmerge.h"
#include "data/commitjournal.h"
#include "data/entryrecord.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/files.h"
#include "data/recordfile.h"
#include "data/text.h"

#include <QFile>
#include <QFileInfo>

#include <optional>
#include <vector>

namespace meridoc::cards {
namespace {

void print(std::FILE *stream, const QString &s) {
    const QByteArray bytes = s.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

QString oneLine(QString s) {
    return s.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
}

QString plural(qint64 n, const char *one, const char *many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString whoOf(const Contact &c, const MappedEntry &m) {
    QString who = text::trimmed(c.formatted);
    if (who.isEmpty())
        who = text::trimmed(text::trimmed(c.given) + ' ' + text::trimmed(c.family));
    if (who.isEmpty())
        who = text::trimmed(text::fromCp1252(m.fields[0]) + ' ' + text::fromCp1252(m.fields[1]));
    return who.isEmpty() ? QStringLiteral("(no name)") : oneLine(who);
}

// NUL and the other control characters have no place in a record field (they end a name where
// C strings are used and turn a listing's columns): each becomes a blank, and the report says so.
void blankControlCharacters(MappedEntry &mapped) {
    static const char *const names[] = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};
    for (std::size_t i = 0; i < mapped.fields.size(); ++i) {
        bool changed = false;
        for (char &c : mapped.fields[i]) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                c = ' ';
                changed = true;
            }
        }
        if (changed)
            mapped.losses += QStringLiteral("%1: control characters stored as blanks")
                                 .arg(QLatin1String(names[i]));
    }
}

// Every contact of the input files becomes a numbered record in a scratch file, what the report
// needs of it a note in another, and its extra-text lines go to the queue's scratch files, so
// memory does not grow with the number of contacts.
class Import {
public:
    Import(const CommandContext &ctx, const ImportRequest &request)
        : ctx_(ctx), request_(request), batch_(ScratchFile(ctx.programDir)), batchWriter_(batch_),
          notes_(ctx.programDir),
          // A done import's report (to stderr) names the lines of a contact only when they are
          // lost; a dry run's, or the one handed over as data, names them all.
          extra_(ctx.folder(), !request.dryRun && !request.report) {}

    void run() {
        {
            Progress progress(ctx_, Progress::Unknown);
            for (const QString &file : request_.files)
                read(file, progress);
            batchWriter_.flush();
        }
        // The report is written once the lock is released: a stalled reader of it (a full pipe)
        // never holds up another writer of the program folder.
        std::optional<files::DirectoryLock> lock(std::in_place, ctx_.programDir);
        if (!request_.dryRun)
            FinishKilledRun(ctx_);
        std::optional<Progress> progress(std::in_place, ctx_, count_);
        findNamesInCardFile();
        CardMerge merge(
            ctx_.cardFile(), batch_, count_, !request_.dryRun, [&] { progress->step(); },
            [this](const EntryRecord &record) { return replaces(record); });
        progress.reset();
        extra_.stage(!request_.dryRun, request_.update);
        notes_.rewind();
        if (request_.dryRun) {
            lock.reset();
            request_.report ? reportAsData(merge, "would import") : reportDryRun(merge);
            return;
        }
        commit(merge);
        lock.reset();
        request_.report ? reportAsData(merge, "imported") : reportDone(merge);
    }

private:
    // The extra texts staged are listed in a journal before the card file is replaced: a run
    // killed at any point leaves the next one to finish the import or to undo it whole.
    void commit(CardMerge &merge) {
        CrashPoint("staged");
        CommitJournal journal(ctx_.folder());
        if (const QString staged = merge.stagedPath(); !staged.isEmpty())
            journal.cardFile(staged);
        extra_.record(journal);
        journal.seal();
        merge.commit();
        extra_.handOver();
        CrashPoint("replaced");
        try {
            journal.complete();
        } catch (const Exception &e) {
            throw Failure(QStringLiteral("the entries were imported, but an extra text was "
                                         "not: %1")
                              .arg(e.message()));
        }
    }

    void read(const QString &file, Progress &progress) {
        InputText input(file);
        const ContactSink sink = [&](Contact &&contact) {
            if (request_.vCardsKept)
                contact.notKept.clear();
            MappedEntry mapped = mapContact(contact);
            mapped.losses += contact.remarks;
            blankControlCharacters(mapped);
            const EntryRecord record = EntryRecord::fromFields(mapped.fields);
            batchWriter_.write(NumberedRecord{record, count_});
            const bool extra = !mapped.extraLines.isEmpty();
            names_.add(record);
            notes_.add({count_, file, contact.line, whoOf(contact, mapped),
                        std::move(mapped.losses), record});
            if (extra) {
                // The entry's identity follows the heading: its lines stay its own when another
                // person's join the same text, under the same name or not.
                if (mapped.extraLines.first().startsWith(FullNameHeading))
                    mapped.extraLines.insert(1, EntryIdLabel + EntryIdOf(FieldsOf(record)));
                extra_.add(count_,
                           ViewerExtraTextName(text::fromCp1252(record.NAME()),
                                               text::fromCp1252(record.SURNAME())),
                           mapped.extraLines);
            }
            ++count_;
            progress.step();
            return true;
        };
        const bool vCards = looksLikeVCard(input.head(4096));
        const std::optional<ParseError> error = ReadAside(
            [&](const ContactSink &read) {
                return vCards ? readVCards(input, read) : readCsv(input, request_.map, read);
            },
            sink);
        if (error)
            throw Failure(error->reason, file, error->line);
    }

    // How many entries of the card file carry each name imported; only the names imported are
    // looked at.
    void findNamesInCardFile() {
        names_.seal();
        if (!QFileInfo(ctx_.cardFile()).isFile())
            return; // a new card file
        CardEntries entries(ctx_.cardFile());
        while (const EntryRecord *record = entries.next())
            names_.countInCardFile(*record);
    }

    // With --update, the one entry of a name imported goes, unless the imported contact is that
    // very entry (nothing to replace then).
    bool replaces(const EntryRecord &record) const {
        return request_.update && names_.entriesInCardFile(record) == 1 &&
               !names_.isFirstImported(record);
    }

    // What the report says of a contact added beside, or in place of, an entry of its name.
    void remarkOnName(ContactNote &note, bool skipped) const {
        const int entries = names_.entriesInCardFile(note.record);
        if (skipped || entries == 0)
            return;
        if (request_.update && entries == 1)
            note.losses.prepend(QStringLiteral("replaces the entry of the same name"));
        else
            note.losses.prepend(QStringLiteral(
                "same name as an existing entry, added beside it; --update replaces it"));
    }

    // What the contact's record lost, with its extra-text lines when they have no file to go to.
    QStringList lossesOf(ContactNote &note) {
        QStringList losses = std::move(note.losses);
        if (const QString sharing = extra_.sharingOf(note.number); !sharing.isEmpty())
            losses.append(sharing);
        if (const auto *extra = extra_.entryOf(note.number); extra && extra->lost)
            losses.append(QStringLiteral("no extra text for this name, details lost: ") +
                          extra->lines.join(QStringLiteral("; ")));
        return losses;
    }

    QString summary(const CardMerge &merge, const char *verb) const {
        const qint64 added = count_ - merge.skippedCount();
        return QStringLiteral(
                   "%1 %2 into %3, %4 already there, %5 with details moved to extra text")
                   .arg(QLatin1String(verb), plural(added, "contact", "contacts"),
                        QFileInfo(merge.path()).fileName())
                   .arg(merge.skippedCount())
                   .arg(extra_.appendedCount()) +
               (merge.replacedCount() > 0
                    ? QStringLiteral(", %1 replaced").arg(merge.replacedCount())
                    : QString());
    }

    static QString remark(const ContactNote &note, QStringList what) {
        return QStringLiteral("%1:%2: %3: %4")
            .arg(note.file)
            .arg(note.line)
            .arg(note.who, oneLine(what.join(QStringLiteral("; "))));
    }

    void reportDone(const CardMerge &merge) {
        print(ctx_.err, QStringLiteral("meridoc-cards: %1\n").arg(summary(merge, "imported")));
        while (std::optional<ContactNote> note = notes_.next()) {
            remarkOnName(*note, merge.skipped()[std::size_t(note->number)]);
            const QStringList losses = lossesOf(*note);
            if (!losses.isEmpty())
                print(ctx_.err, QStringLiteral("meridoc-cards: %1\n").arg(remark(*note, losses)));
        }
    }

    // Entries to be stored as `list` prints them (tab-separated), and under each contact
    // indented lines (never holding a tab) for what it loses, what goes to the extra text, or
    // that it is already there.
    void reportDryRun(const CardMerge &merge) {
        while (std::optional<ContactNote> note = notes_.next()) {
            remarkOnName(*note, merge.skipped()[std::size_t(note->number)]);
            QStringList what = lossesOf(*note);
            if (merge.skipped()[std::size_t(note->number)]) {
                what.prepend(QStringLiteral("already in the card file"));
            } else {
                QStringList fields;
                for (const QByteArray &f : note->record.fields())
                    fields.append(text::fromCp1252(f));
                print(ctx_.out, fields.join('\t') + '\n');
            }
            if (!what.isEmpty())
                print(ctx_.out, QStringLiteral("  %1\n").arg(remark(*note, what)));
            if (const auto *extra = extra_.entryOf(note->number); extra && !extra->lost) {
                for (const QString &line : extra->lines)
                    print(ctx_.out, QStringLiteral("    extra text: %1\n").arg(oneLine(line)));
            }
        }
        print(ctx_.out, summary(merge, "would import") + '\n');
    }

    // The report handed to the caller as data instead: each contact, then the counts.
    void reportAsData(const CardMerge &merge, const char *verb) {
        ImportReport &report = *request_.report;
        while (std::optional<ContactNote> note = notes_.next()) {
            ReportedContact contact;
            contact.file = note->file;
            contact.line = note->line;
            contact.who = note->who;
            contact.alreadyThere = merge.skipped()[std::size_t(note->number)];
            remarkOnName(*note, contact.alreadyThere);
            contact.remarks = lossesOf(*note);
            for (const QByteArray &f : note->record.fields())
                contact.fields.append(text::fromCp1252(f));
            if (const auto *extra = extra_.entryOf(note->number); extra && !extra->lost)
                contact.extraText = extra->lines;
            if (report.contact)
                report.contact(contact);
        }
        report.summary = summary(merge, verb);
        report.contacts = count_;
        report.alreadyThere = merge.skippedCount();
        report.added = count_ - merge.skippedCount();
        report.extraTexts = extra_.appendedCount();
        report.replaced = merge.replacedCount();
    }

    const CommandContext &ctx_;
    const ImportRequest &request_;
    files::File batch_; // NumberedRecord of every contact, in input order
    RecordWriter batchWriter_;
    qint64 count_ = 0;
    NoteSpool notes_;
    ImportedNames names_;
    ExtraTextQueue extra_;
};

} // namespace

void FinishKilledRun(const CommandContext &ctx) {
    try {
        FinishInterruptedCommit(ctx.programDir, true);
    } catch (const Exception &e) {
        throw Failure(QStringLiteral("a killed run left a step that cannot be finished: %1")
                          .arg(e.message()));
    }
    files::removeStaleStagedFiles(ctx.programDir);
}

void RunImport(const CommandContext &ctx, const ImportRequest &request) {
    const QString cardPath = ctx.cardFile();
    if (IsSeedBaseName(ctx.cardBaseName))
        throw Failure(QStringLiteral("The seed card file %1 takes no entries")
                          .arg(QFileInfo(cardPath).fileName()));
    try {
        Import(ctx, request).run();
    } catch (const EInOutError &e) { // the card file, "temp.tmp" or a scratch file beside them
        throw Failure(QStringLiteral("%1: %2").arg(cardPath, e.message()));
    }
}

} // namespace meridoc::cards
