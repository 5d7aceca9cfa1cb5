#include "export.h"

#include "card_entries.h"
#include "csv_writer.h"
#include "output.h"
#include "progress.h"
#include "vcard_writer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <unistd.h>

namespace meridoc::cards {
namespace {

// Streams the distinct entries of the card file with their extra texts. Identical entries lie
// next to each other in a sorted card file (their sort keys are equal), so only the UIDs of the
// current run of equal sort keys are remembered.
void forEachDistinct(const CommandContext &ctx,
                     const std::function<void(const ExportEntry &)> &visit) {
    CardEntries entries;
    ExtraTexts extraTexts;
    Progress progress(ctx, entries.count());
    std::optional<SortKey> runKey;
    QSet<QString> runUids;
    ExportEntry entry;
    while (const EntryRecord *record = entries.next()) {
        progress.step();
        const SortKey key(*record);
        if (!runKey || !(*runKey == key)) {
            runKey = key;
            runUids.clear();
        }
        entry.fields = record->fields();
        entry.uid = EntryUid(entry.fields);
        if (runUids.contains(entry.uid))
            continue;
        runUids.insert(entry.uid);
        entry.extraText = extraTexts.plainText(record->NAME(), record->SURNAME());
        visit(entry);
    }
}

QByteArray write(const ExportEntry &entry, ExportFormat format) {
    switch (format) {
    case ExportFormat::VCard3:
        return WriteVCard(entry, VCardVersion::V3);
    case ExportFormat::VCard4:
        return WriteVCard(entry, VCardVersion::V4);
    case ExportFormat::Csv:
        return CsvRow(entry);
    }
    return {};
}

std::optional<QByteArray> readIfPresent(const QString &path) {
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(file.errorString(), path);
    return file.readAll();
}

QByteArray manifestBytes(QStringList names) {
    std::sort(names.begin(), names.end());
    QByteArray out("# vCards written by meridoc-cards; the others in this folder are left alone\n");
    for (const QString &name : names)
        out += name.toUtf8() + '\n';
    return out;
}

// The sync folder: one <UID>.vcf per entry, rewritten only when its bytes change; the files of
// entries that are gone removed, but only those the manifest lists as written here.
void exportFolder(const CommandContext &ctx, const ExportRequest &request) {
    QString dir = request.folder;
    if (!QDir().mkpath(dir))
        throw Failure(QStringLiteral("cannot create the folder"), dir);
    if (!dir.endsWith('/'))
        dir += '/';
    const QString manifestPath = dir + SyncManifestName;
    static const QRegularExpression ownName(QStringLiteral("^[0-9a-f-]{36}\\.vcf$"));

    QSet<QString> before;
    const std::optional<QByteArray> oldManifest = readIfPresent(manifestPath);
    if (oldManifest) {
        for (const QByteArray &line : oldManifest->split('\n')) {
            const QString name = QString::fromUtf8(line.trimmed());
            if (ownName.match(name).hasMatch())
                before.insert(name);
        }
    }

    const VCardVersion version =
        request.format == ExportFormat::VCard4 ? VCardVersion::V4 : VCardVersion::V3;
    QSet<QString> now;
    forEachDistinct(ctx, [&](const ExportEntry &entry) {
        const QString name = entry.uid + QStringLiteral(".vcf");
        now.insert(name);
        const QByteArray card = WriteVCard(entry, version);
        if (readIfPresent(dir + name) != card)
            WriteFileAtomically(dir + name, card);
    });

    const QSet<QString> gone = before - now;
    const QByteArray manifest = manifestBytes(now.values());
    if (oldManifest == manifest)
        return;
    if (!gone.isEmpty()) // list the files still to remove until they are gone
        WriteFileAtomically(manifestPath, manifestBytes((before | now).values()));
    for (const QString &name : gone) {
        if (::unlink(QFile::encodeName(dir + name).constData()) != 0 && errno != ENOENT)
            throw Failure(QStringLiteral("cannot remove the file"), dir + name);
    }
    WriteFileAtomically(manifestPath, manifest);
}

} // namespace

void RunExport(const CommandContext &ctx, const ExportRequest &request) {
    if (!request.folder.isEmpty()) {
        exportFolder(ctx, request);
        return;
    }
    std::optional<Output> fileOutput;
    Output streamOutput(ctx.out);
    Output &out = request.output.isEmpty() ? streamOutput : fileOutput.emplace(request.output);
    if (request.format == ExportFormat::Csv)
        out.write(CsvHeader());
    forEachDistinct(ctx,
                    [&](const ExportEntry &entry) { out.write(write(entry, request.format)); });
    out.finish();
}

} // namespace meridoc::cards
