#include "commands.h"
#include "extra_text_batch.h"
#include "progress.h"

#include "data/appstate.h"
#include "data/cardmerge.h"
#include "data/entryrecord.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/files.h"
#include "data/text.h"

#include <QFile>
#include <QFileInfo>

#include <optional>
#include <sys/stat.h>
#include <vector>

namespace meridoc::cards {
namespace {

// What the report needs of one contact once its entry is made.
struct ContactNote {
    QString file; // as named on the command line
    int line = 0;
    QString who;          // the contact's name as the source gives it, when a report needs it
    QStringList losses;   // what the record could not hold
    QStringList extra;    // lines for the extra text
    bool noExtra = false; // the name cannot name an extra-text file: `extra` is lost
};

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

// The bytes of an input file: mapped when possible, read otherwise.
class InputFile {
public:
    explicit InputFile(const QString &name) : file_(name) {
        struct stat st {};
        const QByteArray path = QFile::encodeName(name);
        if (::stat(path.constData(), &st) != 0)
            throw Failure(
                QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(strerror(errno))));
        if (!S_ISREG(st.st_mode))
            throw Failure(QStringLiteral("%1: not a regular file").arg(name));
        if (!file_.open(QIODevice::ReadOnly))
            throw Failure(QStringLiteral("%1: %2").arg(name, file_.errorString()));
        if (file_.size() == 0)
            return;
        if (uchar *p = file_.map(0, file_.size())) {
            bytes_ = QByteArrayView(p, file_.size());
            return;
        }
        copy_ = file_.readAll();
        if (copy_.size() != file_.size())
            throw Failure(QStringLiteral("%1: %2").arg(name, file_.errorString()));
        bytes_ = copy_;
    }
    QByteArrayView bytes() const { return bytes_; }

private:
    QFile file_;
    QByteArray copy_;
    QByteArrayView bytes_;
};

class Import {
public:
    Import(const CommandContext &ctx, const ImportRequest &request)
        : ctx_(ctx), request_(request) {}

    void run() {
        for (const QString &file : request_.files)
            read(file);
        const QString cardPath = CardFilePath();
        try {
            files::DirectoryLock lock(AppState.ProgramDir);
            std::optional<Progress> progress(std::in_place, ctx_, qint64(records_.size()));
            CardMerge merge(records_, !request_.dryRun, [&] { progress->step(); });
            progress.reset();
            queueExtraTexts();
            extra_.stage(!request_.dryRun);
            if (request_.dryRun) {
                reportDryRun(merge);
                return;
            }
            merge.commit();
            try {
                extra_.commit();
            } catch (const Failure &f) {
                throw Failure(QStringLiteral("the entries were imported, but an extra text was "
                                             "not: %1")
                                  .arg(f.reason()));
            }
            reportDone(merge);
        } catch (const EInOutError &e) {
            throw Failure(QStringLiteral("%1: %2").arg(cardPath, e.message()));
        }
    }

private:
    void read(const QString &file) {
        const InputFile input(file);
        const ContactSink sink = [&](Contact &&contact) {
            MappedEntry mapped = mapContact(contact);
            records_.push_back(EntryRecord::fromFields(mapped.fields));
            const bool reported =
                request_.dryRun || !mapped.losses.isEmpty() || !mapped.extraLines.isEmpty();
            notes_.push_back({file, contact.line, reported ? whoOf(contact, mapped) : QString(),
                              std::move(mapped.losses), std::move(mapped.extraLines)});
            return true;
        };
        const std::optional<ParseError> error = looksLikeVCard(input.bytes())
                                                    ? readVCards(input.bytes(), sink)
                                                    : readCsv(input.bytes(), request_.map, sink);
        if (error)
            throw Failure(error->reason, file, error->line);
    }

    // The viewer's name for each entry's extra text; the details of a contact already in the
    // card file still go there (an extra text never gets the same lines twice).
    void queueExtraTexts() {
        for (std::size_t i = 0; i < notes_.size(); ++i) {
            ContactNote &note = notes_[i];
            if (note.extra.isEmpty())
                continue;
            const QString name = ViewerExtraTextName(text::fromCp1252(records_[i].NAME()),
                                                     text::fromCp1252(records_[i].SURNAME()));
            if (!extra_.add(name, note.extra)) {
                note.noExtra = true;
                note.losses.append(QStringLiteral("no extra text for this name, details lost: ") +
                                   note.extra.join(QStringLiteral("; ")));
            }
        }
    }

    QString summary(const CardMerge &merge, const char *verb) const {
        const qint64 added = qint64(records_.size()) - merge.skippedCount();
        return QStringLiteral(
                   "%1 %2 into %3, %4 already there, %5 with details moved to extra text")
            .arg(QLatin1String(verb), plural(added, "contact", "contacts"),
                 QFileInfo(merge.path()).fileName())
            .arg(merge.skippedCount())
            .arg(extra_.appendedCount());
    }

    static QString remark(const ContactNote &note, QStringList what) {
        return QStringLiteral("%1:%2: %3: %4")
            .arg(note.file)
            .arg(note.line)
            .arg(note.who, oneLine(what.join(QStringLiteral("; "))));
    }

    void reportDone(const CardMerge &merge) const {
        print(ctx_.err, QStringLiteral("meridoc-cards: %1\n").arg(summary(merge, "imported")));
        for (const ContactNote &note : notes_) {
            if (!note.losses.isEmpty())
                print(ctx_.err,
                      QStringLiteral("meridoc-cards: %1\n").arg(remark(note, note.losses)));
        }
    }

    // Entries to be stored as `list` prints them (tab-separated), and under each contact
    // indented lines (never holding a tab) for what it loses, what goes to the extra text, or
    // that it is already there.
    void reportDryRun(const CardMerge &merge) const {
        for (std::size_t i = 0; i < notes_.size(); ++i) {
            const ContactNote &note = notes_[i];
            QStringList what = note.losses;
            if (merge.skipped()[i]) {
                what.prepend(QStringLiteral("already in the card file"));
            } else {
                QStringList fields;
                for (const QByteArray &f : records_[i].fields())
                    fields.append(text::fromCp1252(f));
                print(ctx_.out, fields.join('\t') + '\n');
            }
            if (!what.isEmpty())
                print(ctx_.out, QStringLiteral("  %1\n").arg(remark(note, what)));
            if (!note.noExtra) {
                for (const QString &line : note.extra)
                    print(ctx_.out, QStringLiteral("    extra text: %1\n").arg(oneLine(line)));
            }
        }
        print(ctx_.out, summary(merge, "would import") + '\n');
    }

    const CommandContext &ctx_;
    const ImportRequest &request_;
    std::vector<EntryRecord> records_;
    std::vector<ContactNote> notes_;
    ExtraTextBatch extra_;
};

} // namespace

void RunImport(const CommandContext &ctx, const ImportRequest &request) {
    AppState.ProgramDir = ctx.programDir;
    AppState.CardExtension = ctx.extension;
    AppState.CurrentFileName = ctx.cardBaseName;
    if (CurrentFileIsSeed())
        throw Failure(QStringLiteral("The seed card file %1 takes no entries")
                          .arg(QFileInfo(CardFilePath()).fileName()));
    Import(ctx, request).run();
}

} // namespace meridoc::cards
