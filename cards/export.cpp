#include "export.h"

#include "card_entries.h"
#include "csv_writer.h"
#include "output.h"
#include "progress.h"
#include "vcard_writer.h"

#include "data/appstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <unistd.h>
#include <vector>

namespace meridoc::cards {
namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

// Streams the distinct entries of the card file with their extra texts. Identical entries lie
// next to each other in a sorted card file (their sort keys are equal), so only the UIDs of the
// current run of equal sort keys are remembered.
void forEachDistinct(const CommandContext &ctx,
                     const std::function<void(const ExportEntry &)> &visit) {
    CardEntries entries;
    ExtraTexts extraTexts;
    Progress progress(ctx, entries.count());
    std::optional<SortKey> runKey;
    std::vector<QString> runUids; // usually a handful; more go into runMore
    QSet<QString> runMore;
    ExportEntry entry;
    while (const EntryRecord *record = entries.next()) {
        progress.step();
        const SortKey key(*record);
        if (!runKey || !(*runKey == key)) {
            runKey = key;
            runUids.resize(0);
            if (!runMore.isEmpty())
                runMore.clear();
        }
        entry.fields = record->fields();
        entry.uid = EntryUid(entry.fields);
        if (std::find(runUids.begin(), runUids.end(), entry.uid) != runUids.end() ||
            runMore.contains(entry.uid))
            continue;
        if (runUids.size() < 16)
            runUids.push_back(entry.uid);
        else
            runMore.insert(entry.uid);
        entry.extraText = extraTexts.plainText(record->NAME(), record->SURNAME());
        visit(entry);
    }
}

void appendEntry(std::string &out, const ExportEntry &entry, ExportFormat format) {
    if (format == ExportFormat::Csv)
        out.append(CsvRow(entry).toStdString());
    else
        AppendVCard(out, entry,
                    format == ExportFormat::VCard4 ? VCardVersion::V4 : VCardVersion::V3);
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
    const QString cardFile = QFileInfo(CardFilePath()).canonicalFilePath();
    if (!request.output.isEmpty() && !cardFile.isEmpty() &&
        QFileInfo(request.output).canonicalFilePath() == cardFile)
        throw Failure(QStringLiteral("the output would replace the card file it is made from"),
                      request.output);
    std::optional<Output> fileOutput;
    Output streamOutput(ctx.out);
    Output &out = request.output.isEmpty() ? streamOutput : fileOutput.emplace(request.output);
    std::string chunk;
    chunk.reserve(ChunkSize + 4096);
    if (request.format == ExportFormat::Csv)
        chunk.append(CsvHeader().toStdString());
    forEachDistinct(ctx, [&](const ExportEntry &entry) {
        appendEntry(chunk, entry, request.format);
        if (chunk.size() >= ChunkSize) {
            out.write(QByteArray::fromRawData(chunk.data(), qsizetype(chunk.size())));
            chunk.clear();
        }
    });
    out.write(QByteArray::fromRawData(chunk.data(), qsizetype(chunk.size())));
    out.finish();
}

} // namespace meridoc::cards
