#include "export.h"

#include "card_entries.h"
#include "csv_writer.h"
#include "entry_contact.h"
#include "output.h"
#include "progress.h"
#include "sync.h"
#include "vcard_writer.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace meridoc::cards {
namespace {

// One distinct entry of the card file, valid while it is visited: its fields in place in the
// reader's buffer, its UID, and the person's extra text as plain text.
struct DistinctEntry {
    const EntryRecord *record = nullptr;
    FieldViews fields;
    UidText uid;
    QString extraText;
    const EntryIdTaken *taken = nullptr; // the other entries' identities

    QByteArrayView uidText() const { return QByteArrayView(uid.data(), qsizetype(uid.size())); }
    Contact contact() const { return ContactOfEntry(fields, extraText, {}, *taken); }
    void appendVCard(QByteArray &out, VCardVersion version) const {
        if (extraText.isEmpty())
            AppendEntryVCard(out, fields, uidText(), version);
        else
            AppendVCard(out, contact(), uidText(), version);
    }
};

// The UIDs already written in the current run of equal sort keys. Identical entries lie next to
// each other in a sorted card file (their sort keys are equal), so only that run is remembered.
class RunOfEqualKeys {
public:
    // True when the entry was already seen in the run; starts a new run at a new key.
    bool seen(const EntryRecord &record, const UidText &uid) {
        const SortKey key(record);
        if (!key_ || key_->length != key.length || !(*key_ == key)) {
            key_ = key;
            uids_.resize(0);
            if (!more_.isEmpty())
                more_.clear();
        }
        // UIDs are hashes: their first eight characters almost always tell two apart.
        std::uint64_t head;
        std::memcpy(&head, uid.data(), sizeof head);
        for (const UidText &other : uids_) {
            if (std::memcmp(other.data(), &head, sizeof head) == 0 && other == uid)
                return true;
        }
        if (uids_.size() < 16) { // usually a handful; more go into a hash set
            uids_.push_back(uid);
            return false;
        }
        const QByteArray text(uid.data(), qsizetype(uid.size()));
        if (more_.contains(text))
            return true;
        more_.insert(text);
        return false;
    }

private:
    std::optional<SortKey> key_;
    std::vector<UidText> uids_;
    QSet<QByteArray> more_;
};

// Streams the distinct entries of the card file with their extra texts, without allocating for
// an entry that has no extra text.
template <typename Visit> void forEachDistinct(const CommandContext &ctx, Visit &&visit) {
    CardEntries entries(ctx.cardFile());
    ExtraTexts extraTexts(ctx.folder());
    Progress progress(ctx, entries.count());
    RunOfEqualKeys run;
    DistinctEntry entry;
    // The entries' identities, read only for a text with lines of several people of one name.
    std::optional<QSet<QString>> ids;
    const EntryIdTaken taken = [&](const QString &id) {
        if (!ids) {
            ids.emplace();
            CardEntries all(ctx.cardFile());
            while (const EntryRecord *record = all.next()) {
                const UidText uid = EntryUidText(*record);
                ids->insert(QString::fromLatin1(uid.data(), qsizetype(uid.size())));
            }
        }
        return ids->contains(id);
    };
    entry.taken = &taken;
    while (const EntryRecord *record = entries.next()) {
        progress.step();
        entry.record = record;
        entry.fields = FieldsOf(*record);
        entry.uid = EntryUidText(*record);
        if (run.seen(*record, entry.uid))
            continue;
        entry.extraText =
            extraTexts.plainText(entry.fields[int(Field::NAME)], entry.fields[int(Field::SURNAME)]);
        visit(std::as_const(entry));
    }
}

} // namespace

void RunExport(const CommandContext &ctx, const ExportRequest &request) {
    if (!request.folder.isEmpty()) {
        SyncRequest sync;
        sync.folder = request.folder;
        sync.oneWay = true;
        sync.version4 = request.format == ExportFormat::VCard4;
        RunSync(ctx, sync);
        return;
    }
    const QString cardFile = QFileInfo(ctx.cardFile()).canonicalFilePath();
    if (!request.output.isEmpty() && !cardFile.isEmpty() &&
        QFileInfo(request.output).canonicalFilePath() == cardFile)
        throw Failure(QStringLiteral("the output would replace the card file it is made from"),
                      request.output);
    std::optional<Output> fileOutput;
    Output streamOutput(ctx.out);
    Output &out = request.output.isEmpty() ? streamOutput : fileOutput.emplace(request.output);
    OutputBuffer buffer(out);
    if (request.format == ExportFormat::Csv) {
        buffer.append(CsvHeader());
        forEachDistinct(
            ctx, [&](const DistinctEntry &entry) { buffer.append(CsvRow(entry.contact())); });
    } else {
        const VCardVersion version =
            request.format == ExportFormat::VCard4 ? VCardVersion::V4 : VCardVersion::V3;
        QByteArray card;
        forEachDistinct(ctx, [&](const DistinctEntry &entry) {
            card.resize(0);
            entry.appendVCard(card, version);
            buffer.append(card);
        });
    }
    buffer.flush();
    out.finish();
}

} // namespace meridoc::cards
